// The content set of vell_compare: one set of files written twice, as a TarnVellIO project
// release (vellwriter) and as a zip archive (libzip, deflate level 6), plus what the
// comparison needs to check every answer and to run the limits on the very bytes the
// library reads.
//
// Every file's bytes follow from a fixed seed and its index, so a set written once can be
// reused (--reuse) without holding its bytes: truth.tsv beside the set keeps each file's
// path, size, CRC-32 and codec.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "writer/FileSpec.h"

namespace TarnCompare {

// How the release stores a file: the authoring library's own codecs.
using Codec = Tarn::VELL::Writer::Compression;
inline const char* CodecName(Codec codec) { return Tarn::VELL::Writer::CompressionName(codec); }

struct FileTruth {
    std::string path;  // virtual path, letter case as written
    std::uint32_t size = 0;
    std::uint32_t crc = 0;  // zlib's crc32 of the content
    Codec codec = Codec::Zlib;  // how the release stores it; in the zip: stored or deflate
    bool small = false;         // one of the small files (4-64 KiB, or 64 B-1 KiB when tiny)
};

struct ContentParameters {
    std::uint32_t smallFiles = 100000;  // the small files, the enumerated directory among them
    bool smoke = false;                 // one 1 MiB large file instead of a few of 1-16 MiB
    // Tiny files: 64 B to 1 KiB, all zlib, three directory levels below DATA (4,096 leaf
    // directories), as a release of a million small assets is laid out. Otherwise 4-64 KiB
    // files of every codec, two levels below DATA.
    bool tiny = false;
};

// Where a file's stored bytes lie in a data file of the release.
struct StoredRange {
    std::filesystem::path dataFile;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct ContentSet {
    ContentParameters parameters;
    std::filesystem::path directory;        // holds everything below
    std::filesystem::path deployDirectory;  // the release's deploy directory (for VellInitialize)
    std::filesystem::path zipPath;
    std::filesystem::path plainCopyPath;    // the random-read file as a plain file
    std::vector<FileTruth> files;
    std::uint32_t randomReadFile = 0;       // index in files: exactly 16 MiB (smoke: 1 MiB)
    std::string enumerationDirectory;       // "DATA/Textures"
    std::string enumerationPattern;         // "*.dds"
    std::uint32_t enumerationMatches = 0;   // how many of its files match the pattern
    std::uint64_t enumerationNameHash = 0;  // NameHashSum over the matching names
    std::uint64_t contentBytes = 0;
};

// Writes the set into directory (created as needed) or, with reuse, loads the one found
// there when it was written with the same parameters. Prints progress to stderr.
ContentSet PrepareContentSet(const std::filesystem::path& directory, const ContentParameters& parameters, bool reuse);

// The bytes of file index i of a set with these parameters.
std::string FileContent(const ContentSet& set, std::uint32_t index);

// The stored range of every archived file of the release, by path (ASCII case folded), read
// from the archive indexes the writer left.
std::vector<StoredRange> ReadStoredRanges(const ContentSet& set);

// An order-independent digest of a set of names: the sum of each name's FNV-1a hash.
std::uint64_t NameHash(const char* name);

// Case-insensitive (ASCII) wildcard match of '*' and '?', for the peers without one.
bool WildcardMatchNoCase(const char* pattern, const char* name);

std::string FoldCase(std::string text);

}  // namespace TarnCompare
