// Building a project listing from a loaded release manifest: one walk of the tree binds every
// file to its storage and hashes every path, then everything is laid out in the listing's
// one block.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>

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

DataFileHandles::Opened DataFileHandles::Get(const std::string& path)
{
    auto found = mHandles.find(path);
    if (found == mHandles.end()) {
        Win32::HANDLE handle = Win32::CreateFileA(path.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr,
                                                  Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == Win32::INVALID_HANDLE_VALUE) handle = nullptr;
        found = mHandles.emplace(path, Opened{handle, static_cast<std::uint32_t>(mHandles.size())}).first;
    }
    return found->second;
}

void DataFileHandles::CloseAll()
{
    for (auto& [path, opened] : mHandles)
        if (opened.handle) Win32::CloseHandle(opened.handle);
    mHandles.clear();
}

// ---- the walk ---------------------------------------------------------------------------------

namespace {

// Appends name to a path that is kept at most kMaxPath characters long. A path that reaches
// kMaxPath names nothing a host can open (nor is it found by a lookup); keeping it cut there
// keeps a deep tree of long names from costing time and memory that grow with the square of
// its depth.
void AppendToPath(std::string& path, const char* name)
{
    if (path.size() < kMaxPath) path.append(name, std_strnlen(name, kMaxPath - path.size()));
}

}  // namespace

template <typename Entry>
template <typename State, typename OnDirectory, typename OnFiles, typename OnFile>
void ReleaseManifestTemplate<Entry>::WalkTree(State rootState, OnDirectory&& onDirectory, OnFiles&& onFiles,
                                              OnFile&& onFile) const
{
    if (mDirectoryCount == 0) return;
    // Each directory waits with its state and its path followed by '/' (the root: empty).
    struct Pending {
        std::uint32_t directory;
        State state;
        std::string path;
    };
    std::deque<Pending> queue;
    queue.push_back({0, std::move(rootState), std::string()});
    std::string path;
    FileVisit batch[kWalkBatch];
    while (!queue.empty()) {
        const Pending current = std::move(queue.front());
        queue.pop_front();
        const ManifestDirectory d = Directory(current.directory);
        for (std::uint32_t k = 0; k < d.subdirectoryCount; ++k) {
            const std::uint32_t child = d.firstSubdirectory + k;
            const ManifestDirectory sub = Directory(child);
            const char* name = String(sub.name);
            path.assign(current.path);
            AppendToPath(path, name);
            State state = onDirectory(child, name, ProjectListing::BucketHash(path.data(), path.size()), current.directory,
                                      current.state);
            if (sub.subdirectoryCount > 0 || sub.fileCount > 0) {
                AppendToPath(path, "/");
                queue.push_back({child, std::move(state), path});
            }
        }
        for (std::uint32_t first = 0; first < d.fileCount; first += kWalkBatch) {
            const std::uint32_t count = std::min(kWalkBatch, d.fileCount - first);
            for (std::uint32_t k = 0; k < count; ++k) {
                FileVisit& file = batch[k];
                file.index = d.firstFile + first + k;
                file.name = String(LoadFileName(file.index));
                file.path.assign(current.path);
                AppendToPath(file.path, file.name);
                file.hash = ProjectListing::BucketHash(file.path.data(), file.path.size());
            }
            onFiles(static_cast<const FileVisit*>(batch), count, current.state);
            for (std::uint32_t k = 0; k < count; ++k) onFile(batch[k], current.directory, current.state);
        }
    }
}

// ---- binding --------------------------------------------------------------------------------

// What one binding pass reuses from file to file: the lookup's answer, and the last data file
// resolved (consecutive files mostly lie in one data file).
template <typename Entry>
struct ReleaseManifestTemplate<Entry>::BindingScratch {
    std::string dataFile;
    const ArchiveFile* lastArchive = nullptr;  // whose data file lastOpened is
    DataFileHandles::Opened lastOpened{nullptr, 0};
    std::uint32_t lastVersion = 0;
    ArchiveVersionManager* lastManager = nullptr;  // of lastVersion; never a failed one
};

template <typename Entry>
void ReleaseManifestTemplate<Entry>::GetFileArchiveMetadata(const char* rootDir, const char* projectRoot,
                                                            ListingInputs& inputs) const
{
    const std::uint64_t n = std::uint64_t{mDirectoryCount} + mFileCount;
    const auto bucketCount = static_cast<std::uint32_t>(n - n / 8);
    const std::uint64_t bucketFactor = ProjectListing::BucketFactor(bucketCount);
    ArchiveManager archives;
    // Files the walk does not reach stay marked missing, so they never get a storage record.
    inputs.bindings.assign(mFileCount, FileBinding{kFlagsMissing, 0, 0, 0});
    inputs.bucketSizes.assign(bucketCount, 0);
    inputs.counts = {};
    if (mDirectoryCount == 0) return;

    auto count = [&](std::uint32_t hash) { ++inputs.bucketSizes[ProjectListing::BucketOf(hash, bucketFactor, bucketCount)]; };
    count(ProjectListing::BucketHash("", 0));  // the root
    BindingScratch scratch;
    // A directory's state: the archive hash of its path followed by '/'. What a batch of files
    // will look up (their bucket's count, the archive table's slots, then the paths those
    // slots point at) is fetched ahead, when their version's archives are known already.
    WalkTree(
        std::uint32_t{0},
        [&](std::uint32_t, const char* name, std::uint32_t hash, std::uint32_t, std::uint32_t parentHash) {
            count(hash);
            return PathHash::ArchiveStep(PathHash::ArchiveContinue(parentHash, name), '/');
        },
        [&](const FileVisit* files, std::uint32_t n, std::uint32_t parentHash) {
            std::uint32_t archiveHash[kWalkBatch];
            for (std::uint32_t k = 0; k < n; ++k) {
                TARN_PREFETCH(&inputs.bucketSizes[ProjectListing::BucketOf(files[k].hash, bucketFactor, bucketCount)]);
                archiveHash[k] = PathHash::ArchiveContinue(parentHash, files[k].name);
                if (scratch.lastManager && File(files[k].index).version == scratch.lastVersion)
                    scratch.lastManager->PrefetchSlot(archiveHash[k]);
            }
            for (std::uint32_t k = 0; k < n; ++k)
                if (scratch.lastManager && File(files[k].index).version == scratch.lastVersion)
                    scratch.lastManager->PrefetchPath(archiveHash[k]);
        },
        [&](const FileVisit& file, std::uint32_t, std::uint32_t parentHash) {
            count(file.hash);
            BindFile(file.index, file.path, PathHash::ArchiveContinue(parentHash, file.name), rootDir, projectRoot, archives,
                     scratch, inputs.bindings[file.index], inputs.counts, inputs.handles);
        });
}

template <typename Entry>
void ReleaseManifestTemplate<Entry>::BindFile(std::uint32_t index, const std::string& path, std::uint32_t archiveHash,
                                              const char* rootDir, const char* projectRoot, ArchiveManager& archives,
                                              BindingScratch& scratch, FileBinding& binding, BindingCounts& counts,
                                              DataFileHandles& handles) const
{
    const char* name = GetFileArchiveMetadataName();
    const ManifestFile file = File(index);
    binding = FileBinding{file.flags, 0, 0, 0};
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
        const ArchiveFile* archive =
            path.size() < kMaxPath ? manager->FindArchive(path.c_str(), archiveHash, binding.offset, binding.archiveSize) : nullptr;
        if (archive != nullptr && archive == scratch.lastArchive && scratch.lastOpened.handle != nullptr) {
            binding.dataFile = scratch.lastOpened.number;
            ++counts.archived;
            return;
        }
        char dataPath[kMaxPath];
        if (archive != nullptr) scratch.dataFile.assign(archive->Filename()).append(".dat");
        if (archive == nullptr || !BuildArchiveDataPath(dataPath, projectRoot, file.version, scratch.dataFile.c_str())) {
            LogError("%s: Archives for version %s are missing an entry for: %s", name, FormatVersionString(file.version).c_str(),
                     path.c_str());
            binding.flags = kFlagsMissing;
            return;
        }
        const DataFileHandles::Opened opened = handles.Get(dataPath);
        if (opened.handle == nullptr) {
            LogError("%s: Missing archive file: %s: affects: %s", name, dataPath, path.c_str());
            binding.flags = kFlagsMissing;
            return;
        }
        binding.dataFile = opened.number;
        scratch.lastArchive = archive;
        scratch.lastOpened = opened;
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

std::uint32_t ProjectListing::BucketHash(const char* path, std::size_t length) { return PathHash::BucketHash(path, length); }

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

ProjectListing::Layout ProjectListing::Layout::Plan(std::uint64_t slotCount, std::uint32_t directoryCount,
                                                    std::uint32_t fileCount, const StorageCounts& storage,
                                                    std::uint64_t textBytes, std::uint64_t stringBytes)
{
    Layout at{};
    at.header = 0;
    at.counts = Align(at.header + sizeof(Header));
    at.owner = Align(at.counts + sizeof(Counts));
    at.directories = Align(at.owner + sizeof(ProjectListing*));
    at.files = Align(at.directories + std::uint64_t{directoryCount} * sizeof(DirectoryRecord));
    at.storageCounts = Align(at.files + std::uint64_t{fileCount} * sizeof(FileRecord));
    at.archiveFiles = Align(at.storageCounts + sizeof(StorageCounts));
    at.managedFiles = Align(at.archiveFiles + std::uint64_t{storage.archived} * sizeof(ArchiveFile));
    at.nakedFiles = Align(at.managedFiles + std::uint64_t{storage.managed} * sizeof(FileInfo));
    at.dataFiles = Align(at.nakedFiles + std::uint64_t{storage.naked} * sizeof(FileInfo));
    at.slots = (at.dataFiles + std::uint64_t{storage.dataFiles} * sizeof(DataFile) + 63) & ~std::uint64_t{63};
    at.texts = at.slots + slotCount * sizeof(Slot);
    at.strings = at.texts + textBytes;
    at.total = at.strings + stringBytes;
    return at;
}

ProjectListing::Views ProjectListing::Layout::ViewsAt(std::uint8_t* base) const
{
    Views v{};
    v.header = reinterpret_cast<Header*>(base + header);
    v.counts = reinterpret_cast<Counts*>(base + counts);
    v.slots = reinterpret_cast<Slot*>(base + slots);
    v.directories = reinterpret_cast<DirectoryRecord*>(base + directories);
    v.files = reinterpret_cast<FileRecord*>(base + files);
    v.storageCounts = reinterpret_cast<StorageCounts*>(base + storageCounts);
    v.archiveFiles = reinterpret_cast<ArchiveFile*>(base + archiveFiles);
    v.managedFiles = reinterpret_cast<FileInfo*>(base + managedFiles);
    v.nakedFiles = reinterpret_cast<FileInfo*>(base + nakedFiles);
    v.dataFiles = reinterpret_cast<DataFile*>(base + dataFiles);
    v.texts = reinterpret_cast<char*>(base + texts);
    return v;
}

// The block is filled in two stages so that its pages and the binding's records are not all
// resident at once: first what the bindings give (the storage records, the file records'
// sizes and storage), then, the bindings freed, the rest (texts, names and parents, the
// lookup table). The manifest stays readable throughout.
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

    // The lookup table: each bucket from its home slot on, or right after the bucket before it
    // when that one reaches further; bucketSizes becomes each bucket's next free slot. One
    // empty slot after the last one reached (or the last home) ends every search.
    const auto K = static_cast<std::uint32_t>(inputs.bucketSizes.size());
    const std::uint64_t bucketFactor = Listing::BucketFactor(K);
    const std::uint64_t homeFactor = Listing::HomeFactor(n + n / 8, K);
    std::vector<std::uint32_t>& nextSlot = inputs.bucketSizes;
    std::uint64_t used = 0;
    for (std::uint32_t b = 0; b < K; ++b) {
        const std::uint64_t first = std::max(Listing::BucketHome(b, homeFactor), used);
        used = first + nextSlot[b];
        nextSlot[b] = static_cast<std::uint32_t>(first);
    }
    const std::uint64_t slotCount = K == 0 ? 0 : std::max(used, Listing::BucketHome(K - 1, homeFactor) + 1) + 1;

    // Texts: every directory's (an index, a parent's offset, the name and its terminator), then
    // every file's name.
    std::uint64_t directoryTextBytes = 0, textBytes = 0;
    for (std::uint32_t i = 0; i < D; ++i)
        directoryTextBytes += Listing::kTextHeader + std::strlen(String(Directory(i).name)) + 1;
    for (std::uint32_t j = 0; j < F; ++j) textBytes += std::strlen(String(LoadFileName(j))) + 1;
    textBytes += directoryTextBytes;

    // Strings: the project name, then the data files' paths in the map's (byte) order; a data
    // file's number becomes its place in that order.
    const char* projectName = ProjectName();
    std::uint64_t stringBytes = projectName ? std::strlen(projectName) + 1 : 0;
    std::vector<std::uint32_t> dataFilePlace(inputs.handles.Map().size());
    {
        std::uint32_t place = 0;
        for (const auto& [path, opened] : inputs.handles.Map()) {
            dataFilePlace[opened.number] = place++;
            stringBytes += path.size() + 1;
        }
    }
    const auto dataFileCount = static_cast<std::uint32_t>(dataFilePlace.size());

    const Listing::Layout at = Listing::Layout::Plan(
        slotCount, D, F, {counts.archived, counts.managed, counts.naked, dataFileCount}, textBytes, stringBytes);
    if (at.total > SIZE_MAX / 2 || textBytes >= Listing::kNoText || n >= Listing::kNameElsewhere || dataFileCount > (1u << 30)) {
        LogError("%s: Failed to create project listing because the data was smaller than expected.", name);
        return nullptr;  // the handles close with `inputs`
    }
    // Every region is written in full below, so the block needs no zero-filling beforehand.
    // The regions start where the slots fall on a cache line (an allocation is aligned to 16).
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(at.total) + 48]);
    std::uint8_t* base = block.get() + ((64 - (reinterpret_cast<std::uintptr_t>(block.get()) & 63)) & 63);
    const Listing::Views v = at.ViewsAt(base);
    Listing::DirectoryRecord* const root = D > 0 ? &v.directories[0] : nullptr;

    // ---- stage 1: what the bindings give.
    char* strings = reinterpret_cast<char*>(base + at.strings);
    *v.header = {projectName ? strings : nullptr, ReleaseVersion()};
    if (projectName) strings = std::copy(projectName, projectName + std::strlen(projectName) + 1, strings);
    for (const auto& [path, opened] : inputs.handles.Map()) {
        v.dataFiles[dataFilePlace[opened.number]] = {opened.handle, strings};
        strings = std::copy(path.c_str(), path.c_str() + path.size() + 1, strings);
    }
    *v.counts = {D, F, K, static_cast<std::uint32_t>(slotCount), bucketFactor, homeFactor};
    *v.storageCounts = {counts.archived, counts.managed, counts.naked, dataFileCount};

    // File records, each with its storage record: in file order, of the kind the binding
    // counted; loose files start closed. Names and parents come in stage 2.
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
                record->offset = b.offset;
                record->archiveSize = b.archiveSize;
                record->source = Listing::ArchiveFile::Pack(dataFilePlace[b.dataFile], CompressionIdFromFlags(b.flags));
                storage = record;
            }
        } else if (b.flags & kFlagManaged) {
            if (managed < counts.managed) storage = &v.managedFiles[managed++];
        } else {
            if (naked < counts.naked) storage = &v.nakedFiles[naked++];
        }
        const ManifestFile file = File(j);
        Listing::FileRecord& r = v.files[j];
        r.name = nullptr;
        r.parent = root;
        r.version = file.version;
        r.size = file.size;
        r.storage = storage;
    }
    // Should the binding have counted more than it bound, the unused records must still be
    // valid objects for the teardown.
    for (; archived < counts.archived; ++archived) {
        auto* record = new (&v.archiveFiles[archived]) Listing::ArchiveFile();
        record->refCount = record->offset = record->archiveSize = record->source = 0;
    }
    std::vector<FileBinding>().swap(inputs.bindings);

    // ---- stage 2: directories, texts, the lookup table.
    for (std::uint32_t i = 0; i < D; ++i) {
        const ManifestDirectory d = Directory(i);
        Listing::DirectoryRecord& r = v.directories[i];
        r.name = nullptr;
        r.parent = i == 0 ? nullptr : root;  // entries the tree does not reach hang below the root
        r.firstSubdirectory = d.subdirectoryCount ? &v.directories[d.firstSubdirectory] : nullptr;
        r.subdirectoryCount = d.subdirectoryCount;
        r.firstFile = &v.files[d.fileCount ? d.firstFile : std::min(d.firstFile, F)];
        r.fileCount = d.fileCount;
    }
    for (std::uint64_t i = 0; i < slotCount; ++i) v.slots[i].entry = Listing::kEmptySlot;

    // Directory texts from the start of the texts, breadth first (a parent before its
    // children); file names that need a text after them.
    std::uint32_t directoryText = 0;
    auto writeDirectoryText = [&](std::uint32_t entry, std::uint32_t parentText, const char* entryName) {
        const std::uint32_t at = directoryText;
        char* out = v.texts + at;
        std::memcpy(out, &entry, 4);
        std::memcpy(out + 4, &parentText, 4);
        const std::size_t length = std::strlen(entryName) + 1;
        std::memcpy(out + Listing::kTextHeader, entryName, length);
        directoryText += static_cast<std::uint32_t>(Listing::kTextHeader + length);
        v.directories[entry].name = out + Listing::kTextHeader;
        return at;
    };
    auto nameText = static_cast<std::uint32_t>(directoryTextBytes);
    auto writeName = [&](const char* entryName, std::size_t length) {
        const std::uint32_t at = nameText;
        std::memcpy(v.texts + at, entryName, length + 1);
        nameText += static_cast<std::uint32_t>(length + 1);
        return at;
    };
    auto place = [&](std::uint32_t hash, std::uint32_t entry, std::uint32_t parentText) {
        Listing::Slot& slot = v.slots[nextSlot[Listing::BucketOf(hash, bucketFactor, K)]++];
        slot.hash = hash;
        slot.entry = entry;
        slot.parent = parentText;
        return &slot;
    };
    auto nameElsewhere = [](Listing::Slot& slot, std::uint32_t at) {
        slot.entry |= Listing::kNameElsewhere;
        std::memcpy(slot.name, &at, sizeof at);
    };

    std::uint32_t rootText = Listing::kNoText;
    if (root != nullptr) {
        rootText = writeDirectoryText(0, Listing::kNoText, String(Directory(0).name));
        nameElsewhere(*place(Listing::BucketHash("", 0), 0, Listing::kNoText), rootText + Listing::kTextHeader);
    }
    // Entries the tree reaches, breadth first, each with its parent's text (written before it)
    // and in the table; a directory's state is its own text.
    // A batch of files fetches its buckets' next free slots, then those slots, ahead.
    WalkTree(
        rootText,
        [&](std::uint32_t child, const char* entryName, std::uint32_t hash, std::uint32_t parent, std::uint32_t parentText) {
            const std::uint32_t text = writeDirectoryText(child, parentText, entryName);
            v.directories[child].parent = &v.directories[parent];
            nameElsewhere(*place(hash, child, parentText), text + Listing::kTextHeader);
            return text;
        },
        [&](const FileVisit* files, std::uint32_t count, std::uint32_t) {
            for (std::uint32_t k = 0; k < count; ++k) TARN_PREFETCH(&nextSlot[Listing::BucketOf(files[k].hash, bucketFactor, K)]);
            for (std::uint32_t k = 0; k < count; ++k)
                TARN_PREFETCH(&v.slots[nextSlot[Listing::BucketOf(files[k].hash, bucketFactor, K)]]);
        },
        [&](const FileVisit& file, std::uint32_t parent, std::uint32_t parentText) {
            Listing::Slot& slot = *place(file.hash, D + file.index, parentText);
            // The record's name lies with its siblings' names, in order, for enumerations; a
            // short name is copied into the slot too, for lookups.
            const std::size_t length = std::strlen(file.name);
            const std::uint32_t at = writeName(file.name, length);
            v.files[file.index].name = v.texts + at;
            if (length <= Listing::kInlineName)
                std::memcpy(slot.name, file.name, length + 1);
            else
                nameElsewhere(slot, at);
            v.files[file.index].parent = &v.directories[parent];
        });
    // Entries the tree does not reach are not in the table: no lookup finds them and no
    // enumeration walks into them, so whatever their own ranges claim (even each other) can
    // never be seen. They keep a name all the same.
    for (std::uint32_t i = 1; i < D; ++i)
        if (v.directories[i].name == nullptr) writeDirectoryText(i, rootText, String(Directory(i).name));
    for (std::uint32_t j = 0; j < F; ++j) {
        if (v.files[j].name != nullptr) continue;
        const char* fileName = String(LoadFileName(j));
        v.files[j].name = v.texts + writeName(fileName, std::strlen(fileName));
    }

    auto* listing = new Listing(projectRoot, std::move(block), static_cast<std::size_t>(at.total) + 48, v);
    inputs.handles.Release();  // the listing closes them now
    *reinterpret_cast<Listing**>(base + at.owner) = listing;
    return listing;
}

// The class is instantiated elsewhere; the members defined here are instantiated here.
template ProjectListing* ReleaseManifestTemplate<FileTableEntry>::CreateListing(const char*);
template ProjectListing* ReleaseManifestTemplate<FileTableEntry>::BuildListing(const char*, const char*);
template ProjectListing* ReleaseManifestTemplate<FileTableEntryV0>::BuildListing(const char*, const char*);
template ProjectListing* ReleaseManifestTemplate<FileTableEntryV0>::CreateListing(const char*);
template void ReleaseManifestTemplate<FileTableEntry>::BindFile(std::uint32_t, const std::string&, std::uint32_t, const char*,
                                                                const char*, ArchiveManager&, BindingScratch&, FileBinding&,
                                                                BindingCounts&, DataFileHandles&) const;
template void ReleaseManifestTemplate<FileTableEntryV0>::BindFile(std::uint32_t, const std::string&, std::uint32_t, const char*,
                                                                  const char*, ArchiveManager&, BindingScratch&, FileBinding&,
                                                                  BindingCounts&, DataFileHandles&) const;
template void ReleaseManifestTemplate<FileTableEntry>::GetFileArchiveMetadata(const char*, const char*,
                                                                              ListingInputs&) const;
template void ReleaseManifestTemplate<FileTableEntryV0>::GetFileArchiveMetadata(const char*, const char*,
                                                                                ListingInputs&) const;

}  // namespace Tarn::VELL::Reader
