// An archive index ("X.olm"): the list of files stored in its data file ("X.olm.dat"), each
// with a hash of its path, its byte range in the data file and its path.
//
// Index layout (all fields unsigned 32-bit little-endian; offsets from the start of the file):
//   header at 0:           magic 0x18BE0EF0, version 1, (any), fileListOffset, pathListOffset
//   file list:             entryCount, then entryCount entries of 16 bytes:
//                          pathHash, dataOffset, dataSize, pathIndex
//   path list:             (any), pathCount, then pathCount records of 8 bytes:
//                          stringOffset (from the start of the path list), (length, unused)
//   paths:                 NUL-terminated, at pathListOffset + stringOffset
// Entries are sorted by (pathHash, path compared ignoring ASCII case); lookups rely on it.
//
// An index whose tables or paths do not lie inside the file is unusable content, reported
// like a wrong magic value or version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/FileReads.h"
#include "reader/Formats.h"

namespace Tarn::VELL::Reader {

class ArchiveFile {
public:
    struct Entry {
        std::uint32_t pathHash;
        std::uint32_t dataOffset;
        std::uint32_t dataSize;
        std::uint32_t pathIndex;
    };

    // Names the index file; reads nothing.
    explicit ArchiveFile(std::string filename);
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // Reads and checks the index. *invalid (when given) becomes true only when the content is
    // unusable (wrong magic or version, tables outside the file); it stays as it was when
    // the file could not be read at all.
    bool Read(bool* invalid);

    // Looks a path up (ASCII case ignored, nothing else changed); stores the entry's range.
    bool Search(const char* path, std::uint32_t* dataOffset, std::uint32_t* dataSize) const;
    // The entry trace of a search for path (for lookups that answer for Search).
    void TraceSearch(const char* path) const;

    // ELF hash of the path's bytes taken as signed characters, 'A'-'Z' folded to 'a'-'z'.
    static std::uint32_t HashArchivePath(const char* path);

    const std::string& Filename() const { return mFilename; }
    // The sum of every entry's size (64-bit, so that no total wraps to 0).
    std::uint64_t TotalDataSize() const { return mTotalDataSize; }
    std::uint32_t Version() const;
    std::uint32_t EntryCount() const { return mEntryCount; }
    Entry GetEntry(std::uint32_t index) const;
    std::uint32_t EntryHash(std::uint32_t index) const;
    // The entry's path, or null when its path index lies outside the path list.
    const char* EntryPath(std::uint32_t index) const;
    // The index as read (paths lie inside it), and where an entry's record lies in it.
    const std::uint8_t* IndexBytes() const { return mIndex.data(); }
    std::size_t EntryOffset(std::uint32_t index) const { return mEntriesAt + std::size_t{16} * index; }

private:
    bool CheckTables();
    std::uint32_t PathOffset(std::uint32_t pathIndex) const;

    std::string mFilename;
    ByteBuffer mIndex;
    std::uint32_t mEntryCount = 0;
    std::uint32_t mEntriesAt = 0;
    std::uint32_t mPathListAt = 0;
    std::uint32_t mPathCount = 0;
    std::uint64_t mTotalDataSize = 0;
};

}  // namespace Tarn::VELL::Reader
