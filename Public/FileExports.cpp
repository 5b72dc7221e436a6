// File-handle exports: open a virtual path, read at any offset, ask the size, close.
#include <new>

#include "CStd/CStd.h"
#include "Public/VellExportsMain.h"
#include "TarnVellIO.h"
#include "logger/Log.h"

using namespace Tarn::Logger;
using Tarn::VELL::Reader::ProjectListing;

namespace {

// The object behind a file handle; both pointers point into the environment.
struct FileHandleRecord {
    ProjectListing* listing;
    const ProjectListing::EntryHeader* entry;
};

FileHandleRecord* Record(VellFileHandle handle) { return reinterpret_cast<FileHandleRecord*>(handle); }

}  // namespace

extern "C" VELL_API VellFileHandle VELL_CALL VellOpenFile(const char* path)
{
    static constexpr char kName[] = "VellOpenFile";
    try {
        if (path == nullptr || *path == '\0') {
            LogError("%s: VELL cannot open a file with an empty path.", kName);
            return nullptr;
        }
        Tarn::VELL::Reader::RuntimeEnvironment* environment = Tarn::VELL::VellExportsMain::EnsureEnvironment();
        if (environment == nullptr) {
            LogError("%s: VELL cannot open file \"%s\" because VELL has not been successfully initialized.", kName, path);
            return nullptr;
        }
        char normalised[Tarn::kMaxPath];
        const long length = Tarn::VELL::NormalizePath(path, normalised, sizeof(normalised), true);
        const auto found = length >= 0 ? environment->FindEntry(normalised, static_cast<std::size_t>(length))
                                       : Tarn::VELL::Reader::RuntimeEnvironment::Found{nullptr, nullptr};
        if (found.first == nullptr || found.second == nullptr) {
            LogError("%s: VELL cannot open file \"%s\" because it's not in the manifest.", kName, path);
            return nullptr;
        }
        if (!found.first->Open(found.second)) {
            LogError("%s: VELL cannot open file \"%s\".  It's in the manifest, but failed to open.", kName, path);
            return nullptr;
        }
        auto* record = new (std::nothrow) FileHandleRecord{found.first, found.second};
        if (record == nullptr) found.first->RemoveReference(found.second);
        return reinterpret_cast<VellFileHandle>(record);
    } catch (...) {
        return nullptr;
    }
}

extern "C" VELL_API VellResult VELL_CALL VellRead(VellFileHandle handle, uint64_t offset, uint32_t size, uint32_t* bytesRead,
                                                  void* buffer)
{
    static constexpr char kName[] = "VellRead";
    if (handle == nullptr) {
        LogError("%s: VELL cannot read from the file because the handle is null.", kName);
        return VELL_E_HANDLE;
    }
    if (size == 0) return VELL_OK;
    // Outside the contract, but never written through.
    if (buffer == nullptr) {
        LogError("%s: VELL cannot read from the file because the buffer is null.", kName);
        return VELL_E_FAIL;
    }
    try {
        FileHandleRecord* record = Record(handle);
        return record->listing->Read(record->entry, offset, size, bytesRead, buffer) ? VELL_OK : VELL_E_FAIL;
    } catch (...) {
        return VELL_E_FAIL;
    }
}

extern "C" VELL_API int64_t VELL_CALL VellGetFileSize(VellFileHandle handle)
{
    if (handle == nullptr) {
        LogError("%s: VELL cannot get the file size the handle is null.", "VellGetFileSize");
        return -1;
    }
    const FileHandleRecord* record = Record(handle);
    if (record->entry->parent == nullptr || record->listing->IsDirectory(record->entry)) return 0;
    return static_cast<int64_t>(record->listing->EntrySize(record->entry));
}

extern "C" VELL_API void VELL_CALL VellCloseFile(VellFileHandle handle)
{
    if (handle == nullptr) return;
    FileHandleRecord* record = Record(handle);
    try {
        record->listing->RemoveReference(record->entry);
    } catch (...) {
    }
    delete record;
}
