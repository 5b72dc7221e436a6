#include "reader/ArchiveManager.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <stdexcept>

#include "CStd/CStd.h"
#include "file/FileIterator.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kCreateName[] = "Tarn::VELL::Reader::ArchiveVersionManager::Create";
constexpr char kConstructName[] = "Tarn::VELL::Reader::ArchiveVersionManager::ArchiveVersionManager";
constexpr char kLoadName[] = "Tarn::VELL::Reader::ArchiveVersionManager::LoadArchiveFile";
constexpr char kFindName[] = "Tarn::VELL::Reader::ArchiveVersionManager::Find";
constexpr char kGetName[] = "Tarn::VELL::Reader::ArchiveManager::GetVersionManager";
constexpr std::uint32_t kSearchFlags = 8;

// Windows matches a search pattern against short names too: "*.olm" also finds "notes.olmx"
// (short name NOTES~1.OLM). Only a name that ends in ".olm" is an index; any other file is
// none of ours, never read and never deleted.
bool IsIndexName(const char* name)
{
    const std::size_t length = std::strlen(name);
    return length >= 4 && Win32::_stricmp(name + length - 4, ".olm") == 0;
}
}  // namespace

ArchiveVersionManager::ArchiveVersionManager(std::string directory, std::vector<std::unique_ptr<ArchiveFile>> archives)
    : mArchives(std::move(archives)), mDirectory(std::move(directory))
{
    LogTrace("%s: ", kConstructName);
    BuildTable();
}

// The low bits of an archive path hash mostly come from the path's last characters, which
// many paths share (".dds"); a multiplication spreads every bit over the slot number.
std::uint64_t ArchiveVersionManager::HomeSlot(std::uint32_t hash) const
{
    return (std::uint64_t{static_cast<std::uint32_t>(hash * 0x9E3779B1u)} * mTable.size()) >> 32;
}

// Entries of one hash are inserted in archive order, then index order, so a probe meets them
// in that order too.
void ArchiveVersionManager::BuildTable()
{
    std::uint64_t entries = 0;
    mFirstEntry.clear();
    for (const auto& archive : mArchives) {
        mFirstEntry.push_back(static_cast<std::uint32_t>(entries));
        entries += archive->EntryCount();
    }
    // Entry numbers must fit 32 bits with room for the empty mark; an index that large cannot
    // be read into memory anyway.
    if (entries >= kEmptySlot) entries = kEmptySlot - 1;
    mTable.assign(entries + entries / 2 + 1, Slot{0, kEmptySlot, kNoPath});
    const std::uint64_t size = mTable.size();
    std::uint64_t number = 0;
    for (std::uint32_t a = 0; a < mArchives.size(); ++a) {
        const ArchiveFile& archive = *mArchives[a];
        for (std::uint32_t i = 0; i < archive.EntryCount() && number < entries; ++i, ++number) {
            const std::uint32_t hash = archive.EntryHash(i);
            const char* path = archive.EntryPath(i);
            const std::uint32_t at =
                path ? static_cast<std::uint32_t>(path - reinterpret_cast<const char*>(archive.IndexBytes())) : kNoPath;
            std::uint64_t slot = HomeSlot(hash);
            while (mTable[slot].entry != kEmptySlot) slot = slot + 1 == size ? 0 : slot + 1;
            mTable[slot] = Slot{hash, static_cast<std::uint32_t>(number), at};
        }
    }
}

void ArchiveVersionManager::PrefetchSlot(std::uint32_t hash) const { TARN_PREFETCH(&mTable[HomeSlot(hash)]); }

void ArchiveVersionManager::PrefetchPath(std::uint32_t hash) const
{
    const std::uint64_t size = mTable.size();
    for (std::uint64_t slot = HomeSlot(hash), probes = 0; probes < 4 && mTable[slot].entry != kEmptySlot;
         slot = slot + 1 == size ? 0 : slot + 1, ++probes) {
        const Slot& candidate = mTable[slot];
        if (candidate.hash != hash || candidate.path == kNoPath) continue;
        const std::size_t archive = static_cast<std::size_t>(
            std::upper_bound(mFirstEntry.begin(), mFirstEntry.end(), candidate.entry) - mFirstEntry.begin() - 1);
        TARN_PREFETCH(reinterpret_cast<const char*>(mArchives[archive]->IndexBytes()) + candidate.path);
        TARN_PREFETCH(mArchives[archive]->IndexBytes() + mArchives[archive]->EntryOffset(candidate.entry - mFirstEntry[archive]));
        return;
    }
}

std::pair<std::size_t, std::uint32_t> ArchiveVersionManager::Locate(const char* path, std::uint32_t hash) const
{
    const std::uint64_t size = mTable.size();
    for (std::uint64_t slot = HomeSlot(hash); mTable[slot].entry != kEmptySlot; slot = slot + 1 == size ? 0 : slot + 1) {
        const Slot& candidate = mTable[slot];
        if (candidate.hash != hash || candidate.path == kNoPath) continue;
        const std::size_t archive =
            static_cast<std::size_t>(std::upper_bound(mFirstEntry.begin(), mFirstEntry.end(), candidate.entry) - mFirstEntry.begin()) - 1;
        const char* entryPath = reinterpret_cast<const char*>(mArchives[archive]->IndexBytes()) + candidate.path;
        if (std::strcmp(entryPath, path) == 0 || Win32::_stricmp(entryPath, path) == 0)
            return {archive, candidate.entry - mFirstEntry[archive]};
    }
    return {mArchives.size(), 0};
}

std::unique_ptr<ArchiveVersionManager> ArchiveVersionManager::Create(const std::string& directory, const char* contentRoot)
{
    LogTrace("%s: (%s)", kCreateName, directory.c_str());
    const std::string pattern = directory + "/*." + "olm";
    std::shared_ptr<File::FileIteratorBase> iterator;
    try {
        iterator = File::CreateFileIterator(pattern.c_str(), kSearchFlags);
    } catch (const std::logic_error&) {
        iterator = nullptr;  // the default provider is gone: the process is exiting
    }
    if (iterator == nullptr) {
        LogError("%s: Failed to find the directory: %s", kCreateName, pattern.c_str());
        return nullptr;
    }
    std::vector<std::unique_ptr<ArchiveFile>> archives;
    for (; iterator->IsValid(); iterator->Next()) {
        if (iterator->IsDirectory() || !IsIndexName(iterator->GetName())) continue;
        const std::string indexPath = directory + "/" + iterator->GetName();
        if (auto archive = LoadArchiveFile(indexPath.c_str(), contentRoot)) archives.push_back(std::move(archive));
    }
    iterator.reset();
    if (archives.empty()) {
        LogError("%s: No valid archive files were found in the directory: %s", kCreateName, pattern.c_str());
        return nullptr;
    }
    return std::make_unique<ArchiveVersionManager>(directory, std::move(archives));
}

namespace {

// The absolute location of what path names, every link resolved; empty when nothing is there.
std::string FinalPath(const char* path)
{
    std::string text(Tarn::kMaxPath, '\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Win32::DWORD n = Win32::GetFinalPathNameA(path, text.data(), static_cast<Win32::DWORD>(text.size()));
        if (n == 0) break;
        if (n < text.size()) {
            text.resize(n);
            return text;
        }
        text.resize(n);  // the size it needs; the location may change meanwhile, so try again
    }
    return std::string();
}

// Where an unusable index may be deleted: its location, when that is a regular file inside
// the content root once every link is resolved; empty otherwise.
std::string DeletableLocation(const char* path, const char* contentRoot)
{
    struct Win32::_stat64i32 status {};
    if (contentRoot == nullptr || *contentRoot == '\0' || Win32::_stat64i32(path, &status) != 0 ||
        (status.st_mode & Win32::_S_IFMT) != Win32::_S_IFREG)
        return std::string();
    const std::string root = FinalPath(contentRoot);
    std::string location = FinalPath(path);
    const bool inside = !root.empty() && location.size() > root.size() && location.compare(0, root.size(), root) == 0 &&
                        (root.back() == '/' || location[root.size()] == '/');
    return inside ? location : std::string();
}

}  // namespace

std::unique_ptr<ArchiveFile> ArchiveVersionManager::LoadArchiveFile(const char* path, const char* contentRoot)
{
    if (path == nullptr) path = "";
    LogTrace("%s: (%s)", kLoadName, path);
    if (*path == '\0') {
        LogError("%s: Empty file name", kLoadName);
        return nullptr;
    }
    auto archive = std::make_unique<ArchiveFile>(path);
    bool invalid = false;
    const bool read = archive->Read(&invalid);
    if (read && archive->TotalDataSize() != 0) return archive;

    if (invalid)
        LogWarning("%s: Failed to open %s, archive will be deleted and ignored", kLoadName, path);
    else
        LogWarning("%s: Zero sized archive %s will be deleted and ignored", kLoadName, path);
    // Only content known to be unusable is deleted; an index that could not be read at all
    // may be fine once the fault has passed.
    const bool unusable = invalid || read;
    if (!unusable || Win32::GetFileAttributesA(path) == Win32::INVALID_FILE_ATTRIBUTES) return nullptr;
    const std::string location = DeletableLocation(path, contentRoot);
    if (location.empty())
        LogWarning("%s: %s is not a regular file inside the content root; it is not deleted", kLoadName, path);
    else
        Win32::DeleteFileA(location.c_str());
    return nullptr;
}

bool ArchiveVersionManager::Find(const char* path, std::string& dataFile, std::uint32_t& dataOffset,
                                 std::uint32_t& dataSize) const
{
    const ArchiveFile* archive = FindArchive(path, path ? ArchiveFile::HashArchivePath(path) : 0, dataOffset, dataSize);
    if (archive == nullptr) {
        dataFile.clear();
        return false;
    }
    dataFile.assign(archive->Filename()).append(".dat");
    return true;
}

const ArchiveFile* ArchiveVersionManager::FindArchive(const char* path, std::uint32_t hash, std::uint32_t& dataOffset,
                                                      std::uint32_t& dataSize) const
{
    LogTrace("%s: (%s)", kFindName, path ? path : "");
    dataOffset = 0;
    dataSize = 0;
    if (path == nullptr || *path == '\0') {
        LogError("%s: Empty name", kFindName);
    } else {
        const auto [archive, entry] = Locate(path, hash);
        // Each archive up to the one that holds the path counts as searched.
        const std::size_t searched = archive < mArchives.size() ? archive + 1 : mArchives.size();
        for (std::size_t i = 0; i < searched; ++i) mArchives[i]->TraceSearch(path);
        if (archive < mArchives.size()) {
            const ArchiveFile::Entry found = mArchives[archive]->GetEntry(entry);
            dataOffset = found.dataOffset;
            dataSize = found.dataSize;
            return mArchives[archive].get();
        }
    }
    LogTrace("%s: Failed to find file <%s>", kFindName, path ? path : "");
    return nullptr;
}

ArchiveVersionManager* ArchiveManager::GetVersionManager(const char* root, const char* project, std::uint32_t version)
{
    ScopedLock lock(mLock);
    const std::string_view projectName = project ? project : "";
    auto found = mProjects.find(projectName);
    if (found != mProjects.end()) {
        auto manager = found->second->find(version);
        if (manager != found->second->end()) return manager->second.get();
    }
    const VersionText versionText = FormatVersionString(version);
    const std::string directory =
        std::string(root ? root : "") + "/projects/" + std::string(projectName) + "/filearchives/" + versionText.c_str();
    std::unique_ptr<ArchiveVersionManager> manager = ArchiveVersionManager::Create(directory, root);
    if (manager == nullptr) {
        LogError("%s: Failed to create file system manager for project \"%s\" and release %s", kGetName,
                 std::string(projectName).c_str(), versionText.c_str());
        return nullptr;
    }
    if (found == mProjects.end()) found = mProjects.emplace(std::string(projectName), std::make_unique<VersionMap>()).first;
    ArchiveVersionManager* result = manager.get();
    (*found->second)[version] = std::move(manager);
    return result;
}

}  // namespace Tarn::VELL::Reader
