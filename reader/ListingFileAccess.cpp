// Opening, reading and closing the files of a listing. A file is opened once at the system
// level however often the host opens it: its storage record counts opens; the first open
// acquires the handle (or, for compressed archive entries, the decompressed content), the
// last close releases it.
#include <new>

#include "CStd/CStd.h"
#include "logger/Log.h"
#include "reader/Decompression.h"
#include "reader/FileReads.h"
#include "reader/PathProcessors.h"
#include "reader/ProjectListing.h"
#include "reader/ToCore/Windows/SyncToken.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kOpenName[] = "Tarn::VELL::Reader::ProjectListing::Open";
constexpr char kReadName[] = "Tarn::VELL::Reader::ProjectListing::Read";
constexpr char kOpenNakedFileName[] = "Tarn::VELL::Reader::ProjectListing::OpenNakedFile";
constexpr char kFileReadName[] = "Tarn::VELL::Reader::ProjectListing::FileInfo::Read";
constexpr char kRemoveReferenceName[] = "Tarn::VELL::Reader::ProjectListing::FileInfo::RemoveReference";
constexpr char kCloseName[] = "Tarn::VELL::Reader::ProjectListing::FileInfo::Close";
}  // namespace

bool ProjectListing::Open(const EntryHeader* entry)
{
    if (entry == nullptr) {
        LogError("%s: VELL cannot open the file system entry because it's null.", kOpenName);
        return false;
    }
    if (!IsFile(entry)) {
        LogError("%s: VELL cannot open file system entry \"%s\" because it failed to get the associated file entry.", kOpenName,
                 GetEntryPathString(entry).c_str());
        return false;
    }
    const auto* file = static_cast<const FileRecord*>(entry);
    if (file->storage == nullptr) {
        LogError("%s: VELL cannot open \"%s\" because the file wasn't found.", kOpenName, GetEntryPathString(entry).c_str());
        return false;
    }
    ScopedLock lock(mLock);
    if (ArchiveFile* archived = AsArchiveFile(file->storage)) {
        LogTrace("%s: Opening archive file \"%s\".", kOpenName, file->name);
        // zlib entries decode with the listing's kept inflate state (opens hold the lock).
        if (archived->CompressionId() == kCompressionZlib && archived->refCount == 0 && !mInflater)
            mInflater.reset(new (std::nothrow) ZlibInflater);
        return archived->Open(*file, DataFileOf(*archived), mInflater.get());
    }
    if (FileInfo* naked = AsNakedFile(file->storage)) {
        LogTrace("%s: Opening file \"%s\".", kOpenName, file->name);
        return naked->OpenNaked(*this, ReleaseVersion(), *file);
    }
    if (FileInfo* managed = AsManagedFile(file->storage)) {
        LogTrace("%s: Opening managed file \"%s\".", kOpenName, file->name);
        return managed->OpenManaged(*this, *file);
    }
    LogError("%s: VELL cannot open the file system entry because the handle is invalid.", kOpenName);
    return false;
}

bool ProjectListing::Read(const EntryHeader* entry, std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead,
                          void* buffer)
{
    if (entry == nullptr || !IsFile(entry)) {
        LogError("%s: VELL cannot read from the file system entry because the file entry is null.", kReadName);
        return false;
    }
    if (size == 0) return true;
    const auto* file = static_cast<const FileRecord*>(entry);
    if (const ArchiveFile* archived = AsArchiveFile(file->storage))
        return archived->Read(DataFileOf(*archived), offset, size, bytesRead, buffer);
    const FileInfo* loose = AsNakedFile(file->storage);
    if (loose == nullptr) loose = AsManagedFile(file->storage);
    if (loose != nullptr) return loose->Read(offset, size, bytesRead, buffer);
    LogError("%s: VELL cannot read from the file system entry because the handle is invalid.", kReadName);
    return false;
}

void ProjectListing::RemoveReference(const EntryHeader* entry)
{
    if (entry == nullptr || !IsFile(entry)) return;
    const auto* file = static_cast<const FileRecord*>(entry);
    ScopedLock lock(mLock);
    if (ArchiveFile* archived = AsArchiveFile(file->storage)) {
        if (archived->refCount == 0) {
            LogError("%s: Attempting to close a file multiple times!", kRemoveReferenceName);
            return;
        }
        if (--archived->refCount == 0) archived->blocks.Clear();  // the shared data file stays open
        return;
    }
    FileInfo* loose = AsNakedFile(file->storage);
    if (loose == nullptr) loose = AsManagedFile(file->storage);
    if (loose != nullptr) loose->Close();
}

Win32::HANDLE ProjectListing::OpenNakedFile(std::uint32_t fileType, const char* projectRoot, std::uint32_t releaseVersion,
                                            std::uint32_t fileVersion, const char* name)
{
    char path[kMaxPath];
    if (!GetNakedFile(path, fileType, projectRoot, releaseVersion, fileVersion, name)) return nullptr;
    Win32::HANDLE handle = Win32::CreateFileA(path, Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr, Win32::OPEN_EXISTING,
                                              Win32::FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != Win32::INVALID_HANDLE_VALUE) return handle;
    const auto error = static_cast<std::int32_t>(Win32::GetLastError());
    LogError("%s: Failed to open: %s", kOpenNakedFileName, path);
    LogSystemError(kOpenNakedFileName, error);
    return nullptr;
}

// ---- loose files --------------------------------------------------------------------------

bool ProjectListing::FileInfo::OpenNaked(ProjectListing& listing, std::uint32_t releaseVersion, const FileRecord& entry)
{
    return OpenLoose(listing, kFileTypeNaked, releaseVersion, entry);
}

bool ProjectListing::FileInfo::OpenManaged(ProjectListing& listing, const FileRecord& entry)
{
    return OpenLoose(listing, kFileTypeManaged, 0xFFFFFFFFu, entry);
}

bool ProjectListing::FileInfo::OpenLoose(ProjectListing& listing, std::uint32_t fileType, std::uint32_t releaseVersion,
                                         const FileRecord& entry)
{
    if (++refCount > 1) return true;  // the handle is shared
    char path[kMaxPath];
    if (!GetEntryPath(&entry, path)) path[0] = '\0';
    handle = OpenNakedFile(fileType, listing.ProjectRoot(), releaseVersion, entry.version, path);
    if (handle == nullptr) {
        RemoveReference();
        return false;
    }
    return true;
}

bool ProjectListing::FileInfo::Read(std::uint64_t offset, std::uint32_t size, std::uint32_t* bytesRead, void* buffer) const
{
    if (handle == nullptr) {
        LogError("%s: A null file handle was passed to Read.", kFileReadName);
        return false;
    }
    return SyncRead(handle, size, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(offset >> 32), bytesRead,
                    buffer);
}

bool ProjectListing::FileInfo::RemoveReference()
{
    if (refCount == 0) {
        LogError("%s: Attempting to close a file multiple times!", kRemoveReferenceName);
        return false;
    }
    return --refCount == 0;
}

// A close beyond the last one finds the count at 0 (and the handle already gone): that is
// reported as closing too often, before the missing handle is.
void ProjectListing::FileInfo::Close()
{
    if (refCount == 0) {
        LogError("%s: Attempting to close a file multiple times!", kRemoveReferenceName);
        return;
    }
    if (handle == nullptr) {
        LogError("%s: A null file handle was passed to Close.", kCloseName);
        return;
    }
    if (--refCount == 0) {
        Win32::CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace Tarn::VELL::Reader
