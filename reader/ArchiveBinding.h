// What binding a release's files to their storage yields while a listing is built.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Win32.h"

namespace Tarn::VELL::Reader {

// One per file, in file-table order.
struct FileBinding {
    Win32::HANDLE handle;       // the archive data file, for archived files
    std::uint32_t flags;        // the manifest's flags, or the missing mark 0xFFFFFFFF
    std::uint32_t offset;       // of the entry in the data file
    std::uint32_t archiveSize;  // of the entry in the data file
};

// The number of files of each kind whose content was found.
struct BindingCounts {
    std::uint32_t archived = 0;
    std::uint32_t managed = 0;
    std::uint32_t naked = 0;
};

// The archive data files opened for a listing, by path (byte order, case matters); a file
// that could not be opened is kept with a null handle so that it is tried once per build.
// The handles are closed when this is destroyed, unless a listing took them over.
class DataFileHandles {
public:
    DataFileHandles() = default;
    ~DataFileHandles() { CloseAll(); }
    DataFileHandles(const DataFileHandles&) = delete;
    DataFileHandles& operator=(const DataFileHandles&) = delete;

    // The handle of the data file at path, opening it (overlapped, shared reading) on first request.
    Win32::HANDLE Get(const std::string& path);
    const std::map<std::string, Win32::HANDLE>& Map() const { return mHandles; }
    // The listing owns the handles from now on.
    void Release() { mHandles.clear(); }
    void CloseAll();

private:
    std::map<std::string, Win32::HANDLE> mHandles;
};

// Everything one walk of a release's tree gathers for its listing. Entries are numbered
// directories first, then files (entry D + i is file i).
struct ListingInputs {
    std::vector<FileBinding> bindings;   // per file
    std::vector<std::uint32_t> parents;  // per entry; 0 for the root and for entries the tree does not reach
    std::vector<std::uint32_t> hashes;   // per entry: the listing hash of its path, where reached
    std::vector<bool> reached;           // per entry: whether the tree reaches it
    BindingCounts counts;
    DataFileHandles handles;
};

}  // namespace Tarn::VELL::Reader
