// The in-memory form of one project release: its tree of directories and files, a hash
// table that finds any entry by its path, and for every file a storage record that says
// where its content is (an archive entry, a managed file or a naked file).
//
// Everything a listing holds lives in one block that it owns, region after region:
//   header (project name, release version)      counts (directories, files, buckets, slots)
//   owner (this listing)
//   directory records    file records           storage counts
//   archive entries      managed files          naked files
//   data files (the handle and path of each archive data file)
//   the lookup table's slots (from a cache line's start: two slots to a line)
//   texts (each directory's index, its parent's text and its name; then the file names,
//          siblings together in order, which the file records point at)
//   strings (the project name, the data files' paths)
// Links inside the block are plain pointers or offsets; a listing does not refer to its
// manifest. Only what later calls use is kept: a manifest's checksums are not.
//
// The lookup table holds K = n - n/8 buckets for n entries: an entry goes to bucket (its
// bucket hash mod K). The buckets lie one after another in slots an eighth more than the
// entries, each bucket starting at its home slot (spread evenly over the table) or right after
// the bucket before it, whichever is later, so a lookup reads from the home slot on and
// mostly touches one cache line. A slot of 32 bytes keeps what matching a path needs: the
// entry's hash, index, parent directory (its text) and, when it fits, a copy of its name;
// directories' texts are few and lie together. A lookup so reads one line of the table and
// the texts of the parents (read by every lookup, so at hand), and no directory or file
// record. An enumeration reads the names where siblings lie together, not the slots.
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
class ZlibInflater;

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
        std::uint32_t version;  // under which the content is stored
        std::uint32_t size;     // uncompressed
        void* storage;          // its ArchiveFile or FileInfo record; null when missing
    };

    // An archive data file: opened once while the listing was built, shared by all its entries.
    struct DataFile {
        Win32::HANDLE handle;
        const char* path;
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

    // The decompressed content of an open archive entry: nothing while the entry is closed.
    class EntryContent {
    public:
        EntryContent() = default;
        ~EntryContent() { Clear(); }
        EntryContent(const EntryContent&) = delete;
        EntryContent& operator=(const EntryContent&) = delete;

        // Decodes (or reads) the entry into blocks of kArchiveBlockSize; false (empty) on failure.
        bool Load(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offset, std::uint32_t storedSize,
                  std::uint32_t uncompressedSize, ZlibInflater* inflater);
        void Clear();
        std::uint32_t CopyOut(void* destination, std::uint32_t offset, std::uint32_t count) const;
        std::uint32_t BlockCount() const;
        std::uint32_t TotalSize() const;

    private:
        UncompressedBlocks* mBlocks = nullptr;
    };

    // The storage of an archived file: a range of a shared, overlapped archive data file and,
    // while a compressed entry is open, its whole decompressed content.
    struct ArchiveFile {
        std::uint32_t refCount;
        std::uint32_t offset;       // of the entry in its data file
        std::uint32_t archiveSize;  // the bytes the entry takes there
        std::uint32_t source;       // the data file's number (DataFiles()) and the codec, packed
        EntryContent blocks;

        static std::uint32_t Pack(std::uint32_t dataFile, std::uint32_t compressionId);
        std::uint32_t DataFileIndex() const { return source >> 2; }
        // 'NONE', 'ZLIB' or 'LZMA'.
        std::uint32_t CompressionId() const;

        bool Open(const FileRecord& entry, const DataFile& data, ZlibInflater* inflater);
        // Stored entries are read from the data file, clipped to the entry; compressed ones are
        // copied from their blocks.
        bool Read(const DataFile& data, std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead,
                  void* buffer) const;
        void LogFailure(const FileRecord& entry, const DataFile& data) const;
        void LogCompressedData(const DataFile& data) const;
        void LogArchiveInfo(const FileRecord& entry, const DataFile& data) const;
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

    // The lookup table's hash of a path, ASCII letters folded to lower case.
    static std::uint32_t BucketHash(const char* path, std::size_t length);
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
    // The data file an archive entry lies in.
    const DataFile& DataFileOf(const ArchiveFile& entry) const { return mViews.dataFiles[entry.DataFileIndex()]; }
    std::uint32_t DataFileCount() const;
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
        std::uint32_t bucketCount;  // K
        std::uint32_t slotCount;    // the table's slots, the empty one that ends it included
        std::uint64_t bucketFactor; // for the remainder by K (Lemire's fastmod)
        std::uint64_t homeFactor;   // places bucket b's home slot (BucketHome)
    };
    // A slot of the lookup table. Two share a cache line.
    struct Slot {
        std::uint32_t hash;
        std::uint32_t entry;   // the entry's index (| kNameElsewhere); kEmptySlot in an empty slot
        std::uint32_t parent;  // the offset of the parent directory's text; kNoText for the root
        char name[20];         // the name and its terminator, or (kNameElsewhere) the offset of the name in the texts
    };
    static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;
    static constexpr std::uint32_t kNameElsewhere = 0x80000000u;
    static constexpr std::uint32_t kNoText = 0xFFFFFFFFu;
    static constexpr std::size_t kInlineName = sizeof(Slot::name) - 1;  // the longest name a slot holds
    // A directory's text: its index and the offset of its parent's text (kNoText for the
    // root), each 32 bits in native order, then its name and a terminating zero; texts follow
    // each other without padding.
    static constexpr std::uint32_t kTextHeader = 8;
    // Whether the path names the entry of the slot.
    bool SlotMatches(const Slot& slot, const char* path, std::size_t length) const;
    struct StorageCounts {
        std::uint32_t archived;
        std::uint32_t managed;
        std::uint32_t naked;
        std::uint32_t dataFiles;
    };
    struct Views {
        Header* header;
        Counts* counts;
        Slot* slots;
        DirectoryRecord* directories;
        FileRecord* files;
        StorageCounts* storageCounts;
        ArchiveFile* archiveFiles;
        FileInfo* managedFiles;
        FileInfo* nakedFiles;
        DataFile* dataFiles;
        char* texts;
    };
    // Where each region of the block begins, in this order, each aligned for any record (the
    // slots on a cache line); the texts and the strings follow as plain bytes.
    struct Layout {
        std::uint64_t header, counts, owner, directories, files, storageCounts, archiveFiles, managedFiles, nakedFiles,
            dataFiles, slots, texts, strings, total;
        static Layout Plan(std::uint64_t slotCount, std::uint32_t directoryCount, std::uint32_t fileCount,
                           const StorageCounts& storage, std::uint64_t textBytes, std::uint64_t stringBytes);
        Views ViewsAt(std::uint8_t* base) const;
    };

    // The table's arithmetic, shared by the build and the lookups.
    static std::uint64_t BucketFactor(std::uint32_t bucketCount);
    static std::uint64_t HomeFactor(std::uint64_t slotsWithoutOverflow, std::uint32_t bucketCount);
    static std::uint32_t BucketOf(std::uint32_t hash, std::uint64_t bucketFactor, std::uint32_t bucketCount);
    static std::uint64_t BucketHome(std::uint32_t bucket, std::uint64_t homeFactor);

    // Inflate state kept between opens of this listing's zlib entries (opens hold the lock).
    std::unique_ptr<ZlibInflater> mInflater;
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
