// The files of a source directory and the rules that decide how each is packed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "writer/FileSpec.h"

namespace VellPack {

struct SourceFile {
    std::string relativePath;  // '/'-separated, relative to the source directory
    std::filesystem::path path;
    uint64_t size = 0;
};

struct SourceTree {
    std::vector<SourceFile> files;
    std::vector<std::string> emptyDirectories;  // relative, '/'-separated
    std::vector<std::string> skipped;           // why an entry was left out, one line each
};

// Every regular file below directory (symbolic links followed for files, not for
// directories), in the order the file system lists them. Anything else (a FIFO, a socket, a
// device, a symbolic link to a directory or to nothing) is left out and noted in skipped: a
// layout holds regular files only. Throws IoError when the directory or a subdirectory cannot
// be listed, and when a name cannot be a path component of a layout (see
// Writer::PathComponentProblem: readers would refuse the release), naming the entry.
SourceTree ScanSourceTree(const std::filesystem::path& directory);

// How each file is stored: the first --naked pattern that matches makes it naked, else the
// first --managed pattern managed, else archived. Archived files use the codec of their
// extension (compared without regard to ASCII case), else the default codec; files smaller
// than storeBelow bytes are stored as they are.
struct PackRules {
    Tarn::VELL::Writer::Compression defaultCompression = Tarn::VELL::Writer::Compression::Zlib;
    std::map<std::string, Tarn::VELL::Writer::Compression> byExtension;  // keys folded, without the dot
    uint64_t storeBelow = 0;
    std::vector<std::string> managedPatterns;
    std::vector<std::string> nakedPatterns;

    Tarn::VELL::Writer::FileSpec Describe(const SourceFile& file) const;
};

// "zlib", "lzma" or "none"/"stored".
std::optional<Tarn::VELL::Writer::Compression> ParseCodec(const std::string& text);

}  // namespace VellPack
