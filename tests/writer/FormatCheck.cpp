#include "FormatCheck.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <deque>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <lzma.h>
#include <zlib.h>

namespace WriterTest {

namespace fs = std::filesystem;

namespace {

class Cursor {
public:
    Cursor(const std::string& bytes, size_t at) : mBytes(bytes), mAt(at) {}
    uint32_t U32()
    {
        Need(4);
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(mBytes[mAt + i]);
        mAt += 4;
        return value;
    }
    std::string Bytes(size_t count)
    {
        Need(count);
        std::string out = mBytes.substr(mAt, count);
        mAt += count;
        return out;
    }
    size_t At() const { return mAt; }

private:
    void Need(size_t count) const
    {
        if (mAt > mBytes.size() || mBytes.size() - mAt < count) throw std::runtime_error("truncated data");
    }
    const std::string& mBytes;
    size_t mAt;
};

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string VersionText(uint32_t v)
{
    std::ostringstream out;
    out << (v >> 24) << '.' << ((v >> 16) & 255) << '.' << ((v >> 8) & 255) << '.' << (v & 255);
    return out.str();
}

}  // namespace

Manifest ParseManifest(const std::string& bytes)
{
    Manifest m;
    Cursor in(bytes, 0);
    m.magic = in.U32();
    m.formatVersion = in.U32();
    m.projectName = in.U32();
    m.releaseVersion = in.U32();
    const uint32_t directoryCount = in.U32();
    for (uint32_t i = 0; i < directoryCount; ++i) {
        Directory d;
        d.name = in.U32();
        d.firstSubdirectory = in.U32();
        d.subdirectoryCount = in.U32();
        d.firstFile = in.U32();
        d.fileCount = in.U32();
        m.directories.push_back(d);
    }
    const uint32_t fileCount = in.U32();
    const size_t trailing = m.formatVersion == 0x00010001 ? 12 : 4;
    for (uint32_t i = 0; i < fileCount; ++i) {
        File f;
        f.name = in.U32();
        f.version = in.U32();
        const std::string checksum = in.Bytes(16);
        std::memcpy(f.checksum.data(), checksum.data(), 16);
        f.flags = in.U32();
        f.size = in.U32();
        f.trailing = in.Bytes(trailing);
        m.files.push_back(f);
    }
    m.stringCount = in.U32();
    m.stringBytes = in.U32();
    const std::string data = in.Bytes(m.stringBytes);
    if (in.At() != bytes.size()) throw std::runtime_error("bytes after the string data");
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i] == '\0') {
            m.strings.push_back(data.substr(start, i - start));
            start = i + 1;
        }
    if (start != data.size()) throw std::runtime_error("unterminated string");
    return m;
}

std::map<std::string, File> Manifest::FilesByPath() const
{
    std::map<std::string, File> files;
    std::deque<std::pair<uint32_t, std::string>> queue{{0, ""}};
    while (!queue.empty()) {
        auto [index, prefix] = queue.front();
        queue.pop_front();
        const Directory& d = directories.at(index);
        for (uint32_t i = 0; i < d.fileCount; ++i) {
            const File& f = this->files.at(d.firstFile + i);
            if (!files.emplace(prefix + strings.at(f.name), f).second) throw std::runtime_error("file listed twice");
        }
        for (uint32_t i = 0; i < d.subdirectoryCount; ++i) {
            const uint32_t child = d.firstSubdirectory + i;
            queue.emplace_back(child, prefix + strings.at(directories.at(child).name) + "/");
        }
    }
    return files;
}

std::vector<std::string> Manifest::DirectoryPaths() const
{
    std::vector<std::string> paths(directories.size());
    for (size_t index = 0; index < directories.size(); ++index) {
        const Directory& d = directories[index];
        for (uint32_t i = 0; i < d.subdirectoryCount; ++i) {
            const uint32_t child = d.firstSubdirectory + i;
            paths.at(child) = (index == 0 ? "" : paths[index] + "/") + strings.at(directories.at(child).name);
        }
    }
    return paths;
}

ArchiveIndex ParseIndex(const std::string& bytes)
{
    ArchiveIndex index;
    Cursor header(bytes, 0);
    index.magic = header.U32();
    index.version = header.U32();
    header.U32();
    index.fileListOffset = header.U32();
    index.pathListOffset = header.U32();
    Cursor list(bytes, index.fileListOffset);
    const uint32_t count = list.U32();
    for (uint32_t i = 0; i < count; ++i) {
        IndexEntry e;
        e.hash = list.U32();
        e.offset = list.U32();
        e.size = list.U32();
        e.pathIndex = list.U32();
        index.entries.push_back(e);
    }
    Cursor paths(bytes, index.pathListOffset);
    paths.U32();
    const uint32_t pathCount = paths.U32();
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < pathCount; ++i) {
        const uint32_t offset = paths.U32();
        const uint32_t length = paths.U32();
        const size_t at = size_t{index.pathListOffset} + offset;
        const size_t end = bytes.find('\0', at);
        if (at >= bytes.size() || end == std::string::npos) throw std::runtime_error("path outside the index");
        texts.push_back(bytes.substr(at, end - at));
        if (texts.back().size() != length) throw std::runtime_error("path length field differs from the path");
    }
    for (IndexEntry& e : index.entries) e.path = texts.at(e.pathIndex);
    return index;
}

std::string Inflate(const std::string& stream, size_t originalSize)
{
    std::string out(originalSize + 1, '\0');  // one spare byte shows an over-long stream
    uLongf produced = static_cast<uLongf>(out.size());
    const int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &produced,
                                  reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size()));
    if (result != Z_OK) throw std::runtime_error("uncompress failed with " + std::to_string(result));
    out.resize(produced);
    return out;
}

std::string DecodeLzmaRecord(const std::string& record, size_t originalSize)
{
    if (record.size() < 9) throw std::runtime_error("LZMA record shorter than its header");
    const uint8_t property = static_cast<uint8_t>(record[0]);
    if (property > 40) throw std::runtime_error("bad dictionary property");
    lzma_options_lzma options{};
    options.dict_size = property == 40 ? 0xFFFFFFFFu : (2u | (property & 1u)) << (property / 2 + 11);
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK) throw std::runtime_error("lzma_raw_decoder failed");
    std::string out(originalSize + 1, '\0');
    stream.next_in = reinterpret_cast<const uint8_t*>(record.data() + 9);
    stream.avail_in = record.size() - 9;
    stream.next_out = reinterpret_cast<uint8_t*>(out.data());
    stream.avail_out = out.size();
    const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    const size_t leftover = stream.avail_in;
    out.resize(out.size() - stream.avail_out);
    lzma_end(&stream);
    if (result != LZMA_STREAM_END) throw std::runtime_error("LZMA2 stream did not end with its end marker");
    if (leftover != 0) throw std::runtime_error("bytes after the LZMA2 end marker");
    return out;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

ScratchDir::ScratchDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100 && mPath.empty(); ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("vell-writer-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) mPath = candidate;
    }
    if (mPath.empty()) throw std::runtime_error("cannot create a scratch directory");
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(mPath, ignored);
}

std::string ScratchDir::Write(const std::string& relative, const std::string& content) const
{
    const fs::path path = mPath / relative;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

std::string ReadListedFile(const fs::path& root, const std::string& project, const Manifest& manifest,
                           const std::string& path, const File& file)
{
    const fs::path projectDir = root / "projects" / project;
    if (file.flags & 0x02) {
        for (const auto& item : fs::directory_iterator(projectDir / "filearchives" / VersionText(file.version))) {
            if (item.path().extension() != ".olm") continue;
            for (const IndexEntry& e : ParseIndex(ReadBytes(item.path())).entries) {
                if (!SameNoCase(e.path, path)) continue;
                fs::path dataPath = item.path();
                dataPath += ".dat";
                const std::string stored = ReadBytes(dataPath).substr(e.offset, e.size);
                if (stored.size() != e.size) throw std::runtime_error("entry runs past its data file");
                if (!(file.flags & 0x10)) return stored;
                if (file.flags & 0x04) return Inflate(stored, file.size);
                if (file.flags & 0x20) return DecodeLzmaRecord(stored, file.size);
                return stored;
            }
        }
        throw std::runtime_error("no archive entry for " + path);
    }
    if (file.flags & 0x01) return ReadBytes(projectDir / "managedfiles" / VersionText(file.version) / path);
    return ReadBytes(projectDir / "releases" / VersionText(manifest.releaseVersion) / "deploy" / path);
}

}  // namespace WriterTest
