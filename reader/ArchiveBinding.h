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
    std::uint32_t flags;        // the manifest's flags, or the missing mark 0xFFFFFFFF
    std::uint32_t dataFile;     // archived files: the data file's number in DataFileHandles
    std::uint32_t offset;       // of the entry in the data file
    std::uint32_t archiveSize;  // of the entry in the data file
};

// The number of files of each kind whose content was found.
struct BindingCounts {
    std::uint32_t archived = 0;
    std::uint32_t managed = 0;
    std::uint32_t naked = 0;
};

// The archive data files opened for a listing, by path (byte order, case matters), each with a
// number in the order they were first asked for; a file that could not be opened is kept with
// a null handle so that it is tried once per build. The handles are closed when this is
// destroyed, unless a listing took them over.
class DataFileHandles {
public:
    struct Opened {
        Win32::HANDLE handle;
        std::uint32_t number;
    };

    DataFileHandles() = default;
    ~DataFileHandles() { CloseAll(); }
    DataFileHandles(const DataFileHandles&) = delete;
    DataFileHandles& operator=(const DataFileHandles&) = delete;

    // The data file at path, opening it (overlapped, shared reading) on first request.
    Opened Get(const std::string& path);
    const std::map<std::string, Opened>& Map() const { return mHandles; }
    // The listing owns the handles from now on.
    void Release() { mHandles.clear(); }
    void CloseAll();

private:
    std::map<std::string, Opened> mHandles;
};

// Everything the walk of a release's tree that binds its files gathers for its listing.
struct ListingInputs {
    std::vector<FileBinding> bindings;       // per file
    std::vector<std::uint32_t> bucketSizes;  // per bucket of the lookup table: the entries the tree reaches there
    BindingCounts counts;
    DataFileHandles handles;
};

}  // namespace Tarn::VELL::Reader
