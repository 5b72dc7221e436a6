// What the reader's tests share: includes and names, releases on disk, listings, counted calls.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/ByteOrder.h"
#include "writer/ProjectWriter.h"

namespace ReaderTest {

namespace fs = std::filesystem;
namespace W = Tarn::VELL::Writer;
using Tarn::VELL::Reader::ProjectListing;
using FileRecord = ProjectListing::FileRecord;
using TarnTest::LogCapture;
using TarnTest::LoggedError;
using TarnSupport::TempDir;
using W::Compression;
using W::FileSpec;
using W::ProjectRelease;
using W::Storage;

// A file of a release; an archived one is stored as it is unless told otherwise.
inline FileSpec Item(std::string path, std::string content, Storage storage, Compression compression = Compression::Stored,
                     std::optional<std::uint32_t> version = {}, std::optional<std::uint32_t> flags = {})
{
    FileSpec item;
    item.path = std::move(path), item.content = std::move(content), item.storage = storage, item.compression = compression;
    item.version = version, item.flags = flags;
    return item;
}

inline std::string Patched(std::string bytes, std::size_t offset, std::uint32_t value)
{
    W::StoreU32(bytes, offset, value);
    return bytes;
}

inline std::unique_ptr<ProjectListing> ListingFrom(const fs::path& manifestPath, const std::string& root)
{
    auto manifest = Tarn::VELL::Reader::ReleaseManifest::Load(manifestPath.string().c_str());
    return std::unique_ptr<ProjectListing>(manifest ? manifest->CreateListing(root.c_str()) : nullptr);
}

inline const FileRecord* FileAt(const ProjectListing& listing, const char* path)
{
    const ProjectListing::EntryHeader* entry = listing.Lookup(path);
    return entry && listing.IsFile(entry) ? static_cast<const FileRecord*>(entry) : nullptr;
}

// Reads an open file whole in chunks, the first of one byte so that the others straddle blocks.
inline std::string ReadInChunks(ProjectListing& listing, const FileRecord* file, std::uint32_t chunk)
{
    std::string out(file->size, '\0');
    for (std::uint32_t at = 0, n = 1; at < file->size; at += n, n = chunk) {
        n = std::min(n, file->size - at);
        std::uint32_t read = 0;
        if (!listing.Read(file, at, n, &read, out.data() + at) || read != n) return "<short read at " + std::to_string(at) + ">";
    }
    return out;
}

inline std::string ReadWhole(ProjectListing& listing, const char* path)
{
    const FileRecord* file = FileAt(listing, path);
    if (file == nullptr || !listing.Open(file)) return "<cannot open>";
    const std::string out = ReadInChunks(listing, file, file->size);
    listing.RemoveReference(file);
    return out;
}

// A release written below <dir>/VELL; Build() lists what is on disk by then.
struct Content {
    TempDir dir;
    fs::path root = dir.Path() / "VELL";
    W::ProjectWriteResult written;
    std::unique_ptr<ProjectListing> listing;

    explicit Content(const ProjectRelease& release) : written(release.Write(root)) {}
    ProjectListing& Build()
    {
        if (!(listing = ListingFrom(written.manifestPath, root.generic_string()))) throw std::runtime_error("no listing");
        return *listing;
    }
    const FileRecord* File(const char* path) const { return FileAt(*listing, path); }
};

// Counts the files opened (with their paths and the handles still open), reads and closes.
inline std::vector<std::string> gCreated;
inline std::set<Win32::HANDLE> gOpen;
inline std::atomic<int> gReads, gCloses;

inline void CountCalls()
{
    gCreated.clear();
    gOpen.clear();
    gReads = gCloses = 0;
    Win32::gCalls.CreateFileA = [](Win32::LPCSTR path, auto... rest) {
        gCreated.push_back(path);
        const Win32::HANDLE handle = Win32::DefaultCalls().CreateFileA(path, rest...);
        if (handle != Win32::INVALID_HANDLE_VALUE) gOpen.insert(handle);
        return handle;
    };
    Win32::gCalls.ReadFile = [](auto... arguments) {
        ++gReads;
        return Win32::DefaultCalls().ReadFile(arguments...);
    };
    Win32::gCalls.CloseHandle = [](Win32::HANDLE handle) {
        ++gCloses;
        gOpen.erase(handle);
        return Win32::DefaultCalls().CloseHandle(handle);
    };
}

// A data file opened as the library opens them.
struct DataFile {
    Win32::HANDLE handle;
    DataFile(const TempDir& dir, const std::string& content)
        : handle(Win32::CreateFileA(dir.Write("data.bin", content).c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ,
                                    nullptr, Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr))
    {
    }
    ~DataFile() { Win32::CloseHandle(handle); }
};

}  // namespace ReaderTest
