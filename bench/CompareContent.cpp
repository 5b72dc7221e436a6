#include "bench/CompareContent.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "writer/ProjectWriter.h"

namespace TarnCompare {

namespace fs = std::filesystem;
namespace Writer = Tarn::VELL::Writer;

namespace {

constexpr std::uint64_t kSeed = 0x7A4E5E11C0DEull;
constexpr const char* kProject = "compare";
constexpr std::uint32_t kReleaseVersion = 0x00000001;  // 0.0.0.1
constexpr const char* kTruthHeader = "tarnvellio-compare-content 1";

// splitmix64: fast, and the same sequence on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : mState(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(((Next() >> 32) * n) >> 32); }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t mState;
};

const char* const kNames[] = {"Hero",   "Villain", "Forest", "Cave",   "Door",   "Torch", "Sword", "Shield",
                              "Potion", "Dragon",  "Castle", "River",  "Bridge", "Tower", "Ghost", "Wolf"};
const char* const kTextExtensions[] = {"txt", "xml", "lua", "ini"};
const char* const kBinaryExtensions[] = {"dds", "mesh", "anim", "bin", "wav"};
const char* const kWords[] = {"texture", "mesh",    "vertex", "index",  "shader", "sound",  "level",  "actor",
                              "material", "normal", "diffuse", "bone",  "weight", "frame",  "light",  "shadow",
                              "trigger", "spawn",   "door",   "key",    "quest",  "dialog", "player", "enemy",
                              "health",  "damage",  "speed",  "radius", "color",  "name",   "parent", "child"};

bool IsTextLike(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = path.substr(dot + 1);
    for (const char* text : kTextExtensions)
        if (extension == text) return true;
    return false;
}

// Lines of "key = value" as configuration, scripts and markup are made of.
std::string TextLike(std::size_t size, Random& random)
{
    std::string out;
    out.reserve(size + 160);
    char number[64];
    while (out.size() < size) {
        const std::uint32_t kind = random.Below(16);
        if (kind == 0) {
            out += "\n[";
            out += kWords[random.Below(32)];
            out += '_';
            out += std::to_string(random.Below(1000));
            out += "]\n";
            continue;
        }
        out.append(2 * random.Below(4), ' ');
        out += kWords[random.Below(32)];
        if (random.Below(3) == 0) {
            out += '.';
            out += kWords[random.Below(32)];
        }
        out += " = ";
        switch (kind % 4) {
            case 0: std::snprintf(number, sizeof number, "%u", random.Below(10000)); break;
            case 1:
                std::snprintf(number, sizeof number, "%.3f", random.Unit() * 200.0 - 100.0);
                break;
            case 2:
                std::snprintf(number, sizeof number, "{%.2f, %.2f, %.2f}", random.Unit() * 10, random.Unit() * 10,
                              random.Unit() * 10);
                break;
            default:
                std::snprintf(number, sizeof number, "\"%s_%s\"", kNames[random.Below(16)], kWords[random.Below(32)]);
                break;
        }
        out += number;
        out += '\n';
    }
    out.resize(size);
    return out;
}

template <class T>
void Put(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// Blocks of vertex records, index lists, sparse tables and noise (already compressed data),
// as meshes, animations, textures and sounds are made of.
std::string BinaryLike(std::size_t size, Random& random)
{
    std::string out;
    out.reserve(size + 4200);
    out += "TBIN";
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(size));
    for (int i = 0; i < 7; ++i) Put<std::uint64_t>(out, random.Next());
    float x = 0, y = 0, z = 0;
    std::uint16_t index = 0;
    static const std::uint32_t palette[] = {0xFF202020, 0xFF8080FF, 0xFFFFFFFF, 0xFF40A040,
                                            0xFFA04040, 0xFF000000, 0xFF808080, 0xFFC0C000};
    while (out.size() < size) {
        const std::uint32_t kind = random.Below(20);
        const std::size_t blockEnd = out.size() + 4096;
        if (kind < 10) {
            while (out.size() < blockEnd) {
                x += static_cast<float>(random.Below(256)) / 1024.0f - 0.125f;
                y += static_cast<float>(random.Below(256)) / 1024.0f - 0.125f;
                z += static_cast<float>(random.Below(16)) / 64.0f;
                Put(out, x);
                Put(out, y);
                Put(out, z);
                Put<std::uint16_t>(out, static_cast<std::uint16_t>(random.Below(64) * 1024));
                Put<std::uint16_t>(out, static_cast<std::uint16_t>(random.Below(64) * 1024));
                Put(out, palette[random.Below(8)]);
            }
        } else if (kind < 15) {
            while (out.size() < blockEnd) {
                index = static_cast<std::uint16_t>(index + random.Below(4));
                Put(out, index);
            }
        } else if (kind < 17) {
            while (out.size() < blockEnd) Put<std::uint64_t>(out, random.Next());
        } else {
            while (out.size() < blockEnd) {
                Put<std::uint32_t>(out, random.Below(8) == 0 ? random.Below(100000) : 0u);
            }
        }
    }
    out.resize(size);
    return out;
}

std::string Generate(std::uint32_t index, std::uint32_t size, bool textLike)
{
    Random random(kSeed ^ (0x100000001B3ull * (index + 1)));
    return textLike ? TextLike(size, random) : BinaryLike(size, random);
}

// The files of a set, without their bytes.
void Plan(ContentSet& set)
{
    const ContentParameters& p = set.parameters;
    Random random(kSeed);
    const std::uint32_t textures = p.smoke ? 100 : std::clamp<std::uint32_t>(p.smallFiles / 20, 100, 5000);
    set.enumerationDirectory = "DATA/Textures";
    set.enumerationPattern = "*.dds";
    set.enumerationMatches = 0;
    set.enumerationNameHash = 0;
    set.files.clear();
    set.files.reserve(p.smallFiles + 8);
    char path[160];
    for (std::uint32_t k = 0; k < p.smallFiles; ++k) {
        FileTruth file;
        file.small = true;
        file.size = p.tiny ? static_cast<std::uint32_t>(64.0 * std::pow(16.0, random.Unit()))
                           : static_cast<std::uint32_t>(4096.0 * std::pow(16.0, random.Unit()));
        const bool textLike = random.Below(5) < 3;
        const char* extension = textLike ? kTextExtensions[random.Below(4)] : kBinaryExtensions[random.Below(5)];
        if (k < textures) {
            const bool dds = k % 2 == 0;
            std::snprintf(path, sizeof path, "DATA/Textures/Tex_%05u.%s", k, dds ? "dds" : "png");
            if (dds) {
                ++set.enumerationMatches;
                set.enumerationNameHash += NameHash(path + std::strlen("DATA/Textures/"));
            }
        } else if (p.tiny) {
            const std::uint32_t leaf = (k - textures) % 4096;
            std::snprintf(path, sizeof path, "DATA/Zone%02u/Block%02u/Cell%02u/%s_%07u.%s", leaf / 256, leaf / 16 % 16,
                          leaf % 16, kNames[random.Below(16)], k, extension);
        } else {
            const std::uint32_t j = k - textures;
            std::snprintf(path, sizeof path, "DATA/Area%02u/Set%04u/%s_%06u.%s", j / 2000, j / 50 % 40,
                          kNames[random.Below(16)], k, extension);
        }
        file.path = path;
        file.codec = p.tiny ? Codec::Zlib : k % 97 == 5 ? Codec::Stored : k % 10 == 3 ? Codec::Lzma : Codec::Zlib;
        set.files.push_back(std::move(file));
    }
    struct Large {
        const char* path;
        std::uint32_t size;
        Codec codec;
    };
    static const Large full[] = {
        {"DATA/Movies/Exact16.bik", 16u << 20, Codec::Zlib},     {"DATA/Movies/Intro.bik", 5u << 18, Codec::Zlib},
        {"DATA/Movies/Credits.bik", 3u << 20, Codec::Lzma},      {"DATA/Sounds/Music01.ogg", 6u << 20, Codec::Stored},
        {"DATA/Sounds/Music02.ogg", 19u << 19, Codec::Zlib},     {"DATA/Levels/World.pak", 12u << 20, Codec::Zlib},
        {"DATA/Levels/Dungeon.pak", 59u << 18, Codec::Zlib}};
    static const Large smoke[] = {{"DATA/Movies/Exact1.bik", 1u << 20, Codec::Zlib}};
    set.randomReadFile = static_cast<std::uint32_t>(set.files.size());
    for (const Large& large : p.smoke ? std::vector<Large>(std::begin(smoke), std::end(smoke))
                                      : std::vector<Large>(std::begin(full), std::end(full))) {
        FileTruth file;
        file.path = large.path;
        file.size = large.size;
        file.codec = large.codec;
        set.files.push_back(std::move(file));
    }
    set.contentBytes = 0;
    for (const FileTruth& file : set.files) set.contentBytes += file.size;
}

fs::path ContentRoot(const ContentSet& set) { return set.directory / "vell" / "VELL"; }

void WriteZip(const fs::path& path, const std::vector<Writer::FileSpec>& files, const std::vector<FileTruth>& truth)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) throw std::runtime_error("zip_open failed for " + path.string());
    for (std::size_t i = 0; i < truth.size(); ++i) {
        zip_source_t* source = zip_source_buffer(archive, files[i].content.data(), files[i].content.size(), 0);
        const zip_int64_t index = source ? zip_file_add(archive, truth[i].path.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            const std::string message = zip_strerror(archive);
            zip_discard(archive);
            throw std::runtime_error("libzip could not add " + truth[i].path + ": " + message);
        }
        const bool stored = truth[i].codec == Codec::Stored;
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 stored ? 0 : 6);
        zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), 1700000000, 0);
    }
    if (zip_close(archive) != 0) {
        const std::string message = zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error("zip_close failed: " + message);
    }
}

// The first line of truth.tsv: what the set was written with.
std::string TruthHeader(const ContentParameters& parameters)
{
    std::ostringstream header;
    header << kTruthHeader << ' ' << parameters.smallFiles << ' ' << (parameters.smoke ? 1 : 0);
    if (parameters.tiny) header << " tiny";
    return header.str();
}

void WriteTruth(const ContentSet& set)
{
    const fs::path path = set.directory / "truth.tsv";
    std::ofstream out(path, std::ios::trunc);
    out << TruthHeader(set.parameters) << '\n';
    out << "deploy\t" << set.deployDirectory.string() << '\n';
    for (const FileTruth& file : set.files)
        out << file.path << '\t' << file.size << '\t' << file.crc << '\t' << CodecName(file.codec) << '\n';
    out << "end\n";
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

bool LoadTruth(ContentSet& set)
{
    std::ifstream in(set.directory / "truth.tsv");
    std::string line;
    if (!std::getline(in, line) || line != TruthHeader(set.parameters)) return false;
    if (!std::getline(in, line) || line.rfind("deploy\t", 0) != 0) return false;
    set.deployDirectory = line.substr(7);
    for (FileTruth& file : set.files) {
        if (!std::getline(in, line)) return false;
        std::istringstream fields(line);
        std::string path, codec;
        std::uint32_t size = 0, crc = 0;
        if (!std::getline(fields, path, '\t') || !(fields >> size >> crc >> codec)) return false;
        if (path != file.path || size != file.size || codec != CodecName(file.codec)) return false;
        file.crc = crc;
    }
    return std::getline(in, line) && line == "end" && fs::exists(set.zipPath) && fs::exists(set.plainCopyPath);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uint32_t ReadLe32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    if (at + 4 > bytes.size()) throw std::runtime_error("archive index too short");
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

std::string FoldCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::uint64_t NameHash(const char* name)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (; *name; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 0x100000001B3ull;
    return hash;
}

bool WildcardMatchNoCase(const char* pattern, const char* name)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

std::string FileContent(const ContentSet& set, std::uint32_t index)
{
    const FileTruth& file = set.files.at(index);
    return Generate(index, file.size, IsTextLike(file.path));
}

ContentSet PrepareContentSet(const fs::path& directory, const ContentParameters& parameters, bool reuse)
{
    ContentSet set;
    set.parameters = parameters;
    set.directory = directory;
    set.zipPath = directory / "content.zip";
    set.plainCopyPath = directory / "plain.bin";
    Plan(set);
    if (reuse && LoadTruth(set)) {
        std::cerr << "reusing the content set in " << directory.string() << "\n";
        return set;
    }

    fs::create_directories(directory);
    fs::remove(directory / "truth.tsv");
    fs::remove_all(directory / "vell");
    std::cerr << "generating " << set.files.size() << " files (" << set.contentBytes / 1000000 << " MB)..." << std::flush;
    auto start = std::chrono::steady_clock::now();
    Writer::ProjectRelease release(kProject, kReleaseVersion);
    release.SetThreadCount(0);
    for (std::uint32_t i = 0; i < set.files.size(); ++i) {
        FileTruth& file = set.files[i];
        Writer::FileSpec spec;
        spec.path = file.path;
        spec.content = FileContent(set, i);
        file.crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(spec.content.data()), static_cast<uInt>(spec.content.size())));
        spec.storage = Writer::Storage::Archived;
        spec.compression = file.codec;
        if (i == set.randomReadFile) {
            std::ofstream plain(set.plainCopyPath, std::ios::binary | std::ios::trunc);
            plain.write(spec.content.data(), static_cast<std::streamsize>(spec.content.size()));
            if (!plain) throw std::runtime_error("cannot write " + set.plainCopyPath.string());
        }
        release.Add(std::move(spec));
    }
    std::cerr << " " << SecondsSince(start) << " s\nwriting the release and the zip..." << std::flush;
    start = std::chrono::steady_clock::now();
    const std::vector<Writer::FileSpec>& specs = release.Files();
    for (std::size_t i = 0; i < specs.size(); ++i)
        if (specs[i].path != set.files[i].path) throw std::logic_error("the release reordered its files");
    std::exception_ptr zipFailure;
    std::thread zipWriter([&] {
        try {
            WriteZip(set.zipPath, specs, set.files);
        } catch (...) {
            zipFailure = std::current_exception();
        }
    });
    Writer::ProjectWriteResult written;
    std::exception_ptr releaseFailure;
    try {
        written = release.Write(ContentRoot(set));
    } catch (...) {
        releaseFailure = std::current_exception();
    }
    zipWriter.join();
    if (releaseFailure) std::rethrow_exception(releaseFailure);
    if (zipFailure) std::rethrow_exception(zipFailure);
    set.deployDirectory = written.deployDirectory;
    std::cerr << " " << SecondsSince(start) << " s\n";
    WriteTruth(set);
    return set;
}

std::vector<StoredRange> ReadStoredRanges(const ContentSet& set)
{
    std::unordered_map<std::string, StoredRange> byPath;
    const fs::path archives = ContentRoot(set) / "projects" / kProject / "filearchives";
    for (const auto& item : fs::recursive_directory_iterator(archives)) {
        if (item.path().extension() != ".olm") continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::vector<std::uint8_t> index((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Layout of an index: see reader/ArchiveFile.h.
        if (ReadLe32(index, 0) != 0x18BE0EF0 || ReadLe32(index, 4) != 1)
            throw std::runtime_error("not an archive index: " + item.path().string());
        const std::uint32_t fileList = ReadLe32(index, 12), pathList = ReadLe32(index, 16);
        const std::uint32_t entries = ReadLe32(index, fileList), paths = ReadLe32(index, pathList + 4);
        fs::path data = item.path();
        data += ".dat";
        for (std::uint32_t e = 0; e < entries; ++e) {
            const std::size_t at = fileList + 4 + 16ull * e;
            const std::uint32_t pathIndex = ReadLe32(index, at + 12);
            if (pathIndex >= paths) throw std::runtime_error("path index out of range in " + item.path().string());
            const std::size_t stringAt = pathList + static_cast<std::size_t>(ReadLe32(index, pathList + 8 + 8ull * pathIndex));
            if (stringAt >= index.size()) throw std::runtime_error("path out of range in " + item.path().string());
            const char* begin = reinterpret_cast<const char*>(index.data() + stringAt);
            const std::string path(begin, strnlen(begin, index.size() - stringAt));
            byPath[FoldCase(path)] = StoredRange{data, ReadLe32(index, at + 4), ReadLe32(index, at + 8)};
        }
    }
    std::vector<StoredRange> ranges;
    ranges.reserve(set.files.size());
    for (const FileTruth& file : set.files) {
        const auto found = byPath.find(FoldCase(file.path));
        if (found == byPath.end()) throw std::runtime_error("no archive entry for " + file.path);
        ranges.push_back(found->second);
    }
    return ranges;
}

}  // namespace TarnCompare
