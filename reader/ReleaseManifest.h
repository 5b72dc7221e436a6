// The binary release manifest of one project release: every directory and file of the
// release, each file's size, the release version under which its content is stored and its
// storage flags.
//
// Layout (docs/formats.md; all fields unsigned 32-bit little-endian, no gaps):
//   0  magic 0x4D534C52 ("RLSM")       4  format version (0x00010001 or 0x00010002)
//   8  project name (string index)     12 release version (packed)
//   16 directory count D, then D directory records of 20 bytes
//      (name, firstSubdirectory, subdirectoryCount, firstFile, fileCount)
//   then the file count F and F file records (36 bytes in format 0x00010002, 44 bytes in
//      0x00010001): name, version, 16 checksum bytes, flags, size, trailing fields
//   then the string count (a capacity hint), the string data size B and B bytes of
//      NUL-terminated strings; string i is the i-th of them.
// Directory 0 is the root; the children of a directory are contiguous in their tables.
//
// The file is read whole into one buffer that the manifest owns, and the tables are used in
// place. On load the sibling lists are sorted into ascending name order ignoring ASCII case.
// A manifest whose tables do not fit its file, whose names point outside the string table,
// whose ranges leave their tables, or whose directories and files do not form a tree below
// the root (an entry claimed twice, the root claimed as a child) is invalid. Entries that
// the tree does not reach are kept; they get no storage in a listing.
//
// Names become parts of disk paths (the project name chooses the project directory, the
// directory and file names the loose files' paths), so every one of them must be a plain path
// component (IsPlainPathComponent): a manifest holding any other project, directory or file
// name is invalid too. The root directory's own name is no part of any path and may be
// anything, empty included.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/ArchiveBinding.h"
#include "reader/FileReads.h"
#include "reader/Formats.h"

namespace Tarn::VELL::Reader {

class ArchiveManager;
class ProjectListing;

// The binding's mark of a file whose content was not found.
constexpr std::uint32_t kFlagsMissing = 0xFFFFFFFFu;

// The two file-record layouts; they differ only in their trailing fields.
struct FileTableEntry {
    static constexpr std::uint32_t kSize = 36;
    static constexpr const char* kTypeName = "struct Tarn::VELL::Reader::FileTableEntry";
};
struct FileTableEntryV0 {
    static constexpr std::uint32_t kSize = 44;
    static constexpr const char* kTypeName = "struct Tarn::VELL::Reader::FileTableEntryV0";
};

// A directory record, decoded.
struct ManifestDirectory {
    std::uint32_t name;
    std::uint32_t firstSubdirectory;
    std::uint32_t subdirectoryCount;
    std::uint32_t firstFile;
    std::uint32_t fileCount;
};

// A file record, decoded (the fields this library uses).
struct ManifestFile {
    std::uint32_t name;
    std::uint32_t version;
    std::array<std::uint8_t, 16> checksum;
    std::uint32_t flags;
    std::uint32_t size;
};

class ReleaseManifest {
public:
    virtual ~ReleaseManifest() = default;
    // True when the object holds a file that passed every check.
    virtual bool IsValid() const = 0;
    // Builds the project listing of this release below the content root rootDir; the
    // caller owns it. Null after logging why.
    virtual ProjectListing* CreateListing(const char* rootDir) = 0;

    // Loads the manifest at path; null after logging why.
    static std::unique_ptr<ReleaseManifest> Load(const char* path);

    // Read access for building listings; valid only while IsValid().
    virtual std::uint32_t FormatVersion() const = 0;
    // Null only for a manifest that lists no directory and no file and names no project.
    virtual const char* ProjectName() const = 0;
    virtual std::uint32_t ReleaseVersion() const = 0;
    virtual std::uint32_t DirectoryCount() const = 0;
    virtual ManifestDirectory Directory(std::uint32_t index) const = 0;
    virtual std::uint32_t FileCount() const = 0;
    virtual ManifestFile File(std::uint32_t index) const = 0;
    virtual std::uint32_t StringCount() const = 0;
    // String i, or null when i is not below StringCount().
    virtual const char* String(std::uint32_t index) const = 0;
    // The declared string data, which every string lies in.
    virtual const char* StringData() const = 0;
    virtual std::uint32_t StringDataSize() const = 0;
};

// The manifest over one file-record layout.
template <typename Entry>
class ReleaseManifestTemplate final : public ReleaseManifest {
public:
    // Takes the file's bytes, checks them and sorts the sibling lists. A failed check
    // leaves the buffer empty (IsValid() false).
    explicit ReleaseManifestTemplate(ByteBuffer buffer);
    explicit ReleaseManifestTemplate(const std::vector<std::uint8_t>& buffer)
        : ReleaseManifestTemplate(ByteBuffer(buffer.begin(), buffer.end()))
    {
    }

    bool IsValid() const override { return !mBuffer.empty(); }
    ProjectListing* CreateListing(const char* rootDir) override;

    std::uint32_t FormatVersion() const override;
    const char* ProjectName() const override;
    std::uint32_t ReleaseVersion() const override;
    std::uint32_t DirectoryCount() const override { return mDirectoryCount; }
    ManifestDirectory Directory(std::uint32_t index) const override;
    std::uint32_t FileCount() const override { return mFileCount; }
    ManifestFile File(std::uint32_t index) const override;
    std::uint32_t StringCount() const override { return static_cast<std::uint32_t>(mStrings.size()); }
    const char* String(std::uint32_t index) const override
    {
        return index < mStrings.size() ? mStringData + mStrings[index] : nullptr;
    }
    const char* StringData() const override { return mStringData; }
    std::uint32_t StringDataSize() const override { return mStringDataSize; }

    // The qualified names of this class's CreateListing and GetFileArchiveMetadata, for messages.
    static const char* CreateListingName();
    static const char* GetFileArchiveMetadataName();

    // When the manifest is invalid because of a name: what the name names ("project",
    // "directory" or "file") and the name itself; null and empty otherwise.
    const char* RefusedNameKind() const { return mRefusedNameKind; }
    const std::string& RefusedName() const { return mRefusedName; }

    // Walks the tree once, breadth first from the root, and gathers what a listing needs: for
    // every file where its content is and whether it is there (the archive data file, offset
    // and size of archived files, opening each data file once; the existence of managed and
    // naked files), reporting every missing piece and marking those files missing; each
    // entry's parent and path hash; and the number of storage records of each kind.
    void GetFileArchiveMetadata(const char* rootDir, const char* projectRoot, ListingInputs& inputs) const;

private:
    ProjectListing* BuildListing(const char* rootDir, const char* projectRoot);
    struct BindingScratch;
    void BindFile(std::uint32_t index, const std::string& path, std::uint32_t archiveHash, const char* rootDir,
                  const char* projectRoot, ArchiveManager& archives, BindingScratch& scratch, FileBinding& binding,
                  BindingCounts& counts, DataFileHandles& handles) const;
    // How many files the walk of the tree hands over at once.
    static constexpr std::uint32_t kWalkBatch = 16;
    // A file as the walk of the tree meets it.
    struct FileVisit {
        std::uint32_t index;
        const char* name;
        std::string path;    // from the root, cut at kMaxPath characters
        std::uint32_t hash;  // the listing's bucket hash of that path
    };
    // Breadth first from the root, as a listing is laid out: for each directory taken from the
    // queue its subdirectories, then its files, each range in record order, a subdirectory
    // with children queued in turn. Each entry reached is given with the bucket hash of its
    // path and its parent's state; onDirectory returns the state of the directory given.
    // Files come in batches: onFiles sees a batch before onFile visits its files one by one,
    // so that what their visits will read can be fetched from memory ahead, all at once.
    template <typename State, typename OnDirectory, typename OnFiles, typename OnFile>
    void WalkTree(State rootState, OnDirectory&& onDirectory, OnFiles&& onFiles, OnFile&& onFile) const;

    bool CheckRegions();
    void CollectStrings(std::uint32_t capacityHint);
    bool CheckTree();
    bool CheckNames();
    void NormaliseSiblingOrder();

    std::uint8_t* DirectoryRecord(std::uint32_t index) { return mDirectories + 20u * index; }
    const std::uint8_t* DirectoryRecord(std::uint32_t index) const { return mDirectories + 20u * index; }
    const std::uint8_t* FileRecord(std::uint32_t index) const { return mFiles + std::size_t{Entry::kSize} * index; }
    std::uint32_t LoadFileName(std::uint32_t index) const;
    void Invalidate();

    ByteBuffer mBuffer;
    std::uint32_t mDirectoryCount = 0;
    std::uint8_t* mDirectories = nullptr;
    std::uint32_t mFileCount = 0;
    std::uint8_t* mFiles = nullptr;
    const char* mStringData = nullptr;
    std::uint32_t mStringDataSize = 0;
    std::vector<std::uint32_t> mStrings;  // where each string begins in the string data
    const char* mRefusedNameKind = nullptr;
    std::string mRefusedName;
};

extern template class ReleaseManifestTemplate<FileTableEntry>;
extern template class ReleaseManifestTemplate<FileTableEntryV0>;

}  // namespace Tarn::VELL::Reader
