// Small, independent readers of the written formats, for checking the writer's output:
// a release manifest parser, an archive index parser, zlib and LZMA record decoders, and a
// lookup of a listed file's bytes the way the layout prescribes. Written from the format
// descriptions alone; failures are thrown as std::runtime_error so tests see them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace WriterTest {

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
    std::map<std::string, File> FilesByPath() const;
    // Every directory path below the root, in table order of its record.
    std::vector<std::string> DirectoryPaths() const;
};

Manifest ParseManifest(const std::string& bytes);

struct IndexEntry {
    uint32_t hash, offset, size, pathIndex;
    std::string path;
};

struct ArchiveIndex {
    uint32_t magic, version, fileListOffset, pathListOffset;
    std::vector<IndexEntry> entries;
};

ArchiveIndex ParseIndex(const std::string& bytes);

// zlib's uncompress of a whole stream of known original size.
std::string Inflate(const std::string& stream, size_t originalSize);
// Decodes an LZMA record (property byte, 8 skipped bytes, raw LZMA2 stream) with liblzma's
// raw LZMA2 decoder; the stream must end with its end marker exactly at the record's end.
std::string DecodeLzmaRecord(const std::string& record, size_t originalSize);

// The bytes of a listed file of project release <root>/projects/<project>/releases/<v>:
// from the archives of its file version, its managed file or its naked file, by its flags.
std::string ReadListedFile(const std::filesystem::path& root, const std::string& project, const Manifest& manifest,
                           const std::string& path, const File& file);

std::string ReadBytes(const std::filesystem::path& path);

// A fresh directory for one test, removed with its content at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return mPath; }
    std::string operator/(const std::string& relative) const { return (mPath / relative).string(); }
    // Writes a file, creating its directories; returns its path.
    std::string Write(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path mPath;
};

}  // namespace WriterTest
