// Small, independent readers of the written formats, for checking the writer's output:
// a release manifest parser, an archive index parser, zlib and LZMA record decoders, and a
// lookup of a listed file's bytes the way the layout prescribes. Written from the format
// descriptions alone; failures are thrown as std::runtime_error so tests see them.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <lzma.h>
#include <zlib.h>

namespace WriterTest {

namespace fs = std::filesystem;

// Reads little-endian words and runs of bytes, throwing when the data ends first.
struct Cursor {
    const std::string& bytes;
    size_t at;
    std::string Bytes(size_t count)
    {
        if (at > bytes.size() || bytes.size() - at < count) throw std::runtime_error("truncated data");
        at += count;
        return bytes.substr(at - count, count);
    }
    uint32_t U32()
    {
        const std::string b = Bytes(4);
        return uint32_t{uint8_t(b[0])} | uint32_t{uint8_t(b[1])} << 8 | uint32_t{uint8_t(b[2])} << 16 | uint32_t{uint8_t(b[3])} << 24;
    }
};

struct Directory {
    uint32_t name, firstSubdirectory, subdirectoryCount, firstFile, fileCount;
};

struct File {
    uint32_t name, version;
    std::array<uint8_t, 16> checksum;
    uint32_t flags, size;
    std::string trailing;  // the bytes after size, which readers ignore
};

struct Manifest {
    uint32_t magic, formatVersion, projectName, releaseVersion;
    std::vector<Directory> directories;
    std::vector<File> files;
    uint32_t stringCount, stringBytes;
    std::vector<std::string> strings;

    // Every file by its path (names below the root joined by '/'), walking from the root.
    std::map<std::string, File> FilesByPath() const
    {
        std::map<std::string, File> byPath;
        for (std::deque<std::pair<uint32_t, std::string>> queue{{0, ""}}; !queue.empty(); queue.pop_front()) {
            const auto [index, prefix] = queue.front();
            const Directory& d = directories.at(index);
            for (uint32_t i = 0; i < d.fileCount; ++i) {
                const File& f = files.at(d.firstFile + i);
                if (!byPath.emplace(prefix + strings.at(f.name), f).second) throw std::runtime_error("file listed twice");
            }
            for (uint32_t child = d.firstSubdirectory; child < d.firstSubdirectory + d.subdirectoryCount; ++child)
                queue.emplace_back(child, prefix + strings.at(directories.at(child).name) + "/");
        }
        return byPath;
    }

    // Every directory in table order, a line each: its name, ':', then the names of its
    // subdirectories (with '/') and of its files, in table order.
    std::string Listing() const
    {
        std::string listing;
        for (const Directory& d : directories) {
            listing += strings.at(d.name) + ":";
            for (uint32_t i = d.firstSubdirectory; i < d.firstSubdirectory + d.subdirectoryCount; ++i)
                listing += " " + strings.at(directories.at(i).name) + "/";
            for (uint32_t i = d.firstFile; i < d.firstFile + d.fileCount; ++i) listing += " " + strings.at(files.at(i).name);
            listing += "\n";
        }
        return listing;
    }
};

inline Manifest ParseManifest(const std::string& bytes)
{
    Cursor in{bytes, 0};
    Manifest m{in.U32(), in.U32(), in.U32(), in.U32(), {}, {}, 0, 0, {}};  // magic, format, project name, release
    for (uint32_t i = 0, count = in.U32(); i < count; ++i)  // braced lists read left to right
        m.directories.push_back({in.U32(), in.U32(), in.U32(), in.U32(), in.U32()});
    const size_t trailing = m.formatVersion == 0x00010001 ? 12 : 4;
    auto checksum = [](const std::string& bytes) {
        std::array<uint8_t, 16> sum;
        std::copy(bytes.begin(), bytes.end(), sum.begin());
        return sum;
    };
    for (uint32_t i = 0, count = in.U32(); i < count; ++i)
        m.files.push_back({in.U32(), in.U32(), checksum(in.Bytes(16)), in.U32(), in.U32(), in.Bytes(trailing)});
    m.stringCount = in.U32();
    m.stringBytes = in.U32();
    const std::string data = in.Bytes(m.stringBytes);
    if (in.at != bytes.size()) throw std::runtime_error("bytes after the string data");
    if (!data.empty() && data.back() != '\0') throw std::runtime_error("unterminated string");
    for (size_t start = 0, end; start < data.size(); start = end + 1) {
        end = data.find('\0', start);
        m.strings.push_back(data.substr(start, end - start));
    }
    return m;
}

inline std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string VersionText(uint32_t v)
{
    return std::to_string(v >> 24) + '.' + std::to_string((v >> 16) & 255) + '.' + std::to_string((v >> 8) & 255) + '.' +
           std::to_string(v & 255);
}

// The manifest of project release <root>/projects/<project>/releases/<version>.
inline Manifest ReadManifest(const fs::path& root, const std::string& project, uint32_t version)
{
    return ParseManifest(ReadBytes(root / "projects" / project / "releases" / VersionText(version) / "releasemanifest"));
}

struct IndexEntry {
    uint32_t hash, offset, size, pathIndex;
    std::string path;
};

struct ArchiveIndex {
    uint32_t magic, version, fileListOffset, pathListOffset;
    std::vector<IndexEntry> entries;
};

inline ArchiveIndex ParseIndex(const std::string& bytes)
{
    Cursor header{bytes, 0};
    // magic, version, a word readers ignore, then the offsets of the file and path lists
    ArchiveIndex index{header.U32(), header.U32(), (header.U32(), header.U32()), header.U32(), {}};
    Cursor list{bytes, index.fileListOffset};
    for (uint32_t i = 0, count = list.U32(); i < count; ++i)
        index.entries.push_back({list.U32(), list.U32(), list.U32(), list.U32(), {}});
    Cursor paths{bytes, index.pathListOffset};
    paths.U32();
    std::vector<std::string> texts;
    for (uint32_t i = 0, count = paths.U32(); i < count; ++i) {
        const size_t at = size_t{index.pathListOffset} + paths.U32(), length = paths.U32();
        const size_t end = bytes.find('\0', at);
        if (at >= bytes.size() || end == std::string::npos) throw std::runtime_error("path outside the index");
        texts.push_back(bytes.substr(at, end - at));
        if (texts.back().size() != length) throw std::runtime_error("path length field differs from the path");
    }
    for (IndexEntry& e : index.entries) e.path = texts.at(e.pathIndex);
    return index;
}

// zlib's uncompress of a whole stream of known original size.
inline std::string Inflate(const std::string& stream, size_t originalSize)
{
    std::string out(originalSize + 1, '\0');  // one spare byte shows an over-long stream
    uLongf produced = static_cast<uLongf>(out.size());
    const int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &produced,
                                  reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size()));
    if (result != Z_OK) throw std::runtime_error("uncompress failed with " + std::to_string(result));
    out.resize(produced);
    return out;
}

// Decodes an LZMA record (property byte, 8 skipped bytes, raw LZMA2 stream) with liblzma's
// raw LZMA2 decoder; the stream must end with its end marker exactly at the record's end.
inline std::string DecodeLzmaRecord(const std::string& record, size_t originalSize)
{
    const uint8_t property = record.empty() ? 255 : static_cast<uint8_t>(record[0]);
    if (record.size() < 9 || property > 40) throw std::runtime_error("bad LZMA record header");
    lzma_options_lzma options{};
    options.dict_size = property == 40 ? 0xFFFFFFFFu : (2u | (property & 1u)) << (property / 2 + 11);
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(originalSize + 1, '\0');  // one spare byte shows an over-long stream
    size_t in = 9, produced = 0;
    const lzma_ret result = lzma_raw_buffer_decode(filters, nullptr, reinterpret_cast<const uint8_t*>(record.data()), &in, record.size(),
                                                   reinterpret_cast<uint8_t*>(out.data()), &produced, out.size());
    if (result != LZMA_OK) throw std::runtime_error("LZMA2 stream did not end with its end marker");
    if (in != record.size()) throw std::runtime_error("bytes after the LZMA2 end marker");
    out.resize(produced);
    return out;
}

// The bytes of a listed file of project release <root>/projects/<project>/releases/<v>:
// from the archives of its file version, its managed file or its naked file, by its flags.
inline std::string ReadListedFile(const fs::path& root, const std::string& project, const Manifest& manifest,
                                  const std::string& path, const File& file)
{
    const fs::path projectDir = root / "projects" / project;
    if (!(file.flags & 0x02))
        return ReadBytes(file.flags & 0x01 ? projectDir / "managedfiles" / VersionText(file.version) / path
                                           : projectDir / "releases" / VersionText(manifest.releaseVersion) / "deploy" / path);
    auto folded = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (const auto& item : fs::directory_iterator(projectDir / "filearchives" / VersionText(file.version))) {
        if (item.path().extension() != ".olm") continue;
        for (const IndexEntry& e : ParseIndex(ReadBytes(item.path())).entries) {
            if (folded(e.path) != folded(path)) continue;
            const std::string stored = ReadBytes(item.path().string() + ".dat").substr(e.offset, e.size);
            if (stored.size() != e.size) throw std::runtime_error("entry runs past its data file");
            if (!(file.flags & 0x10)) return stored;
            if (file.flags & 0x04) return Inflate(stored, file.size);
            return file.flags & 0x20 ? DecodeLzmaRecord(stored, file.size) : stored;
        }
    }
    throw std::runtime_error("no archive entry for " + path);
}

}  // namespace WriterTest
