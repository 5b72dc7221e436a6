// The archive index file (".olm"). Its data file (the index path + ".dat") holds the
// entries' stored bytes back to back and has no structure of its own.
//
// Index layout, all fields 32-bit little-endian:
//   header (20 bytes)  magic 0x18BE0EF0, version 1, an unused word (0), fileListOffset,
//                      pathListOffset (offsets from the start of the file)
//   file list          entryCount, then entryCount 16-byte entries:
//                      pathHash, dataOffset, dataSize, pathIndex
//   path list          an unused word (0), pathCount, then pathCount 8-byte records:
//                      stringOffset (from the start of the path list), length (without NUL)
//   strings            the NUL-terminated paths
// Entries are sorted by HashArchivePath of their path, then by CompareNoCase of the paths;
// readers binary-search them in that order.
// The format is described in docs/formats.md. The writer keeps its own constants rather than
// the reader's reader/Formats.h: it is an independent implementation, so that the tests can
// check one against the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tarn::VELL::Writer {

constexpr uint32_t kArchiveMagic = 0x18BE0EF0;
constexpr uint32_t kArchiveVersion = 1;
constexpr uint32_t kArchiveHeaderSize = 20;
constexpr uint32_t kArchiveEntrySize = 16;
constexpr uint32_t kArchivePathRecordSize = 8;

// One stored file: its path within the release (e.g. "DATA/Characters/x.dds") and the byte
// range in the data file.
struct IndexEntry {
    std::string path;
    uint32_t dataOffset = 0;
    uint32_t dataSize = 0;
};

// The index bytes for the entries, in any order given: they are sorted (stably, so entries
// that compare equal keep their given order) and hashed here; paths are listed in entry
// order. Throws std::length_error if the index would not fit 32-bit offsets.
std::string BuildArchiveIndex(const std::vector<IndexEntry>& entries);

}  // namespace Tarn::VELL::Writer
