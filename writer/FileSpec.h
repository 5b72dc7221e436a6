// What one file of a project release is: its path, its bytes, where and how they are stored.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "writer/Checksum.h"

namespace Tarn::VELL::Writer {

// Where a file's content lives.
enum class Storage {
    Archived,  // an entry of an archive of the file's version (projects/<p>/filearchives/<v>/)
    Managed,   // the loose file projects/<p>/managedfiles/<v>/<path>
    Naked,     // the loose file projects/<p>/releases/<release>/deploy/<path>
};

// How an archived file's bytes are encoded; loose files are always written as they are.
enum class Compression { Stored, Zlib, Lzma };

struct FileSpec {
    std::string path;     // within the release, '/'-separated, e.g. "DATA/Characters/x.dds"
    std::string content;  // the file's bytes (unless sourceFile is set)
    Storage storage = Storage::Archived;
    Compression compression = Compression::Zlib;
    std::optional<uint32_t> version;       // the file version; default: the release version
    std::optional<uint32_t> flags;         // replaces the flags word written to the manifest
    std::optional<uint32_t> manifestSize;  // replaces the size written to the manifest
    std::optional<Md5Digest> checksum;     // written to the manifest; default: the content's MD5
    // When not empty, the bytes are read from this file while the release is written, so a
    // large tree need not be held in memory; content is then ignored.
    std::filesystem::path sourceFile;
};

// The manifest flags of a storage kind and compression: Archived 0x02 (plus 0x14 for zlib,
// 0x30 for LZMA), Managed 0x01, Naked 0. The compression of loose files plays no part.
uint32_t ManifestFlagsFor(Storage storage, Compression compression);

const char* StorageName(Storage storage);          // "archived", "managed", "naked"
const char* CompressionName(Compression compression);  // "stored", "zlib", "lzma"

}  // namespace Tarn::VELL::Writer
