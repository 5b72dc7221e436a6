#include "reader/ReleaseManifest.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>

#include "CStd/ByteOrder.h"
#include "CStd/PathComponent.h"
#include "CStd/StdFile.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/FileReads.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kLoadName[] = "Tarn::VELL::Reader::ReleaseManifest::Load";
constexpr std::uint32_t kHeaderSize = 32;  // the smallest file: no directories, files or strings
constexpr std::uint32_t kDirectorySize = 20;

bool NameLess(const char* a, const char* b) { return Win32::_stricmp(a, b) < 0; }

// The manifest over the file's record layout; a name refused by the checks is reported here,
// before the caller reports the manifest as invalid.
template <typename Entry>
std::unique_ptr<ReleaseManifest> Construct(ByteBuffer buffer)
{
    auto manifest = std::make_unique<ReleaseManifestTemplate<Entry>>(std::move(buffer));
    if (manifest->RefusedNameKind() != nullptr)
        LogError("%s: The %s name \"%s\" is not a plain path component.", kLoadName, manifest->RefusedNameKind(),
                 manifest->RefusedName().c_str());
    return manifest;
}

}  // namespace

// ---- loading --------------------------------------------------------------------------------

std::unique_ptr<ReleaseManifest> ReleaseManifest::Load(const char* path)
{
    LogInfo("%s: (\"%s\")", kLoadName, path ? path : "");

    struct Win32::_stat64i32 status {};
    const bool regular = path != nullptr && Win32::_stat64i32(path, &status) == 0 &&
                         (status.st_mode & Win32::_S_IFMT) == Win32::_S_IFREG;
    if (regular && status.st_size < 8) {
        LogError("%s: Failure while reading header", kLoadName);
        return nullptr;
    }
    // Whatever is not a regular file (missing, a directory, too large to describe) fails at
    // the open, with the open's own report.
    std::FILE* stream = std_fopen(path, "rb");
    if (stream != nullptr && !regular) {
        Win32::fclose(stream);
        stream = nullptr;
    }
    if (stream == nullptr) {
        LogError("%s: Failed to open \"%s\".", kLoadName, path ? path : "");
        return nullptr;
    }

    ByteBuffer buffer;
    const auto size = static_cast<std::uint32_t>(status.st_size);
    bool read = false;
    try {
        buffer.resize(size);
        read = Win32::fread(buffer.data(), 1, size, stream) == size;
    } catch (const std::bad_alloc&) {
        read = false;
    }
    if (!read) {
        LogSystemError(kLoadName, Win32::ferror(stream));
        LogError("%s: Failure while reading header", kLoadName);
        Win32::fclose(stream);
        return nullptr;
    }
    Win32::fclose(stream);

    if (LoadLE32(buffer.data()) != kReleaseManifestMagic) {
        LogError("%s: Failed to find magic value", kLoadName);
        return nullptr;
    }
    const std::uint32_t formatVersion = LoadLE32(buffer.data() + 4);
    std::unique_ptr<ReleaseManifest> manifest;
    try {
        if (formatVersion == kReleaseManifestVersion0) {
            manifest = Construct<FileTableEntryV0>(std::move(buffer));
        } else if (formatVersion == kReleaseManifestVersion) {
            manifest = Construct<FileTableEntry>(std::move(buffer));
        } else {
            LogError("%s: Invalid version.  Current version is 0x%08lx, found 0x%08lx", kLoadName,
                     static_cast<unsigned long>(kReleaseManifestVersion), static_cast<unsigned long>(formatVersion));
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        manifest.reset();
    }
    if (manifest == nullptr || !manifest->IsValid()) {
        LogError("%s: The release manifest is invalid.  The file may be truncated.", kLoadName);
        return nullptr;
    }
    return manifest;
}

// ---- construction and checks --------------------------------------------------------------

template <typename Entry>
ReleaseManifestTemplate<Entry>::ReleaseManifestTemplate(ByteBuffer buffer) : mBuffer(std::move(buffer))
{
    if (!CheckRegions()) {
        Invalidate();
        return;
    }
    CollectStrings(LoadLE32(mStringData - 8));
    if (!CheckTree() || !CheckNames()) {
        Invalidate();
        return;
    }
    NormaliseSiblingOrder();
}

template <typename Entry>
void ReleaseManifestTemplate<Entry>::Invalidate()
{
    mBuffer.clear();
    mBuffer.shrink_to_fit();
    mDirectoryCount = mFileCount = mStringDataSize = 0;
    mDirectories = mFiles = nullptr;
    mStringData = nullptr;
    mStrings.clear();
}

// Every region must lie within the buffer; sizes are computed in 64 bits so that no count
// can wrap around.
template <typename Entry>
bool ReleaseManifestTemplate<Entry>::CheckRegions()
{
    const std::uint64_t end = mBuffer.size();
    if (end < kHeaderSize) return false;
    std::uint8_t* base = mBuffer.data();
    mDirectoryCount = LoadLE32(base + 16);
    const std::uint64_t fileCountAt = 20 + std::uint64_t{kDirectorySize} * mDirectoryCount;
    if (fileCountAt + 4 > end) return false;
    mDirectories = base + 20;
    mFileCount = LoadLE32(base + fileCountAt);
    const std::uint64_t stringHeaderAt = fileCountAt + 4 + std::uint64_t{Entry::kSize} * mFileCount;
    if (stringHeaderAt + 8 > end) return false;
    mFiles = base + fileCountAt + 4;
    mStringDataSize = LoadLE32(base + stringHeaderAt + 4);
    if (stringHeaderAt + 8 + mStringDataSize > end) return false;
    mStringData = reinterpret_cast<const char*>(base + stringHeaderAt + 8);
    return true;
}

// Strings are taken from the declared string data only: a pointer to bytes behind it could
// not be carried into a listing, which copies just the declared data.
template <typename Entry>
void ReleaseManifestTemplate<Entry>::CollectStrings(std::uint32_t capacityHint)
{
    // Each string takes at least one byte, so the hint never needs to exceed the data size;
    // it is only a hint, so a capacity that cannot be had is not an error.
    try {
        mStrings.reserve(std::min(capacityHint, mStringDataSize));
    } catch (const std::bad_alloc&) {
    }
    const char* start = mStringData;
    const char* end = mStringData + mStringDataSize;
    while (start < end) {
        const auto* terminator = static_cast<const char*>(std::memchr(start, '\0', static_cast<std::size_t>(end - start)));
        if (terminator == nullptr) break;  // bytes without a terminator form no string
        mStrings.push_back(static_cast<std::uint32_t>(start - mStringData));
        start = terminator + 1;
    }
}

template <typename Entry>
bool ReleaseManifestTemplate<Entry>::CheckTree()
{
    const std::uint32_t strings = StringCount();
    // A release that lists nothing needs no name to list it under: the smallest manifest (no
    // directories, files or strings) is valid, and its ProjectName() is null.
    const bool listsNothing = mDirectoryCount == 0 && mFileCount == 0;
    if (!listsNothing && LoadLE32(mBuffer.data() + 8) >= strings) return false;
    if (mFileCount > 0 && mDirectoryCount == 0) return false;  // files need a directory to hold them

    for (std::uint32_t i = 0; i < mDirectoryCount; ++i) {
        const ManifestDirectory d = Directory(i);
        if (d.name >= strings) return false;
        if (d.subdirectoryCount > 0 && std::uint64_t{d.firstSubdirectory} + d.subdirectoryCount > mDirectoryCount) return false;
        if (d.fileCount > 0 && std::uint64_t{d.firstFile} + d.fileCount > mFileCount) return false;
    }
    for (std::uint32_t i = 0; i < mFileCount; ++i)
        if (LoadFileName(i) >= strings) return false;

    // A tree: no directory or file is claimed by two ranges and the root by none. Claims made
    // by directories the root does not reach count too; what nothing reachable claims is
    // simply left out of the tree.
    std::vector<bool> directoryClaimed(mDirectoryCount, false), fileClaimed(mFileCount, false);
    for (std::uint32_t i = 0; i < mDirectoryCount; ++i) {
        const ManifestDirectory d = Directory(i);
        for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) {
            const std::uint32_t child = d.firstSubdirectory + k;
            if (child == 0 || directoryClaimed[child]) return false;
            directoryClaimed[child] = true;
        }
        for (std::uint32_t k = 0; k < d.fileCount; ++k) {
            if (fileClaimed[d.firstFile + k]) return false;
            fileClaimed[d.firstFile + k] = true;
        }
    }
    return true;
}

// Every name that can become part of a disk path; the indexes are known to be valid. The
// root's own name never does. The first name refused is kept for the report.
template <typename Entry>
bool ReleaseManifestTemplate<Entry>::CheckNames()
{
    auto refuse = [this](const char* kind, const char* name) {
        mRefusedNameKind = kind;
        mRefusedName = name;
        return false;
    };
    if (const char* project = String(LoadLE32(mBuffer.data() + 8)); project != nullptr && !IsPlainPathComponent(project))
        return refuse("project", project);
    for (std::uint32_t i = 1; i < mDirectoryCount; ++i)
        if (const char* name = String(Directory(i).name); !IsPlainPathComponent(name)) return refuse("directory", name);
    for (std::uint32_t i = 0; i < mFileCount; ++i)
        if (const char* name = String(LoadFileName(i)); !IsPlainPathComponent(name)) return refuse("file", name);
    return true;
}

// Breadth-first from the root: each visited directory's subdirectories are sorted into
// descending name order and the range reversed (leaving it ascending), its files sorted
// ascending. Records move whole, keeping their own child ranges, so the tree stays intact.
template <typename Entry>
void ReleaseManifestTemplate<Entry>::NormaliseSiblingOrder()
{
    if (mDirectoryCount == 0) return;
    struct Record {
        const char* name;
        std::array<std::uint8_t, Entry::kSize> bytes;
    };
    std::vector<Record> scratch;
    auto sortRange = [&](std::uint8_t* first, std::uint32_t count, std::uint32_t size, bool descending) {
        if (count < 2) return;
        scratch.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::memcpy(scratch[i].bytes.data(), first + size * i, size);
            scratch[i].name = String(LoadLE32(first + size * i));
        }
        std::sort(scratch.begin(), scratch.end(), [descending](const Record& a, const Record& b) {
            return descending ? NameLess(b.name, a.name) : NameLess(a.name, b.name);
        });
        if (descending) std::reverse(scratch.begin(), scratch.end());
        for (std::uint32_t i = 0; i < count; ++i) std::memcpy(first + size * i, scratch[i].bytes.data(), size);
    };

    std::deque<std::uint32_t> queue{0};
    while (!queue.empty()) {
        const ManifestDirectory d = Directory(queue.front());
        queue.pop_front();
        sortRange(DirectoryRecord(d.firstSubdirectory), d.subdirectoryCount, kDirectorySize, true);
        sortRange(mFiles + std::uint64_t{Entry::kSize} * d.firstFile, d.fileCount, Entry::kSize, false);
        for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) queue.push_back(d.firstSubdirectory + k);
    }
}

// ---- access --------------------------------------------------------------------------------

template <typename Entry>
std::uint32_t ReleaseManifestTemplate<Entry>::FormatVersion() const
{
    return IsValid() ? LoadLE32(mBuffer.data() + 4) : 0;
}

template <typename Entry>
const char* ReleaseManifestTemplate<Entry>::ProjectName() const
{
    return IsValid() ? String(LoadLE32(mBuffer.data() + 8)) : nullptr;
}

template <typename Entry>
std::uint32_t ReleaseManifestTemplate<Entry>::ReleaseVersion() const
{
    return IsValid() ? LoadLE32(mBuffer.data() + 12) : 0;
}

template <typename Entry>
ManifestDirectory ReleaseManifestTemplate<Entry>::Directory(std::uint32_t index) const
{
    const std::uint8_t* r = DirectoryRecord(index);
    return {LoadLE32(r), LoadLE32(r + 4), LoadLE32(r + 8), LoadLE32(r + 12), LoadLE32(r + 16)};
}

template <typename Entry>
ManifestFile ReleaseManifestTemplate<Entry>::File(std::uint32_t index) const
{
    const std::uint8_t* r = FileRecord(index);
    ManifestFile file{};
    file.name = LoadLE32(r);
    file.version = LoadLE32(r + 4);
    std::memcpy(file.checksum.data(), r + 8, 16);
    file.flags = LoadLE32(r + 24);
    file.size = LoadLE32(r + 28);
    return file;
}

template <typename Entry>
std::uint32_t ReleaseManifestTemplate<Entry>::LoadFileName(std::uint32_t index) const
{
    return LoadLE32(FileRecord(index));
}

template <typename Entry>
const char* ReleaseManifestTemplate<Entry>::CreateListingName()
{
    if constexpr (std::is_same_v<Entry, FileTableEntry>)
        return "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::CreateListing";
    else
        return "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntryV0>::CreateListing";
}

template <typename Entry>
const char* ReleaseManifestTemplate<Entry>::GetFileArchiveMetadataName()
{
    if constexpr (std::is_same_v<Entry, FileTableEntry>)
        return "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::GetFileArchiveMetadata";
    else
        return "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntryV0>::GetFileArchiveMetadata";
}

template class ReleaseManifestTemplate<FileTableEntry>;
template class ReleaseManifestTemplate<FileTableEntryV0>;

}  // namespace Tarn::VELL::Reader
