#include "reader/ProjectListing.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "logger/Log.h"
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
    std::vector<Win32::HANDLE> closed;
    for (std::uint32_t i = 0; i < ArchivedCount(); ++i) {
        ArchiveFile& entry = mViews.archiveFiles[i];
        if (entry.handle && std::find(closed.begin(), closed.end(), entry.handle) == closed.end()) {
            Win32::CloseHandle(entry.handle);
            closed.push_back(entry.handle);
        }
        entry.handle = nullptr;
        entry.Reset();
        entry.blocks.Clear();
        entry.~ArchiveFile();
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
    return Lookup(path, length, HashPath(path, length));
}

const ProjectListing::EntryHeader* ProjectListing::Lookup(const char* path, std::uint32_t hash) const
{
    return path ? Lookup(path, std::strlen(path), hash) : nullptr;
}

const ProjectListing::EntryHeader* ProjectListing::Lookup(const char* path, std::size_t length, std::uint32_t hash) const
{
    const std::uint32_t buckets = BucketCount();
    if (buckets == 0 || path == nullptr) return nullptr;
    const Bucket& bucket = mViews.buckets[hash % buckets];
    const Slot* slot = mViews.slots + bucket.firstSlot;
    for (std::uint32_t i = 0; i < bucket.count; ++i) {
        if (slot[i].hash != hash) continue;  // a different path, whatever its letters
        const EntryHeader* entry = EntryAt(slot[i].entry);
        TARN_PREFETCH(entry->name);
        if (PathMatches(entry, path, length)) return entry;
    }
    return nullptr;
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

const ProjectListing::DirectoryRecord* ProjectListing::Directory(std::uint32_t index) const
{
    return index < DirectoryCount() ? &mViews.directories[index] : nullptr;
}

const ProjectListing::FileRecord* ProjectListing::File(std::uint32_t index) const
{
    return index < FileCount() ? &mViews.files[index] : nullptr;
}

}  // namespace Tarn::VELL::Reader
