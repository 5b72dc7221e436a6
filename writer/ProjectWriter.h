// Writes one project release under a content root (the directory named VELL):
//
//   projects/<name>/releases/<version>/releasemanifest   the binary release manifest
//   projects/<name>/releases/<version>/deploy/<path>     naked files
//   projects/<name>/managedfiles/<file version>/<path>   managed files
//   projects/<name>/filearchives/<file version>/         archives: X.olm + X.olm.dat
//
// Archives are named data_<release version>_NNN.olm (NNN from 000), one set per file version
// used by the release; a new pair starts when the next entry would take the data file past
// the size limit, so only an entry larger than the limit makes a data file larger than it
// (in an archive of its own). Naming them after the release keeps two releases that store
// files under the same file version from overwriting each other's archives. Entries go into
// the data file in manifest order, and writing the same release twice gives byte-identical
// files. Each file record carries the MD5 of the file's content.
//
// The manifest lists directories breadth-first from the root, each directory's children
// contiguous and in ascending case-insensitive (_stricmp) order of their names.
//
// Writing is all or nothing (writer/ReleaseCommit.h): everything is staged under names no
// reader looks at and moved into place at the end, so a failed or stopped write leaves the
// previous state exactly as it was. Writing a release again replaces it whole: its old
// archives, managed files and deploy directory go, nothing stale stays. A write refuses to
// change what another release of the project reads: when another release stores files under
// this release's version, each must come back with the same content and storage kind.
//
// A patch release (SetBaseRelease) keeps every archived or managed file whose content (MD5)
// and storage kind are those of the base release's file at the same path: its record
// refers to where the base release stores it and no byte of it is written. New and changed
// files are stored under the new version; files the base has and this release has not
// simply leave the manifest. Naked files live in the release's own deploy directory and are
// written with every release.
//
// Caveat of the format: a reader discards an archive whose entries add up to zero bytes, so
// a file version whose archived files are all empty and stored ends up unreadable.
//
// A ProjectRelease is a plain value; Write may be called any number of times.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "writer/FileSpec.h"
#include "writer/ReleaseCommit.h"
#include "writer/ReleaseManifest.h"
#include "writer/ReleaseTree.h"

namespace Tarn::VELL::Writer {

struct ArchiveInfo {
    std::filesystem::path indexPath;
    std::filesystem::path dataPath;
    uint32_t fileVersion = 0;
    std::vector<std::string> entryPaths;  // in data file order
};

// Files and bytes (of the files' own content) in one row of a patch's account.
struct FileCount {
    uint64_t files = 0;
    uint64_t bytes = 0;
    void Add(uint64_t size)
    {
        ++files;
        bytes += size;
    }
};

// What a release ships compared with its base release (all zero without one).
struct PatchSummary {
    std::optional<uint32_t> base;
    FileCount added;    // archived or managed files the base does not list
    FileCount changed;  // listed by the base with other content or another storage kind
    FileCount removed;  // listed by the base and not by this release
    FileCount kept;     // stored by an earlier release: nothing written
    FileCount naked;    // naked files, written with every release
};

struct ProjectWriteResult {
    std::filesystem::path releaseDirectory;  // <root>/projects/<name>/releases/<version>
    std::filesystem::path deployDirectory;   // releaseDirectory/deploy
    std::filesystem::path manifestPath;      // releaseDirectory/releasemanifest
    std::vector<ArchiveInfo> archives;       // by file version, then in name order
    std::vector<std::filesystem::path> looseFiles;  // managed and naked files written
    PatchSummary patch;
    uint64_t bytesWritten = 0;  // every byte put on disk: archives, loose files, manifest
    std::vector<std::string> oversizedEntries;  // entries larger than the archive size limit
};

// Where a write stands, for a progress display. Phases: "comparing" (reading the files
// that may be unchanged since the base release), "packing".
struct WriteProgress {
    const char* phase;
    uint64_t files, totalFiles;
    uint64_t bytes, totalBytes;
};

class ProjectRelease {
public:
    using WriteResult = ProjectWriteResult;
    static constexpr uint64_t kDefaultMaxArchiveDataSize = 256ull << 20;

    // name: one path component (std::invalid_argument otherwise).
    ProjectRelease(std::string name, uint32_t version);

    // Adds a file. Throws std::invalid_argument for a bad path (see ReleaseTree::AddFile): an
    // empty component, a duplicate (ignoring ASCII case), a file that is also a directory.
    ProjectRelease& Add(FileSpec file);
    ProjectRelease& Add(std::string path, std::string content, Storage storage = Storage::Archived,
                        Compression compression = Compression::Zlib);
    // Adds an (empty) directory; the directories on a file's path come by themselves.
    ProjectRelease& AddDirectory(const std::string& path);

    // kManifestFormatV2 (default) or kManifestFormatV1; std::invalid_argument otherwise.
    ProjectRelease& SetFormatVersion(uint32_t formatVersion);
    // The root directory's own name in the manifest (no part of any path); default empty.
    ProjectRelease& SetRootName(std::string name);
    // Limit of one archive data file, 1 to 0xFFFFFFFF bytes (offsets are 32-bit). An entry
    // larger than the limit gets an archive of its own.
    ProjectRelease& SetMaxArchiveDataSize(uint64_t bytes);
    ProjectRelease& SetLzmaDictionarySize(uint32_t bytes);  // default 1 MiB
    ProjectRelease& SetZlibLevel(int level);                // default 6
    ProjectRelease& SetThreadCount(unsigned threads);       // compression threads; 0 = one per processor
    // Called on the writing thread as the write goes on.
    ProjectRelease& SetProgressCallback(std::function<void(const WriteProgress&)> callback);
    // Whether Write may replace an existing release of this version (default true); when
    // false, Write throws ReleaseExists before anything is written.
    ProjectRelease& SetReplaceExisting(bool replace);
    // Makes this a patch over release baseVersion of the same project (see the top).
    ProjectRelease& SetBaseRelease(std::optional<uint32_t> baseVersion);
    // Asked between files (from any thread); returning true stops the write, which then
    // removes what it staged and throws WriteStopped. The commit itself is never stopped.
    ProjectRelease& SetStopCheck(std::function<bool()> stop);

    const std::string& Name() const { return mName; }
    uint32_t Version() const { return mVersion; }
    const std::vector<FileSpec>& Files() const { return mFiles; }

    // The manifest bytes. Sizes of files with a sourceFile are taken from the file system.
    std::string BuildManifest() const;

    // Writes the whole release under contentRoot (see the top of this header). Throws IoError
    // when a source cannot be read, an output cannot be written, the base release cannot be
    // read, or another release would lose content it reads; std::invalid_argument when a file
    // is larger than 4 GiB - 1 bytes. Whatever it throws, the layout is as it was.
    WriteResult Write(const std::filesystem::path& contentRoot) const;

    // "data_<release version>", the stem of this release's archive names.
    static std::string ArchiveStem(uint32_t releaseVersion);

private:
    struct Plan;
    uint32_t FileVersion(const FileSpec& file) const { return file.version.value_or(mVersion); }
    std::string BuildManifestBytes(const ReleaseTree::Layout& layout, const Plan& plan) const;
    void PlanAgainstBase(const ReleaseTree::Layout& layout, const std::filesystem::path& projectDirectory, Plan& plan,
                         PatchSummary& summary) const;
    void CheckOtherReleases(const ReleaseTree::Layout& layout, const std::filesystem::path& projectDirectory,
                            const Plan& plan) const;
    bool Stopped() const { return mStop && mStop(); }

    std::string mName;
    uint32_t mVersion;
    std::vector<FileSpec> mFiles;
    ReleaseTree mTree;
    uint32_t mFormatVersion = kManifestFormatV2;
    std::string mRootName;
    uint64_t mMaxArchiveDataSize = kDefaultMaxArchiveDataSize;
    uint32_t mLzmaDictionarySize = 1u << 20;
    int mZlibLevel = 6;
    unsigned mThreads = 0;
    std::function<void(const WriteProgress&)> mProgress;
    bool mReplaceExisting = true;
    std::optional<uint32_t> mBaseVersion;
    std::function<bool()> mStop;
};

}  // namespace Tarn::VELL::Writer
