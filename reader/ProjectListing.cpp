#include "reader/ProjectListing.h"

#include <cstring>
#include <new>

#include "logger/Log.h"
#include "reader/Decompression.h"
#include "reader/PathProcessors.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kResetName[] = "Tarn::VELL::Reader::ProjectListing::FileInfo::Reset";
}  // namespace

ProjectListing::ProjectListing(std::string projectRoot, std::unique_ptr<std::uint8_t[]> block, std::size_t blockSize,
                               const Views& views)
    : mProjectRoot(std::move(projectRoot)), mBlock(std::move(block)), mBlockSize(blockSize), mViews(views)
{
}

ProjectListing::~ProjectListing() { TearDownStorage(); }

// Every file should be closed by now; whatever is still open is reported and closed anyway.
void ProjectListing::TearDownStorage()
{
    for (std::uint32_t i = 0; i < ArchivedCount(); ++i) {
        ArchiveFile& entry = mViews.archiveFiles[i];
        if (entry.refCount != 0) LogError("%s: The file was not closed before shutdown.", kResetName);
        entry.refCount = 0;
        entry.blocks.Clear();
        entry.~ArchiveFile();
    }
    // Each data file once, however many entries share it.
    for (std::uint32_t i = 0; i < DataFileCount(); ++i) {
        DataFile& data = mViews.dataFiles[i];
        if (data.handle) Win32::CloseHandle(data.handle);
        data.handle = nullptr;
    }
    for (FileInfo* region : {mViews.managedFiles, mViews.nakedFiles}) {
        const std::uint32_t count = region == mViews.managedFiles ? ManagedCount() : NakedCount();
        for (std::uint32_t i = 0; i < count; ++i) {
            FileInfo& file = region[i];
            if (file.handle) Win32::CloseHandle(file.handle);
            file.handle = nullptr;
            if (file.refCount != 0) LogError("%s: The file was not closed before shutdown.", kResetName);
            file.refCount = 0;
        }
    }
}

void ProjectListing::FileInfo::Reset()
{
    if (refCount != 0 || handle != nullptr) LogError("%s: The file was not closed before shutdown.", kResetName);
    refCount = 0;
    if (handle) Win32::CloseHandle(handle);
    handle = nullptr;
}

// ---- lookup ---------------------------------------------------------------------------------

const ProjectListing::EntryHeader* ProjectListing::Lookup(const char* path) const
{
    if (path == nullptr) return nullptr;
    const std::size_t length = std::strlen(path);
    return Lookup(path, length, BucketHash(path, length));
}

const ProjectListing::EntryHeader* ProjectListing::Lookup(const char* path, std::uint32_t hash) const
{
    return path ? Lookup(path, std::strlen(path), hash) : nullptr;
}

// ---- the lookup table ------------------------------------------------------------------------

std::uint64_t ProjectListing::BucketFactor(std::uint32_t bucketCount)
{
    return bucketCount == 0 ? 0 : ~std::uint64_t{0} / bucketCount + 1;
}

// Bucket b's home slot is b * slots / K, as b plus a fraction of b (slots >= K), so that the
// product fits 64 bits.
std::uint64_t ProjectListing::HomeFactor(std::uint64_t slotsWithoutOverflow, std::uint32_t bucketCount)
{
    if (bucketCount == 0 || slotsWithoutOverflow <= bucketCount) return 0;
    return ((slotsWithoutOverflow - bucketCount) << 32) / bucketCount;
}

// hash mod K without a division (Lemire, Kaser and Kurz: "Faster remainder by direct
// computation"), in 32-bit multiplications so that the 32-bit build needs no 128-bit type.
std::uint32_t ProjectListing::BucketOf(std::uint32_t hash, std::uint64_t bucketFactor, std::uint32_t bucketCount)
{
    const std::uint64_t low = bucketFactor * hash;
    const std::uint64_t high = (low >> 32) * bucketCount + (((low & 0xFFFFFFFFu) * bucketCount) >> 32);
    return static_cast<std::uint32_t>(high >> 32);
}

std::uint64_t ProjectListing::BucketHome(std::uint32_t bucket, std::uint64_t homeFactor)
{
    return bucket + ((std::uint64_t{bucket} * homeFactor) >> 32);
}

// A bucket's entries lie together from its home slot on, after any entries of earlier buckets
// pushed there; the first entry of a later bucket, or an empty slot, ends the search.
const ProjectListing::EntryHeader* ProjectListing::Lookup(const char* path, std::size_t length, std::uint32_t hash) const
{
    const Counts& counts = *mViews.counts;
    if (counts.bucketCount == 0 || path == nullptr) return nullptr;
    const std::uint32_t bucket = BucketOf(hash, counts.bucketFactor, counts.bucketCount);
    for (const Slot* slot = mViews.slots + BucketHome(bucket, counts.homeFactor); slot->entry != kEmptySlot; ++slot) {
        if (slot->hash == hash) {
            if (SlotMatches(*slot, path, length)) return EntryAt(slot->entry & ~kNameElsewhere);
        } else if (BucketOf(slot->hash, counts.bucketFactor, counts.bucketCount) > bucket) {
            break;
        }
    }
    return nullptr;
}

// As PathMatches does with the records: the entry's name must end the path, each ancestor's
// name (the root's excepted) the part before it, '/' between them, and the walk must consume
// the path up to its start or a single leading '/'.
bool ProjectListing::SlotMatches(const Slot& slot, const char* path, std::size_t length) const
{
    const char* texts = mViews.texts;
    auto parentOf = [texts](std::uint32_t at) {
        std::uint32_t parent;
        std::memcpy(&parent, texts + at + 4, sizeof parent);
        return parent;
    };
    std::size_t cursor = length;
    bool matched = false;
    auto process = [&](const char* name) {
        const std::size_t n = std::strlen(name);
        if (n > cursor || !EqualIgnoringAsciiCase(path + cursor - n, name, n)) return false;
        cursor -= n;
        if (cursor > 0) {
            if (path[cursor - 1] != '/') return false;
            --cursor;
            matched = cursor == 0;
        } else {
            matched = true;
        }
        return true;
    };
    const char* name = slot.name;
    if (slot.entry & kNameElsewhere) {
        std::uint32_t at;
        std::memcpy(&at, slot.name, sizeof at);
        name = texts + at;
    }
    if (!process(name)) return false;
    if (slot.parent == kNoText) return matched;  // the root
    for (std::uint32_t at = slot.parent;;) {
        const std::uint32_t next = parentOf(at);
        if (next == kNoText) break;  // the root's own name takes no part
        if (!process(texts + at + kTextHeader)) return false;
        at = next;
    }
    return matched;
}

const ProjectListing::EntryHeader* ProjectListing::EntryAt(std::uint32_t index) const
{
    const std::uint32_t directories = DirectoryCount();
    return index < directories ? static_cast<const EntryHeader*>(&mViews.directories[index])
                               : static_cast<const EntryHeader*>(&mViews.files[index - directories]);
}

// ---- kinds, sizes and storage --------------------------------------------------------------

// Kinds are told from the record's address: a record in the directory region is a
// directory (the root included), one in the file region a file.
bool ProjectListing::IsDirectory(const EntryHeader* entry) const
{
    const auto* first = mViews.directories;
    return entry >= first && entry < first + DirectoryCount();
}

bool ProjectListing::IsFile(const EntryHeader* entry) const
{
    const auto* first = mViews.files;
    return entry >= first && entry < first + FileCount();
}

std::uint32_t ProjectListing::EntrySize(const EntryHeader* entry) const
{
    return IsFile(entry) ? static_cast<const FileRecord*>(entry)->size : 0;
}

ProjectListing::ArchiveFile* ProjectListing::AsArchiveFile(void* storage) const
{
    auto* record = static_cast<ArchiveFile*>(storage);
    return record >= mViews.archiveFiles && record < mViews.archiveFiles + ArchivedCount() ? record : nullptr;
}

ProjectListing::FileInfo* ProjectListing::AsManagedFile(void* storage) const
{
    auto* record = static_cast<FileInfo*>(storage);
    return record >= mViews.managedFiles && record < mViews.managedFiles + ManagedCount() ? record : nullptr;
}

ProjectListing::FileInfo* ProjectListing::AsNakedFile(void* storage) const
{
    auto* record = static_cast<FileInfo*>(storage);
    return record >= mViews.nakedFiles && record < mViews.nakedFiles + NakedCount() ? record : nullptr;
}

const char* ProjectListing::ProjectName() const { return mViews.header->projectName; }
std::uint32_t ProjectListing::ReleaseVersion() const { return mViews.header->releaseVersion; }
std::uint32_t ProjectListing::DirectoryCount() const { return mViews.counts->directoryCount; }
std::uint32_t ProjectListing::FileCount() const { return mViews.counts->fileCount; }
std::uint32_t ProjectListing::BucketCount() const { return mViews.counts->bucketCount; }
std::uint32_t ProjectListing::ArchivedCount() const { return mViews.storageCounts->archived; }
std::uint32_t ProjectListing::ManagedCount() const { return mViews.storageCounts->managed; }
std::uint32_t ProjectListing::NakedCount() const { return mViews.storageCounts->naked; }
std::uint32_t ProjectListing::DataFileCount() const { return mViews.storageCounts->dataFiles; }

const ProjectListing::DirectoryRecord* ProjectListing::Directory(std::uint32_t index) const
{
    return index < DirectoryCount() ? &mViews.directories[index] : nullptr;
}

const ProjectListing::FileRecord* ProjectListing::File(std::uint32_t index) const
{
    return index < FileCount() ? &mViews.files[index] : nullptr;
}

// ---- archive entries ----------------------------------------------------------------------

namespace {
constexpr std::uint32_t kCodecs[] = {kCompressionNone, kCompressionZlib, kCompressionLzma};
}  // namespace

std::uint32_t ProjectListing::ArchiveFile::Pack(std::uint32_t dataFile, std::uint32_t compressionId)
{
    const std::uint32_t codec = compressionId == kCompressionZlib ? 1 : compressionId == kCompressionLzma ? 2 : 0;
    return dataFile << 2 | codec;
}

std::uint32_t ProjectListing::ArchiveFile::CompressionId() const { return kCodecs[(source & 3) % 3]; }

bool ProjectListing::EntryContent::Load(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offset,
                                        std::uint32_t storedSize, std::uint32_t uncompressedSize, ZlibInflater* inflater)
{
    Clear();
    mBlocks = new (std::nothrow) UncompressedBlocks(kArchiveBlockSize);
    if (mBlocks != nullptr && mBlocks->Load(compressionId, file, offset, 0, storedSize, uncompressedSize, inflater)) return true;
    Clear();
    return false;
}

void ProjectListing::EntryContent::Clear()
{
    delete mBlocks;
    mBlocks = nullptr;
}

std::uint32_t ProjectListing::EntryContent::CopyOut(void* destination, std::uint32_t offset, std::uint32_t count) const
{
    return mBlocks ? mBlocks->CopyOut(destination, offset, count) : 0;
}

std::uint32_t ProjectListing::EntryContent::BlockCount() const { return mBlocks ? mBlocks->BlockCount() : 0; }
std::uint32_t ProjectListing::EntryContent::TotalSize() const { return mBlocks ? mBlocks->TotalSize() : 0; }

}  // namespace Tarn::VELL::Reader
