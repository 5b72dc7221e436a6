// Building a project listing from a loaded release manifest: binding every file to its
// storage, hashing every path, and laying everything out in the listing's one block.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_map>

#include "CStd/CStd.h"
#include "logger/Log.h"
#include "reader/ArchiveManager.h"
#include "reader/PathProcessors.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

// ---- data file handles ------------------------------------------------------------------------

Win32::HANDLE DataFileHandles::Get(const std::string& path)
{
    auto found = mHandles.find(path);
    if (found == mHandles.end()) {
        Win32::HANDLE handle = Win32::CreateFileA(path.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr,
                                                  Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == Win32::INVALID_HANDLE_VALUE) handle = nullptr;
        found = mHandles.emplace(path, handle).first;
    }
    return found->second;
}

void DataFileHandles::CloseAll()
{
    for (auto& [path, handle] : mHandles)
        if (handle) Win32::CloseHandle(handle);
    mHandles.clear();
}

// ---- binding --------------------------------------------------------------------------------

// What one binding pass reuses from file to file: the lookup's answer, and the last data file
// resolved (consecutive files mostly lie in one data file).
template <typename Entry>
struct ReleaseManifestTemplate<Entry>::BindingScratch {
    std::string dataFile;
    std::string lastDataFile;
    Win32::HANDLE lastHandle = nullptr;
    std::uint32_t lastVersion = 0;
    ArchiveVersionManager* lastManager = nullptr;  // of lastVersion; never a failed one
};

namespace {

// Appends name to a path that is kept at most kMaxPath characters long. A path that reaches
// kMaxPath names nothing a host can open; keeping it cut there keeps a deep tree of long names
// from costing time and memory that grow with the square of its depth.
void AppendToPath(std::string& path, const char* name)
{
    if (path.size() < kMaxPath) path.append(name, std_strnlen(name, kMaxPath - path.size()));
}

}  // namespace

template <typename Entry>
void ReleaseManifestTemplate<Entry>::GetFileArchiveMetadata(const char* rootDir, const char* projectRoot,
                                                            std::vector<FileBinding>& bindings,
                                                            std::vector<std::uint32_t>& parents, BindingCounts& counts,
                                                            DataFileHandles& handles) const
{
    ArchiveManager archives;
    // Files the walk does not reach stay marked missing, so they never get a storage record.
    bindings.assign(mFileCount, FileBinding{nullptr, kFlagsMissing, 0, 0, nullptr});
    parents.assign(std::size_t{mDirectoryCount} + mFileCount, 0);
    counts = {};
    if (mDirectoryCount == 0) return;

    struct Pending {
        std::uint32_t directory;
        std::string path;  // with a final '/', empty for the root
    };
    std::deque<Pending> queue;
    queue.push_back({0, std::string()});
    std::string path;
    BindingScratch scratch;
    while (!queue.empty()) {
        const Pending current = std::move(queue.front());
        queue.pop_front();
        const ManifestDirectory d = Directory(current.directory);
        for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) {
            const std::uint32_t child = d.firstSubdirectory + k;
            parents[child] = current.directory;
            const ManifestDirectory sub = Directory(child);
            if (sub.subdirectoryCount > 0 || sub.fileCount > 0) {
                std::string childPath = current.path;
                AppendToPath(childPath, String(sub.name));
                AppendToPath(childPath, "/");
                queue.push_back({child, std::move(childPath)});
            }
        }
        for (std::uint32_t k = 0; k < d.fileCount; ++k) {
            const std::uint32_t index = d.firstFile + k;
            parents[std::size_t{mDirectoryCount} + index] = current.directory;
            path.assign(current.path);
            AppendToPath(path, String(LoadFileName(index)));
            BindFile(index, path, rootDir, projectRoot, archives, scratch, bindings[index], counts, handles);
        }
    }
}

template <typename Entry>
void ReleaseManifestTemplate<Entry>::BindFile(std::uint32_t index, const std::string& path, const char* rootDir,
                                              const char* projectRoot, ArchiveManager& archives, BindingScratch& scratch,
                                              FileBinding& binding, BindingCounts& counts, DataFileHandles& handles) const
{
    const char* name = GetFileArchiveMetadataName();
    const ManifestFile file = File(index);
    binding = FileBinding{nullptr, file.flags, 0, 0, nullptr};
    const bool known = file.flags != kFlagsMissing;

    if (known && (file.flags & kFlagArchived)) {
        // A version whose archives were found stays valid for the pass; one whose archives
        // were not is asked again (and reported again) for each file.
        ArchiveVersionManager* manager = scratch.lastManager != nullptr && scratch.lastVersion == file.version
                                             ? scratch.lastManager
                                             : archives.GetVersionManager(rootDir, ProjectName(), file.version);
        if (manager != nullptr) {
            scratch.lastManager = manager;
            scratch.lastVersion = file.version;
        }
        if (manager == nullptr) {
            LogError("%s: Missing archive files for version %s: affects: %s", name, FormatVersionString(file.version).c_str(),
                     path.c_str());
            binding.flags = kFlagsMissing;
            return;
        }
        // A path that does not fit a path buffer (cut above) is never looked up: no host can open it.
        const bool found =
            path.size() < kMaxPath && manager->Find(path.c_str(), scratch.dataFile, binding.offset, binding.archiveSize);
        if (found && scratch.lastHandle != nullptr && scratch.dataFile == scratch.lastDataFile) {
            binding.handle = scratch.lastHandle;
            ++counts.archived;
            return;
        }
        char dataPath[kMaxPath];
        if (!found || !BuildArchiveDataPath(dataPath, projectRoot, file.version, scratch.dataFile.c_str())) {
            LogError("%s: Archives for version %s are missing an entry for: %s", name, FormatVersionString(file.version).c_str(),
                     path.c_str());
            binding.flags = kFlagsMissing;
            return;
        }
        binding.handle = handles.Get(dataPath);
        if (binding.handle == nullptr) {
            LogError("%s: Missing archive file: %s: affects: %s", name, dataPath, path.c_str());
            binding.flags = kFlagsMissing;
            return;
        }
        scratch.lastDataFile = scratch.dataFile;
        scratch.lastHandle = binding.handle;
        ++counts.archived;
        return;
    }

    const bool managed = known && (file.flags & kFlagManaged);
    char diskPath[kMaxPath];
    const bool built = ProjectListing::GetNakedFile(diskPath, managed ? kFileTypeManaged : kFileTypeNaked, projectRoot,
                                                    ReleaseVersion(), file.version, path.c_str());
    const Win32::DWORD attributes = built ? Win32::GetFileAttributesA(diskPath) : Win32::INVALID_FILE_ATTRIBUTES;
    if (attributes != Win32::INVALID_FILE_ATTRIBUTES && (attributes & Win32::FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ++(managed ? counts.managed : counts.naked);
        return;
    }
    LogError("%s: Missing %s file: %s", name, managed ? "managed" : "naked", built ? diskPath : path.c_str());
    binding.flags = kFlagsMissing;
}

// ---- the listing ----------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kHashBasis = 0x811C9DC5;
constexpr std::uint32_t kHashPrime = 0x01000193;

// What each byte folds into the hash: the byte as a signed character, 'A' to 'Z' taken as
// 'a' to 'z', widened with its sign (bytes 0x80 to 0xFF enter as 0xFFFFFF80 to 0xFFFFFFFF).
struct FoldTable {
    std::uint32_t value[256];
};
constexpr FoldTable MakeFoldTable()
{
    FoldTable table{};
    for (int c = 0; c < 256; ++c) {
        const int v = c >= 128 ? c - 256 : c;
        table.value[c] = static_cast<std::uint32_t>((v >= 'A' && v <= 'Z') ? v + ('a' - 'A') : v);
    }
    return table;
}
constexpr FoldTable kFold = MakeFoldTable();

inline std::uint32_t FoldByte(std::uint32_t h, char c)
{
    return (h * kHashPrime) ^ kFold.value[static_cast<unsigned char>(c)];
}

inline std::uint32_t FoldString(std::uint32_t h, const char* s)
{
    for (; *s; ++s) h = FoldByte(h, *s);
    return h;
}

std::uint32_t CompressionIdFromFlags(std::uint32_t flags)
{
    if ((flags & kFlagCompressed) == 0) return kCompressionNone;
    if (flags & kFlagZlib) return kCompressionZlib;
    if (flags & kFlagLzma) return kCompressionLzma;
    return kCompressionNone;
}

constexpr std::uint64_t Align(std::uint64_t offset) { return (offset + alignof(std::max_align_t) - 1) & ~std::uint64_t{alignof(std::max_align_t) - 1}; }

}  // namespace

std::uint32_t ProjectListing::HashPath(const char* path) { return FoldString(kHashBasis, path ? path : ""); }

std::uint32_t ProjectListing::HashPath(const char* path, std::size_t length)
{
    std::uint32_t h = kHashBasis;
    for (std::size_t i = 0; i < length; ++i) h = FoldByte(h, path[i]);
    return h;
}

template <typename Entry>
ProjectListing* ReleaseManifestTemplate<Entry>::CreateListing(const char* rootDir)
{
    const char* name = CreateListingName();
    if (!IsValid()) {
        LogError("%s: Failed to create project listing because the manifest is invalid.", name);
        return nullptr;
    }
    char projectRoot[kMaxPath];
    if (!ProjectListing::GetProjectRoot(projectRoot, rootDir, ProjectName())) {
        LogError("%s: Failed to create project listing because the project root could not be obtained.", name);
        return nullptr;
    }
    try {
        return BuildListing(rootDir, projectRoot);
    } catch (const std::bad_alloc&) {
        LogError("%s: Failed to create project listing because the data was smaller than expected.", name);
        return nullptr;
    }
}

template <typename Entry>
ProjectListing* ReleaseManifestTemplate<Entry>::BuildListing(const char* rootDir, const char* projectRoot)
{
    using Listing = ProjectListing;
    const char* name = CreateListingName();
    const std::uint32_t D = mDirectoryCount, F = mFileCount;
    const std::uint64_t n = std::uint64_t{D} + F;

    std::vector<FileBinding> bindings;
    std::vector<std::uint32_t> parents;
    BindingCounts counts;
    DataFileHandles handles;
    GetFileArchiveMetadata(rootDir, projectRoot, bindings, parents, counts, handles);

    // The data file paths, in the map's (byte) order, each followed by its terminator.
    std::unordered_map<Win32::HANDLE, std::uint64_t> pathOffsetOf;
    std::uint64_t pathBytes = 0;
    for (const auto& [path, handle] : handles.Map()) {
        if (handle) pathOffsetOf.emplace(handle, pathBytes);
        pathBytes += path.size() + 1;
    }

    // The hash of every entry the tree reaches: breadth-first from the root, each child
    // folding its name into its parent's prefix. Entries the tree does not reach stay out of
    // the table: no lookup finds them and no enumeration walks into them, so whatever their
    // own ranges claim (even each other) can never be seen.
    std::vector<std::uint32_t> hashes(n, 0);
    std::vector<bool> reached(n, false);
    if (D > 0) {
        hashes[0] = kHashBasis;
        reached[0] = true;
        std::deque<std::uint32_t> queue{0};
        while (!queue.empty()) {
            const std::uint32_t current = queue.front();
            queue.pop_front();
            const ManifestDirectory d = Directory(current);
            const std::uint32_t prefix = current == 0 ? hashes[0] : FoldByte(hashes[current], '/');
            for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) {
                const std::uint32_t child = d.firstSubdirectory + k;
                hashes[child] = FoldString(prefix, String(Directory(child).name));
                reached[child] = true;
                queue.push_back(child);
            }
            for (std::uint32_t k = 0; k < d.fileCount; ++k) {
                hashes[D + d.firstFile + k] = FoldString(prefix, String(LoadFileName(d.firstFile + k)));
                reached[D + d.firstFile + k] = true;
            }
        }
    }
    const std::uint64_t K = n - n / 8;

    // Region offsets, each region aligned for the records it holds.
    const std::uint64_t atHeader = 0;
    const std::uint64_t atCounts = Align(atHeader + sizeof(Listing::Header));
    const std::uint64_t atBuckets = Align(atCounts + sizeof(Listing::Counts));
    const std::uint64_t atSlots = Align(atBuckets + K * sizeof(Listing::Bucket));
    const std::uint64_t atOwner = Align(atSlots + n * sizeof(Listing::Slot));
    const std::uint64_t atDirectories = Align(atOwner + sizeof(Listing*));
    const std::uint64_t atFiles = Align(atDirectories + std::uint64_t{D} * sizeof(Listing::DirectoryRecord));
    const std::uint64_t atStorageCounts = Align(atFiles + std::uint64_t{F} * sizeof(Listing::FileRecord));
    const std::uint64_t atArchives = Align(atStorageCounts + sizeof(Listing::StorageCounts));
    const std::uint64_t atManaged = Align(atArchives + std::uint64_t{counts.archived} * sizeof(Listing::ArchiveFile));
    const std::uint64_t atNaked = Align(atManaged + std::uint64_t{counts.managed} * sizeof(Listing::FileInfo));
    const std::uint64_t atStrings = Align(atNaked + std::uint64_t{counts.naked} * sizeof(Listing::FileInfo));
    const std::uint64_t atPaths = atStrings + mStringDataSize;
    const std::uint64_t total = atPaths + pathBytes;
    if (total > SIZE_MAX / 2) {
        LogError("%s: Failed to create project listing because the data was smaller than expected.", name);
        return nullptr;  // the handles close with `handles`
    }
    // Every region is written in full below, so the block needs no zero-filling beforehand.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(total)]);
    std::uint8_t* base = block.get();

    Listing::Views v{};
    v.header = reinterpret_cast<Listing::Header*>(base + atHeader);
    v.counts = reinterpret_cast<Listing::Counts*>(base + atCounts);
    v.buckets = reinterpret_cast<Listing::Bucket*>(base + atBuckets);
    v.slots = reinterpret_cast<Listing::Slot*>(base + atSlots);
    v.directories = reinterpret_cast<Listing::DirectoryRecord*>(base + atDirectories);
    v.files = reinterpret_cast<Listing::FileRecord*>(base + atFiles);
    v.storageCounts = reinterpret_cast<Listing::StorageCounts*>(base + atStorageCounts);
    v.archiveFiles = reinterpret_cast<Listing::ArchiveFile*>(base + atArchives);
    v.managedFiles = reinterpret_cast<Listing::FileInfo*>(base + atManaged);
    v.nakedFiles = reinterpret_cast<Listing::FileInfo*>(base + atNaked);
    char* strings = reinterpret_cast<char*>(base + atStrings);
    char* paths = reinterpret_cast<char*>(base + atPaths);

    // Strings and data file paths.
    std::memcpy(strings, mStringData, mStringDataSize);
    auto carry = [&](const char* s) { return s ? strings + (s - mStringData) : nullptr; };
    {
        char* out = paths;
        for (const auto& [path, handle] : handles.Map()) {
            std::memcpy(out, path.c_str(), path.size() + 1);
            out += path.size() + 1;
        }
    }

    // Header, counts, directory records.
    *v.header = {carry(ProjectName()), ReleaseVersion()};
    *v.counts = {D, F, static_cast<std::uint32_t>(K)};
    for (std::uint32_t i = 0; i < D; ++i) {
        const ManifestDirectory d = Directory(i);
        Listing::DirectoryRecord& r = v.directories[i];
        r.name = carry(String(d.name));
        r.parent = i == 0 ? nullptr : &v.directories[parents[i]];
        r.firstSubdirectory = d.subdirectoryCount ? &v.directories[d.firstSubdirectory] : nullptr;
        r.subdirectoryCount = d.subdirectoryCount;
        r.firstFile = &v.files[d.fileCount ? d.firstFile : std::min(d.firstFile, F)];
        r.fileCount = d.fileCount;
    }

    // Buckets and slots: the entries grouped by bucket (a counting sort); entries kept out of
    // the table leave empty slots at the end.
    std::fill(v.slots, v.slots + n, Listing::Slot{0, 0});
    if (K > 0) {
        std::vector<std::uint32_t> bucketStart(K + 1, 0);
        for (std::uint64_t i = 0; i < n; ++i)
            if (reached[i]) ++bucketStart[hashes[i] % K + 1];
        for (std::uint64_t b = 0; b < K; ++b) bucketStart[b + 1] += bucketStart[b];
        for (std::uint64_t b = 0; b < K; ++b) v.buckets[b] = {bucketStart[b], bucketStart[b + 1] - bucketStart[b]};
        for (std::uint64_t i = 0; i < n; ++i)
            if (reached[i]) v.slots[bucketStart[hashes[i] % K]++] = {static_cast<std::uint32_t>(i), hashes[i]};
    }

    // Storage records, in file order, of the kind the binding counted; loose files start closed.
    *v.storageCounts = {counts.archived, counts.managed, counts.naked};
    std::fill(v.managedFiles, v.managedFiles + counts.managed, Listing::FileInfo{0, nullptr});
    std::fill(v.nakedFiles, v.nakedFiles + counts.naked, Listing::FileInfo{0, nullptr});
    std::uint32_t archived = 0, managed = 0, naked = 0;
    for (std::uint32_t j = 0; j < F; ++j) {
        FileBinding& b = bindings[j];
        if (b.flags == kFlagsMissing) continue;
        if (b.flags & kFlagArchived) {
            if (archived == counts.archived) continue;
            auto* record = new (&v.archiveFiles[archived++]) Listing::ArchiveFile();
            record->refCount = 0;
            record->handle = b.handle;
            record->archivePath = paths + pathOffsetOf.at(b.handle);
            record->offset = b.offset;
            record->compressionId = CompressionIdFromFlags(b.flags);
            record->archiveSize = b.archiveSize;
            b.storage = record;
        } else if (b.flags & kFlagManaged) {
            if (managed < counts.managed) b.storage = &v.managedFiles[managed++];
        } else {
            if (naked < counts.naked) b.storage = &v.nakedFiles[naked++];
        }
    }
    // Should the binding have counted more than it bound, the unused records must still be
    // valid objects for the teardown.
    for (; archived < counts.archived; ++archived) new (&v.archiveFiles[archived]) Listing::ArchiveFile();

    // File records.
    for (std::uint32_t j = 0; j < F; ++j) {
        const ManifestFile file = File(j);
        Listing::FileRecord& r = v.files[j];
        r.name = carry(String(file.name));
        r.parent = D > 0 ? &v.directories[parents[std::size_t{D} + j]] : nullptr;
        std::memcpy(r.checksum, file.checksum.data(), sizeof(r.checksum));
        r.version = file.version;
        r.size = file.size;
        r.storage = bindings[j].storage;
    }

    auto* listing = new Listing(projectRoot, std::move(block), static_cast<std::size_t>(total), v);
    handles.Release();  // the listing closes them now
    *reinterpret_cast<Listing**>(base + atOwner) = listing;
    return listing;
}

// The class is instantiated elsewhere; the members defined here are instantiated here.
template ProjectListing* ReleaseManifestTemplate<FileTableEntry>::CreateListing(const char*);
template ProjectListing* ReleaseManifestTemplate<FileTableEntry>::BuildListing(const char*, const char*);
template ProjectListing* ReleaseManifestTemplate<FileTableEntryV0>::BuildListing(const char*, const char*);
template void ReleaseManifestTemplate<FileTableEntry>::BindFile(std::uint32_t, const std::string&, const char*, const char*,
                                                                ArchiveManager&, BindingScratch&, FileBinding&, BindingCounts&,
                                                                DataFileHandles&) const;
template void ReleaseManifestTemplate<FileTableEntryV0>::BindFile(std::uint32_t, const std::string&, const char*, const char*,
                                                                  ArchiveManager&, BindingScratch&, FileBinding&, BindingCounts&,
                                                                  DataFileHandles&) const;
template ProjectListing* ReleaseManifestTemplate<FileTableEntryV0>::CreateListing(const char*);
template void ReleaseManifestTemplate<FileTableEntry>::GetFileArchiveMetadata(const char*, const char*,
                                                                              std::vector<FileBinding>&,
                                                                              std::vector<std::uint32_t>&, BindingCounts&,
                                                                              DataFileHandles&) const;
template void ReleaseManifestTemplate<FileTableEntryV0>::GetFileArchiveMetadata(const char*, const char*,
                                                                                std::vector<FileBinding>&,
                                                                                std::vector<std::uint32_t>&, BindingCounts&,
                                                                                DataFileHandles&) const;

}  // namespace Tarn::VELL::Reader
