// The archives of a project, found on disk and checked once per listing build.
//
// ArchiveVersionManager holds the usable archives of one archive directory
// (root/projects/<project>/filearchives/<version>), in the order the directory search returned
// their index files, and resolves a path to the data file, offset and size that hold it; the
// first archive that has the path wins. ArchiveManager caches one version manager per
// (project, version), keyed case-sensitively.
//
// This is the only place where the library changes the disk: an index file whose content is
// unusable (wrong magic or version, tables outside the file, entries holding no byte at all)
// is deleted; its data file stays. An index that cannot be read (permissions, too many open
// files, a read error) is skipped but kept, so a passing fault never destroys a good archive.
// Only a regular file whose location, every symbolic link resolved, lies inside the content
// root is ever deleted (that location is what is deleted); anything else is kept with a
// warning. Reading through a link that leaves the root stays allowed: its owner put it there.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CStd/CheckedMutex.h"
#include "reader/ArchiveFile.h"

namespace Tarn::VELL::Reader {

class ArchiveVersionManager {
public:
    // The manager of the archives in directory, or null when none is usable (after logging).
    // contentRoot bounds what may be deleted (see above); null deletes nothing.
    static std::unique_ptr<ArchiveVersionManager> Create(const std::string& directory, const char* contentRoot);
    // Reads one index; null when it is unusable (deleting it when its content is bad and it
    // lies inside contentRoot).
    static std::unique_ptr<ArchiveFile> LoadArchiveFile(const char* path, const char* contentRoot);

    // Looks the path up in each archive in turn; the data file's path is the index's path
    // followed by ".dat".
    bool Find(const char* path, std::string& dataFile, std::uint32_t& dataOffset, std::uint32_t& dataSize) const;
    // The same for a path whose archive hash (ArchiveFile::HashArchivePath) is known, naming
    // the archive that holds it; null when none does.
    const ArchiveFile* FindArchive(const char* path, std::uint32_t hash, std::uint32_t& dataOffset,
                                   std::uint32_t& dataSize) const;

    // Fetch ahead what a lookup of a path with this archive hash will read: its home slot,
    // and then (with that at hand) the path the first slot of that hash points at.
    void PrefetchSlot(std::uint32_t hash) const;
    void PrefetchPath(std::uint32_t hash) const;

    const std::string& Directory() const { return mDirectory; }
    const std::vector<std::unique_ptr<ArchiveFile>>& Archives() const { return mArchives; }

    ArchiveVersionManager(std::string directory, std::vector<std::unique_ptr<ArchiveFile>> archives);

private:
    // One hash table over the entries of every archive, built once, answers each lookup as the
    // archives' own searches in their order would (the first archive, and in it the first
    // entry, that holds the path), without searching each archive in turn. Open addressing
    // with linear probing, two slots for every three entries at most; a slot keeps where the
    // entry's path lies, so that a lookup reads the slot and the path, and no index record on
    // the way to them.
    struct Slot {
        std::uint32_t hash;
        std::uint32_t entry;  // numbered through the archives in order; kEmptySlot when free
        std::uint32_t path;   // the entry's path, from the start of its archive's index; kNoPath without one
    };
    static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;
    static constexpr std::uint32_t kNoPath = 0xFFFFFFFFu;
    void BuildTable();
    std::uint64_t HomeSlot(std::uint32_t hash) const;
    // The archive and entry holding path; archive == Archives().size() when none does.
    std::pair<std::size_t, std::uint32_t> Locate(const char* path, std::uint32_t hash) const;

    std::vector<std::unique_ptr<ArchiveFile>> mArchives;
    std::string mDirectory;
    std::vector<std::uint32_t> mFirstEntry;  // per archive, the number of its first entry
    std::vector<Slot> mTable;
};

class ArchiveManager {
public:
    ArchiveManager() = default;
    ArchiveManager(const ArchiveManager&) = delete;
    ArchiveManager& operator=(const ArchiveManager&) = delete;

    // The version manager of (project, version) below root, created on first request; null
    // when that directory has no usable archive (nothing is remembered then, so the next
    // request looks again). The manager keeps ownership.
    ArchiveVersionManager* GetVersionManager(const char* root, const char* project, std::uint32_t version);

private:
    using VersionMap = std::map<std::uint32_t, std::unique_ptr<ArchiveVersionManager>>;
    std::map<std::string, std::unique_ptr<VersionMap>, std::less<>> mProjects;
    CheckedMutex mLock{false};
};

}  // namespace Tarn::VELL::Reader
