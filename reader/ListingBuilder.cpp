// Building a project listing from a loaded release manifest: one walk of the tree binds every
// file to its storage and hashes every path, then everything is laid out in the listing's
// one block.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_map>

#include "CStd/CStd.h"
#include "logger/Log.h"
#include "reader/ArchiveManager.h"
#include "reader/PathHash.h"
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
                                                            ListingInputs& inputs) const
{
    const std::uint32_t D = mDirectoryCount;
    const std::size_t n = std::size_t{D} + mFileCount;
    ArchiveManager archives;
    // Files the walk does not reach stay marked missing, so they never get a storage record.
    inputs.bindings.assign(mFileCount, FileBinding{nullptr, kFlagsMissing, 0, 0});
    inputs.parents.assign(n, 0);
    inputs.hashes.assign(n, 0);
    inputs.reached.assign(n, false);
    inputs.counts = {};
    if (D == 0) return;

    // Each directory waits with its path (cut at kMaxPath, with a final '/', empty for the
    // root) and the hash of its path followed by '/' (for the root, of the empty path).
    struct Pending {
        std::uint32_t directory;
        std::string path;
        std::uint32_t prefixHash;
    };
    inputs.hashes[0] = PathHash::kListingBasis;
    inputs.reached[0] = true;
    std::deque<Pending> queue;
    queue.push_back({0, std::string(), PathHash::kListingBasis});
    std::string path;
    BindingScratch scratch;
    while (!queue.empty()) {
        const Pending current = std::move(queue.front());
        queue.pop_front();
        const ManifestDirectory d = Directory(current.directory);
        for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) {
            const std::uint32_t child = d.firstSubdirectory + k;
            const ManifestDirectory sub = Directory(child);
            const char* name = String(sub.name);
            inputs.parents[child] = current.directory;
            inputs.hashes[child] = PathHash::ListingContinue(current.prefixHash, name);
            inputs.reached[child] = true;
            if (sub.subdirectoryCount > 0 || sub.fileCount > 0) {
                std::string childPath = current.path;
                AppendToPath(childPath, name);
                AppendToPath(childPath, "/");
                queue.push_back({child, std::move(childPath), PathHash::ListingStep(inputs.hashes[child], '/')});
            }
        }
        for (std::uint32_t k = 0; k < d.fileCount; ++k) {
            const std::uint32_t index = d.firstFile + k;
            const char* name = String(LoadFileName(index));
            inputs.parents[D + index] = current.directory;
            inputs.hashes[D + index] = PathHash::ListingContinue(current.prefixHash, name);
            inputs.reached[D + index] = true;
            path.assign(current.path);
            AppendToPath(path, name);
            BindFile(index, path, rootDir, projectRoot, archives, scratch, inputs.bindings[index], inputs.counts,
                     inputs.handles);
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
    binding = FileBinding{nullptr, file.flags, 0, 0};
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

std::uint32_t CompressionIdFromFlags(std::uint32_t flags)
{
    if ((flags & kFlagCompressed) == 0) return kCompressionNone;
    if (flags & kFlagZlib) return kCompressionZlib;
    if (flags & kFlagLzma) return kCompressionLzma;
    return kCompressionNone;
}

constexpr std::uint64_t Align(std::uint64_t offset) { return (offset + alignof(std::max_align_t) - 1) & ~std::uint64_t{alignof(std::max_align_t) - 1}; }

}  // namespace

std::uint32_t ProjectListing::HashPath(const char* path)
{
    return PathHash::ListingContinue(PathHash::kListingBasis, path ? path : "");
}

std::uint32_t ProjectListing::HashPath(const char* path, std::size_t length) { return PathHash::ListingHash(path, length); }

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

ProjectListing::Layout ProjectListing::Layout::Plan(std::uint64_t bucketCount, std::uint32_t directoryCount,
                                                    std::uint32_t fileCount, const StorageCounts& storage,
                                                    std::uint64_t stringBytes, std::uint64_t pathBytes)
{
    const std::uint64_t entryCount = std::uint64_t{directoryCount} + fileCount;
    Layout at{};
    at.header = 0;
    at.counts = Align(at.header + sizeof(Header));
    at.buckets = Align(at.counts + sizeof(Counts));
    at.slots = Align(at.buckets + bucketCount * sizeof(Bucket));
    at.owner = Align(at.slots + entryCount * sizeof(Slot));
    at.directories = Align(at.owner + sizeof(ProjectListing*));
    at.files = Align(at.directories + std::uint64_t{directoryCount} * sizeof(DirectoryRecord));
    at.storageCounts = Align(at.files + std::uint64_t{fileCount} * sizeof(FileRecord));
    at.archiveFiles = Align(at.storageCounts + sizeof(StorageCounts));
    at.managedFiles = Align(at.archiveFiles + std::uint64_t{storage.archived} * sizeof(ArchiveFile));
    at.nakedFiles = Align(at.managedFiles + std::uint64_t{storage.managed} * sizeof(FileInfo));
    at.strings = Align(at.nakedFiles + std::uint64_t{storage.naked} * sizeof(FileInfo));
    at.paths = at.strings + stringBytes;
    at.total = at.paths + pathBytes;
    return at;
}

ProjectListing::Views ProjectListing::Layout::ViewsAt(std::uint8_t* base) const
{
    Views v{};
    v.header = reinterpret_cast<Header*>(base + header);
    v.counts = reinterpret_cast<Counts*>(base + counts);
    v.buckets = reinterpret_cast<Bucket*>(base + buckets);
    v.slots = reinterpret_cast<Slot*>(base + slots);
    v.directories = reinterpret_cast<DirectoryRecord*>(base + directories);
    v.files = reinterpret_cast<FileRecord*>(base + files);
    v.storageCounts = reinterpret_cast<StorageCounts*>(base + storageCounts);
    v.archiveFiles = reinterpret_cast<ArchiveFile*>(base + archiveFiles);
    v.managedFiles = reinterpret_cast<FileInfo*>(base + managedFiles);
    v.nakedFiles = reinterpret_cast<FileInfo*>(base + nakedFiles);
    return v;
}

template <typename Entry>
ProjectListing* ReleaseManifestTemplate<Entry>::BuildListing(const char* rootDir, const char* projectRoot)
{
    using Listing = ProjectListing;
    const char* name = CreateListingName();
    const std::uint32_t D = mDirectoryCount, F = mFileCount;
    const std::uint64_t n = std::uint64_t{D} + F;

    ListingInputs inputs;
    GetFileArchiveMetadata(rootDir, projectRoot, inputs);
    const BindingCounts& counts = inputs.counts;

    // The data file paths, in the map's (byte) order, each followed by its terminator.
    std::unordered_map<Win32::HANDLE, std::uint64_t> pathOffsetOf;
    std::uint64_t pathBytes = 0;
    for (const auto& [path, handle] : inputs.handles.Map()) {
        if (handle) pathOffsetOf.emplace(handle, pathBytes);
        pathBytes += path.size() + 1;
    }

    const std::uint64_t K = n - n / 8;
    const Listing::Layout at = Listing::Layout::Plan(K, D, F, {counts.archived, counts.managed, counts.naked},
                                                     mStringDataSize, pathBytes);
    if (at.total > SIZE_MAX / 2) {
        LogError("%s: Failed to create project listing because the data was smaller than expected.", name);
        return nullptr;  // the handles close with `inputs`
    }
    // Every region is written in full below, so the block needs no zero-filling beforehand.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(at.total)]);
    std::uint8_t* base = block.get();
    const Listing::Views v = at.ViewsAt(base);
    char* strings = reinterpret_cast<char*>(base + at.strings);
    char* paths = reinterpret_cast<char*>(base + at.paths);

    // Strings and data file paths.
    std::memcpy(strings, mStringData, mStringDataSize);
    auto carry = [&](const char* s) { return s ? strings + (s - mStringData) : nullptr; };
    {
        char* out = paths;
        for (const auto& [path, handle] : inputs.handles.Map()) {
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
        r.parent = i == 0 ? nullptr : &v.directories[inputs.parents[i]];
        r.firstSubdirectory = d.subdirectoryCount ? &v.directories[d.firstSubdirectory] : nullptr;
        r.subdirectoryCount = d.subdirectoryCount;
        r.firstFile = &v.files[d.fileCount ? d.firstFile : std::min(d.firstFile, F)];
        r.fileCount = d.fileCount;
    }

    // Buckets and slots: the reached entries grouped by bucket (a counting sort); entries kept
    // out of the table leave empty slots at the end. Entries the tree does not reach are not
    // in the table: no lookup finds them and no enumeration walks into them, so whatever
    // their own ranges claim (even each other) can never be seen.
    const std::vector<std::uint32_t>& hashes = inputs.hashes;
    const std::vector<bool>& reached = inputs.reached;
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

    // File records, each with its storage record: in file order, of the kind the binding
    // counted; loose files start closed.
    *v.storageCounts = {counts.archived, counts.managed, counts.naked};
    std::fill(v.managedFiles, v.managedFiles + counts.managed, Listing::FileInfo{0, nullptr});
    std::fill(v.nakedFiles, v.nakedFiles + counts.naked, Listing::FileInfo{0, nullptr});
    std::uint32_t archived = 0, managed = 0, naked = 0;
    for (std::uint32_t j = 0; j < F; ++j) {
        const FileBinding& b = inputs.bindings[j];
        void* storage = nullptr;
        if (b.flags == kFlagsMissing) {
            // no content, no storage
        } else if (b.flags & kFlagArchived) {
            if (archived < counts.archived) {
                auto* record = new (&v.archiveFiles[archived++]) Listing::ArchiveFile();
                record->refCount = 0;
                record->handle = b.handle;
                record->archivePath = paths + pathOffsetOf.at(b.handle);
                record->offset = b.offset;
                record->compressionId = CompressionIdFromFlags(b.flags);
                record->archiveSize = b.archiveSize;
                storage = record;
            }
        } else if (b.flags & kFlagManaged) {
            if (managed < counts.managed) storage = &v.managedFiles[managed++];
        } else {
            if (naked < counts.naked) storage = &v.nakedFiles[naked++];
        }

        const ManifestFile file = File(j);
        Listing::FileRecord& r = v.files[j];
        r.name = carry(String(file.name));
        r.parent = D > 0 ? &v.directories[inputs.parents[std::size_t{D} + j]] : nullptr;
        std::memcpy(r.checksum, file.checksum.data(), sizeof(r.checksum));
        r.version = file.version;
        r.size = file.size;
        r.storage = storage;
    }
    // Should the binding have counted more than it bound, the unused records must still be
    // valid objects for the teardown.
    for (; archived < counts.archived; ++archived) new (&v.archiveFiles[archived]) Listing::ArchiveFile();

    auto* listing = new Listing(projectRoot, std::move(block), static_cast<std::size_t>(at.total), v);
    inputs.handles.Release();  // the listing closes them now
    *reinterpret_cast<Listing**>(base + at.owner) = listing;
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
                                                                              ListingInputs&) const;
template void ReleaseManifestTemplate<FileTableEntryV0>::GetFileArchiveMetadata(const char*, const char*,
                                                                                ListingInputs&) const;

}  // namespace Tarn::VELL::Reader
