// The in-memory form of one project release: its tree of directories and files, a hash
// table that finds any entry by its path, and for every file a storage record that says
// where its content is (an archive entry, a managed file or a naked file).
//
// Everything a listing holds lives in one block that it owns, region after region:
//   1 header (project name, release version)   2 counts (directories, files, buckets)
//   3 buckets (first slot, entry count)         4 slots (entries grouped by bucket, each
//                                                  with its path hash)
//   5 owner (this listing)                      6 directory records   7 file records
//   8 storage counts                            9 archive entries    10 managed files
//  11 naked files                              12 the manifest's strings
//  13 the paths of the archive data files
// Links inside the block are plain pointers; a listing does not refer to its manifest.
//
// The shape never changes after construction and may be read by any thread. Opening and
// closing files take the listing's lock; reading does not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CStd/CheckedMutex.h"
#include "CStd/HResult.h"
#include "platform/Win32.h"
#include "reader/UncompressedBlocks.h"

namespace Tarn::VELL::Reader {

// Compression identifiers: four-character codes whose bytes spell the name in memory.
constexpr std::uint32_t kCompressionNone = 0x454E4F4E;  // "NONE"
constexpr std::uint32_t kCompressionZlib = 0x42494C5A;  // "ZLIB"
constexpr std::uint32_t kCompressionLzma = 0x414D5A4C;  // "LZMA"

// The kinds of loose-file path below a project directory.
constexpr std::uint32_t kFileTypeArchiveData = 0;  // projectRoot/filearchives/<file version>/<name>
constexpr std::uint32_t kFileTypeManaged = 1;      // projectRoot/managedfiles/<file version>/<name>
constexpr std::uint32_t kFileTypeNaked = 2;        // projectRoot/releases/<release version>/deploy/<name>

// The block size of decompressed archive entries.
constexpr std::uint32_t kArchiveBlockSize = 0x40000;

template <typename Entry>
class ReleaseManifestTemplate;

class ProjectListing {
public:
    struct DirectoryRecord;
    struct FileRecord;

    // What every entry begins with; all that the path processors read.
    struct EntryHeader {
        const char* name;
        DirectoryRecord* parent;  // null for the root
    };

    struct DirectoryRecord : EntryHeader {
        DirectoryRecord* firstSubdirectory;  // null when subdirectoryCount is 0
        std::uint32_t subdirectoryCount;
        FileRecord* firstFile;
        std::uint32_t fileCount;
    };

    struct FileRecord : EntryHeader {
        std::uint8_t checksum[16];
        std::uint32_t version;  // under which the content is stored
        std::uint32_t size;     // uncompressed
        void* storage;          // its ArchiveFile or FileInfo record; null when missing
    };

    // The storage of a loose (managed or naked) file: opened once, shared by every open.
    struct FileInfo {
        std::uint32_t refCount;
        Win32::HANDLE handle;

        bool OpenNaked(ProjectListing& listing, std::uint32_t releaseVersion, const FileRecord& entry);
        bool OpenManaged(ProjectListing& listing, const FileRecord& entry);
        bool Read(std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead, void* buffer) const;
        // Undoes one open; true when the count reached 0.
        bool RemoveReference();
        void Close();
        void Reset();

    private:
        bool OpenLoose(ProjectListing& listing, std::uint32_t fileType, std::uint32_t releaseVersion, const FileRecord& entry);
    };

    // The storage of an archived file: a range of a shared, overlapped archive data file and,
    // while a compressed entry is open, its whole decompressed content.
    struct ArchiveFile : FileInfo {
        const char* archivePath;
        std::uint32_t offset;
        std::uint32_t compressionId;
        std::uint32_t archiveSize;
        UncompressedBlocks blocks{kArchiveBlockSize};

        bool Open(const FileRecord& entry);
        // Stored entries are read from the data file, clipped to the entry; compressed ones are
        // copied from their blocks.
        bool Read(std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead, void* buffer) const;
        void LogFailure(const FileRecord& entry) const;
        void LogCompressedData() const;
        void LogArchiveInfo(const FileRecord& entry) const;
    };

    // A visitor of the names on an entry's way up to the root.
    class PathProcessor {
    public:
        // true to go on to the entry's parent.
        virtual bool Process(const EntryHeader* entry) = 0;

    protected:
        ~PathProcessor() = default;
    };

    ~ProjectListing();
    ProjectListing(const ProjectListing&) = delete;
    ProjectListing& operator=(const ProjectListing&) = delete;

    // Joins rootDir, "projects" and projectName into out (kMaxPath characters).
    static bool GetProjectRoot(char* out, const char* rootDir, const char* projectName);
    // Builds a loose-file path (see the kinds above) into out (kMaxPath characters).
    static bool GetNakedFile(char* out, std::uint32_t fileType, const char* projectRoot, std::uint32_t releaseVersion,
                             std::uint32_t fileVersion, const char* name);
    // Opens a loose file for overlapped reading; null (after logging) on failure.
    static Win32::HANDLE OpenNakedFile(std::uint32_t fileType, const char* projectRoot, std::uint32_t releaseVersion,
                                       std::uint32_t fileVersion, const char* name);

    // FNV-1 hash of a path, ASCII letters folded to lower case.
    static std::uint32_t HashPath(const char* path);
    static std::uint32_t HashPath(const char* path, std::size_t length);
    // The directory or file whose path matches (ASCII case ignored), or null. Allocates
    // nothing; the hash (and length) may be given when several listings are asked.
    const EntryHeader* Lookup(const char* path) const;
    const EntryHeader* Lookup(const char* path, std::uint32_t hash) const;
    const EntryHeader* Lookup(const char* path, std::size_t length, std::uint32_t hash) const;

    // File operations (the lock is taken by Open and RemoveReference).
    bool Open(const EntryHeader* entry);
    bool Read(const EntryHeader* entry, std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead, void* buffer);
    void RemoveReference(const EntryHeader* entry);

    // Entry kinds and sizes.
    bool IsDirectory(const EntryHeader* entry) const;  // the root included
    bool IsFile(const EntryHeader* entry) const;
    // 0 for directories, the file's size otherwise.
    std::uint32_t EntrySize(const EntryHeader* entry) const;

    const char* ProjectName() const;
    std::uint32_t ReleaseVersion() const;
    const char* ProjectRoot() const { return mProjectRoot.c_str(); }
    std::uint32_t DirectoryCount() const;
    std::uint32_t FileCount() const;
    std::uint32_t BucketCount() const;
    // Directory 0 is the root; null when the release has no directory.
    const DirectoryRecord* Directory(std::uint32_t index) const;
    const FileRecord* File(std::uint32_t index) const;
    const DirectoryRecord* Root() const { return Directory(0); }

    // The record of entry index i (directories first, then files).
    const EntryHeader* EntryAt(std::uint32_t index) const;

    // Storage kinds, told from the record's address.
    ArchiveFile* AsArchiveFile(void* storage) const;
    FileInfo* AsManagedFile(void* storage) const;
    FileInfo* AsNakedFile(void* storage) const;
    std::uint32_t ArchivedCount() const;
    std::uint32_t ManagedCount() const;
    std::uint32_t NakedCount() const;
    // The size of the block, for measurements.
    std::size_t BlockSize() const { return mBlockSize; }

private:
    template <typename Entry>
    friend class ReleaseManifestTemplate;
    struct Views;

    ProjectListing(std::string projectRoot, std::unique_ptr<std::uint8_t[]> block, std::size_t blockSize, const Views& views);
    void TearDownStorage();

    struct Header {
        const char* projectName;
        std::uint32_t releaseVersion;
    };
    struct Counts {
        std::uint32_t directoryCount;
        std::uint32_t fileCount;
        std::uint32_t bucketCount;
    };
    // Buckets and slots hold 32-bit indexes rather than pointers: half the size, and a slot
    // keeps its entry's hash beside it, so a lookup passes over the entries of other hashes in
    // its bucket without touching them.
    struct Bucket {
        std::uint32_t firstSlot;  // index of the bucket's first slot
        std::uint32_t count;      // 0 when empty
    };
    struct Slot {
        std::uint32_t entry;  // entry index: directories 0 to D-1, then files
        std::uint32_t hash;
    };
    struct StorageCounts {
        std::uint32_t archived;
        std::uint32_t managed;
        std::uint32_t naked;
    };
    struct Views {
        Header* header;
        Counts* counts;
        Bucket* buckets;
        Slot* slots;
        DirectoryRecord* directories;
        FileRecord* files;
        StorageCounts* storageCounts;
        ArchiveFile* archiveFiles;
        FileInfo* managedFiles;
        FileInfo* nakedFiles;
    };
    // Where each region of the block begins, in this order, each aligned for any record; the
    // listing's own address (owner) sits between the slots and the directory records; the
    // strings and the data file paths follow as plain bytes.
    struct Layout {
        std::uint64_t header, counts, buckets, slots, owner, directories, files, storageCounts, archiveFiles, managedFiles,
            nakedFiles, strings, paths, total;
        static Layout Plan(std::uint64_t bucketCount, std::uint32_t directoryCount, std::uint32_t fileCount,
                           const StorageCounts& storage, std::uint64_t stringBytes, std::uint64_t pathBytes);
        Views ViewsAt(std::uint8_t* base) const;
    };

    std::string mProjectRoot;
    std::unique_ptr<std::uint8_t[]> mBlock;
    std::size_t mBlockSize;
    CheckedMutex mLock{false};
    Views mViews;
};

// Walks from entry towards the root: the entry, then each ancestor whose own parent is not
// null (so the root is visited only when the walk starts at it), until Process says stop.
void WalkPath(const ProjectListing::EntryHeader* entry, ProjectListing::PathProcessor& processor);

// The entry's path (names below the root joined by '/') into buffer (kMaxPath characters);
// false, leaving the buffer as it was, when it does not fit.
bool GetEntryPath(const ProjectListing::EntryHeader* entry, char* buffer);
// The same as a string; empty when it does not fit.
std::string GetEntryPathString(const ProjectListing::EntryHeader* entry);
// Whether path names entry: the same components ignoring ASCII case, '/' between them,
// optionally one leading '/'.
bool PathMatches(const ProjectListing::EntryHeader* entry, const char* path);
bool PathMatches(const ProjectListing::EntryHeader* entry, const char* path, std::size_t length);

}  // namespace Tarn::VELL::Reader
