#include "reader/ArchiveFile.h"

#include <cstring>

#include "CStd/ByteOrder.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/FileReads.h"
#include "reader/PathHash.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kConstructName[] = "Tarn::VELL::Reader::ArchiveFile::ArchiveFile";
constexpr char kReadName[] = "Tarn::VELL::Reader::ArchiveFile::Read";
constexpr char kSearchName[] = "Tarn::VELL::Reader::ArchiveFile::Search";
constexpr std::uint32_t kHeaderSize = kArchiveHeaderSize;
constexpr std::uint32_t kEntrySize = kArchiveEntrySize;
constexpr std::uint32_t kPathRecordSize = kArchivePathRecordSize;

}  // namespace

ArchiveFile::ArchiveFile(std::string filename) : mFilename(std::move(filename))
{
    LogTrace("%s: (%s)", kConstructName, mFilename.c_str());
}

std::uint32_t ArchiveFile::HashArchivePath(const char* path) { return PathHash::ArchiveHash(path); }

bool ArchiveFile::Read(bool* invalid)
{
    LogTrace("%s: (%s) [this->mFilename = %s]", kReadName, mFilename.c_str(), mFilename.c_str());
    if (Failed(ReadFileIntoBuffer(mFilename.c_str(), mIndex))) {
        mIndex.clear();
        LogError("%s: Failed to read our archive directory", kReadName);
        return false;
    }
    const bool headerOk = mIndex.size() >= kHeaderSize && LoadLE32(mIndex.data()) == kArchiveMagic &&
                          LoadLE32(mIndex.data() + 4) == kArchiveVersion;
    if (!headerOk || !CheckTables()) {
        mIndex.clear();
        mEntryCount = mPathCount = 0;  // the accessors must not reach into the discarded bytes
        LogError("%s: Incorrect magic value or version, invalid archive %s", kReadName, mFilename.c_str());
        if (invalid) *invalid = true;
        return false;
    }
    mTotalDataSize = 0;
    for (std::uint32_t i = 0; i < mEntryCount; ++i) mTotalDataSize += GetEntry(i).dataSize;
    return true;
}

// The file list, the entries, the path list, its records and every path they point at must
// lie inside the file, each path with its terminating zero.
bool ArchiveFile::CheckTables()
{
    const std::uint64_t size = mIndex.size();
    const std::uint8_t* base = mIndex.data();
    const std::uint32_t fileListOffset = LoadLE32(base + 12);
    const std::uint32_t pathListOffset = LoadLE32(base + 16);
    if (std::uint64_t{fileListOffset} + 4 > size) return false;
    mEntryCount = LoadLE32(base + fileListOffset);
    if (std::uint64_t{fileListOffset} + 4 + std::uint64_t{kEntrySize} * mEntryCount > size) return false;
    mEntriesAt = fileListOffset + 4;
    if (std::uint64_t{pathListOffset} + 8 > size) return false;
    mPathCount = LoadLE32(base + pathListOffset + 4);
    if (std::uint64_t{pathListOffset} + 8 + std::uint64_t{kPathRecordSize} * mPathCount > size) return false;
    mPathListAt = pathListOffset;
    for (std::uint32_t i = 0; i < mPathCount; ++i) {
        const std::uint64_t at = std::uint64_t{pathListOffset} + LoadLE32(base + pathListOffset + 8 + kPathRecordSize * i);
        if (at >= size || std::memchr(base + at, 0, size - at) == nullptr) return false;
    }
    return true;
}

std::uint32_t ArchiveFile::Version() const { return mIndex.size() >= kHeaderSize ? LoadLE32(mIndex.data() + 4) : 0; }

ArchiveFile::Entry ArchiveFile::GetEntry(std::uint32_t index) const
{
    const std::uint8_t* e = mIndex.data() + mEntriesAt + kEntrySize * index;
    return {LoadLE32(e), LoadLE32(e + 4), LoadLE32(e + 8), LoadLE32(e + 12)};
}

const char* ArchiveFile::EntryPath(std::uint32_t index) const
{
    const std::uint32_t pathIndex = GetEntry(index).pathIndex;
    if (pathIndex >= mPathCount) return nullptr;
    const std::uint32_t stringOffset = LoadLE32(mIndex.data() + mPathListAt + 8 + kPathRecordSize * pathIndex);
    return reinterpret_cast<const char*>(mIndex.data()) + mPathListAt + stringOffset;
}

std::uint32_t ArchiveFile::EntryHash(std::uint32_t index) const { return LoadLE32(mIndex.data() + mEntriesAt + kEntrySize * index); }

void ArchiveFile::TraceSearch(const char* path) const
{
    LogTrace("%s: (%s) [this->mFilename = %s]", kSearchName, path ? path : "", mFilename.c_str());
}

bool ArchiveFile::Search(const char* path, std::uint32_t* dataOffset, std::uint32_t* dataSize) const
{
    TraceSearch(path);
    if (path == nullptr || *path == '\0') {
        LogError("%s: Empty file name", kSearchName);
        *dataOffset = 0;
        *dataSize = 0;
        return false;
    }
    if (mIndex.empty()) return false;

    // The first entry that is not before the key (hash, path) in entry order. An entry
    // without a path sorts as the empty path, which no key equals.
    const std::uint32_t hash = HashArchivePath(path);
    auto before = [this, hash, path](std::uint32_t i) {
        const std::uint32_t entryHash = EntryHash(i);
        if (entryHash != hash) return entryHash < hash;
        const char* entryPath = EntryPath(i);
        return Win32::_stricmp(entryPath ? entryPath : "", path) < 0;
    };
    std::uint32_t low = 0, high = mEntryCount;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (before(middle))
            low = middle + 1;
        else
            high = middle;
    }
    if (low == mEntryCount) return false;
    const Entry entry = GetEntry(low);
    const char* entryPath = EntryPath(low);
    if (entry.pathHash != hash || entryPath == nullptr || Win32::_stricmp(entryPath, path) != 0) return false;
    *dataOffset = entry.dataOffset;
    *dataSize = entry.dataSize;
    return mTotalDataSize != 0;
}

}  // namespace Tarn::VELL::Reader
