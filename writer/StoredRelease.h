// What an existing project release lists: its manifest read back, for a patch release that
// keeps the files an earlier release already stored, and for the check that replacing a
// release leaves the content other releases read untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "writer/Checksum.h"

namespace Tarn::VELL::Writer {

struct StoredFile {
    std::string path;  // within the release, '/'-separated, as the manifest spells it
    uint32_t version = 0;
    Md5Digest checksum{};
    uint32_t flags = 0;
    uint32_t size = 0;
};

struct StoredRelease {
    std::string project;
    uint32_t version = 0;
    uint32_t formatVersion = 0;
    std::vector<StoredFile> files;  // walked from the root, breadth-first
};

// Reads a release manifest. Throws IoError when the file cannot be read or does not hold a
// well-formed manifest (every table range, string index and name checked; every entry reached
// once from the root).
StoredRelease ReadStoredRelease(const std::filesystem::path& manifestPath);

// True when the flags say the content lives outside the release's own deploy directory:
// in an archive or as a managed file under the file's version.
bool StoredUnderVersion(uint32_t flags);

}  // namespace Tarn::VELL::Writer
