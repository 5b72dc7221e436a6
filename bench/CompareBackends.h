// vell_compare's backends: TarnVellIO through its exported interface, PhysicsFS and libzip
// reading the zip of the same files. Each initialises over a content set, answers existence,
// reads whole small files, reads 4 KiB at random offsets of one large file and lists a
// directory by pattern.
#pragma once

#include <physfs.h>
#include <zip.h>

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "TarnVellIO.h"
#include "bench/CompareContent.h"
#include "bench/CompareMeasure.h"

namespace TarnCompare {

struct Listing {
    std::uint32_t count = 0;
    std::uint64_t hash = 0;
};

class VellBackend {
public:
    bool Init(const ContentSet& set) { return VellInitialize(0, 0, 0, set.deployDirectory.c_str()) == VELL_OK; }
    void Shutdown() { VellShutdown(); }
    bool Exists(const std::string& path) { return VellFileExists(path.c_str()) != 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        VellFileHandle file = VellOpenFile(path.c_str());
        if (!file) return -1;
        const std::int64_t size = VellGetFileSize(file);
        std::uint32_t got = 0;
        const bool ok = size >= 0 && static_cast<std::uint64_t>(size) <= kSmallCapacity &&
                        VellRead(file, 0, static_cast<std::uint32_t>(size), &got, buffer) == VELL_OK;
        VellCloseFile(file);
        return ok ? got : -1;
    }
    bool OpenForRandom(const std::string& path) { return (mRandom = VellOpenFile(path.c_str())) != nullptr; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        std::uint32_t got = 0;
        return VellRead(mRandom, offset, kReadSize, &got, out) == VELL_OK && got == kReadSize;
    }
    void CloseRandom() { VellCloseFile(mRandom), mRandom = nullptr; }
    Listing Enumerate(const ContentSet& set)
    {
        const std::string pattern = set.enumerationDirectory + "/" + set.enumerationPattern;
        Listing listing;
        VellFindHandle search = VellFindFirstFile(pattern.c_str());
        if (!search) return listing;
        char name[260];
        std::uint32_t isDirectory = 0;
        std::uint64_t size = 0;
        while (VellFindNextFile(search, &isDirectory, &size, sizeof name, name) == VELL_OK) {
            ++listing.count;
            listing.hash += NameHash(name);
        }
        VellFindClose(search);
        return listing;
    }

private:
    VellFileHandle mRandom = nullptr;
};

class PhysfsBackend {
public:
    explicit PhysfsBackend(const char* argv0) : mArgv0(argv0) {}
    bool Init(const ContentSet& set)
    {
        return PHYSFS_init(mArgv0) != 0 && PHYSFS_mount(set.zipPath.c_str(), nullptr, 1) != 0;
    }
    void Shutdown() { PHYSFS_deinit(); }
    bool Exists(const std::string& path) { return PHYSFS_exists(path.c_str()) != 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        PHYSFS_File* file = PHYSFS_openRead(path.c_str());
        if (!file) return -1;
        const PHYSFS_sint64 size = PHYSFS_fileLength(file);
        const PHYSFS_sint64 got = size >= 0 && static_cast<std::uint64_t>(size) <= kSmallCapacity
                                      ? PHYSFS_readBytes(file, buffer, static_cast<PHYSFS_uint64>(size))
                                      : -1;
        PHYSFS_close(file);
        return got;
    }
    bool OpenForRandom(const std::string& path) { return (mRandom = PHYSFS_openRead(path.c_str())) != nullptr; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        return PHYSFS_seek(mRandom, offset) != 0 && PHYSFS_readBytes(mRandom, out, kReadSize) == kReadSize;
    }
    void CloseRandom() { PHYSFS_close(mRandom), mRandom = nullptr; }
    Listing Enumerate(const ContentSet& set)
    {
        struct Context {
            const char* pattern;
            Listing listing;
        } context{set.enumerationPattern.c_str(), {}};
        PHYSFS_enumerate(
            set.enumerationDirectory.c_str(),
            [](void* data, const char*, const char* name) {
                auto* c = static_cast<Context*>(data);
                if (WildcardMatchNoCase(c->pattern, name)) {
                    ++c->listing.count;
                    c->listing.hash += NameHash(name);
                }
                return PHYSFS_ENUM_OK;
            },
            &context);
        return context.listing;
    }

private:
    const char* mArgv0;
    PHYSFS_File* mRandom = nullptr;
};

class LibzipBackend {
public:
    bool Init(const ContentSet& set)
    {
        int error = 0;
        mArchive = zip_open(set.zipPath.c_str(), ZIP_RDONLY, &error);
        return mArchive != nullptr;
    }
    void Shutdown() { zip_discard(mArchive), mArchive = nullptr; }
    bool Exists(const std::string& path) { return zip_name_locate(mArchive, path.c_str(), 0) >= 0; }
    bool ExistsNoCase(const std::string& path) { return zip_name_locate(mArchive, path.c_str(), ZIP_FL_NOCASE) >= 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        const zip_int64_t index = zip_name_locate(mArchive, path.c_str(), 0);
        zip_stat_t stat;
        if (index < 0 || zip_stat_index(mArchive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
            stat.size > kSmallCapacity)
            return -1;
        zip_file_t* file = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(index), 0);
        if (!file) return -1;
        const zip_int64_t got = zip_fread(file, buffer, stat.size);
        zip_fclose(file);
        return got;
    }
    // zip_fseek where the entry allows it; otherwise forward by reading and skipping, and
    // backward by opening the entry again.
    bool OpenForRandom(const std::string& path)
    {
        mIndex = zip_name_locate(mArchive, path.c_str(), 0);
        if (mIndex < 0 || !(mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0))) return false;
        mSeekable = zip_fseek(mRandom, 0, SEEK_SET) == 0;
        if (!mSeekable) {  // the failed seek leaves an error on the file: start afresh
            zip_fclose(mRandom);
            mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0);
        }
        mPosition = 0;
        return mRandom != nullptr;
    }
    bool Seekable() const { return mSeekable; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        if (mSeekable) {
            return zip_fseek(mRandom, static_cast<zip_int64_t>(offset), SEEK_SET) == 0 &&
                   zip_fread(mRandom, out, kReadSize) == kReadSize;
        }
        if (offset < mPosition) {
            zip_fclose(mRandom);
            mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0);
            mPosition = 0;
            if (!mRandom) return false;
        }
        while (mPosition < offset) {
            const zip_uint64_t step = std::min<std::uint64_t>(sizeof mSkip, offset - mPosition);
            const zip_int64_t got = zip_fread(mRandom, mSkip, step);
            if (got <= 0) return false;
            mPosition += static_cast<std::uint64_t>(got);
        }
        const zip_int64_t got = zip_fread(mRandom, out, kReadSize);
        if (got > 0) mPosition += static_cast<std::uint64_t>(got);
        return got == kReadSize;
    }
    void CloseRandom()
    {
        if (mRandom) zip_fclose(mRandom);
        mRandom = nullptr;
    }
    Listing Enumerate(const ContentSet& set)
    {
        const std::string prefix = set.enumerationDirectory + "/";
        Listing listing;
        const zip_int64_t entries = zip_get_num_entries(mArchive, 0);
        for (zip_int64_t i = 0; i < entries; ++i) {
            const char* name = zip_get_name(mArchive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (!name || strncasecmp(name, prefix.c_str(), prefix.size()) != 0) continue;
            const char* leaf = name + prefix.size();
            if (std::strchr(leaf, '/') || !WildcardMatchNoCase(set.enumerationPattern.c_str(), leaf)) continue;
            ++listing.count;
            listing.hash += NameHash(leaf);
        }
        return listing;
    }

private:
    zip_t* mArchive = nullptr;
    zip_int64_t mIndex = -1;
    zip_file_t* mRandom = nullptr;
    bool mSeekable = false;
    std::uint64_t mPosition = 0;
    std::uint8_t mSkip[65536];
};

}  // namespace TarnCompare
