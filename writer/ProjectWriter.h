// Writes one project release under a content root (the directory named VELL):
//
//   projects/<name>/releases/<version>/releasemanifest   the binary release manifest
//   projects/<name>/releases/<version>/deploy/<path>     naked files
//   projects/<name>/managedfiles/<file version>/<path>   managed files
//   projects/<name>/filearchives/<file version>/         archives: X.olm + X.olm.dat
//
// Archives are named data_<release version>_NNN.olm (NNN from 000), one set per file version
// used by the release; a new pair starts when the next entry would take the data file past
// the size limit. Naming them after the release keeps two releases that store files under
// the same file version from overwriting each other's archives; rewriting a release first
// removes the archives of that name left by an earlier write. Entries go into the data file
// in manifest order, and writing the same release twice gives byte-identical files.
//
// The manifest lists directories breadth-first from the root, each directory's children
// contiguous and in ascending case-insensitive (_stricmp) order of their names. It is written
// last, so a release whose writing failed has no manifest.
//
// Caveat of the format: a reader discards an archive whose entries add up to zero bytes, so
// a file version whose archived files are all empty and stored ends up unreadable.
//
// A ProjectRelease is a plain value; Write may be called any number of times.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "writer/FileSpec.h"
#include "writer/ReleaseManifest.h"
#include "writer/ReleaseTree.h"

namespace Tarn::VELL::Writer {

struct ArchiveInfo {
    std::filesystem::path indexPath;
    std::filesystem::path dataPath;
    uint32_t fileVersion = 0;
    std::vector<std::string> entryPaths;  // in data file order
};

struct ProjectWriteResult {
    std::filesystem::path releaseDirectory;  // <root>/projects/<name>/releases/<version>
    std::filesystem::path deployDirectory;   // releaseDirectory/deploy
    std::filesystem::path manifestPath;      // releaseDirectory/releasemanifest
    std::vector<ArchiveInfo> archives;       // by file version, then in name order
    std::vector<std::filesystem::path> looseFiles;  // managed and naked files written
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
    // Called on the writing thread after each file is written: (files done, files in all).
    ProjectRelease& SetProgressCallback(std::function<void(size_t, size_t)> callback);

    const std::string& Name() const { return mName; }
    uint32_t Version() const { return mVersion; }
    const std::vector<FileSpec>& Files() const { return mFiles; }

    // The manifest bytes. Sizes of files with a sourceFile are taken from the file system.
    std::string BuildManifest() const;

    // Writes the whole release under contentRoot (see the top of this header). Throws IoError
    // when a source cannot be read or an output cannot be written, std::invalid_argument when
    // a file is larger than 4 GiB - 1 bytes.
    WriteResult Write(const std::filesystem::path& contentRoot) const;

    // "data_<release version>", the stem of this release's archive names.
    static std::string ArchiveStem(uint32_t releaseVersion);

private:
    uint32_t FileVersion(const FileSpec& file) const { return file.version.value_or(mVersion); }
    std::string BuildManifestBytes(const ReleaseTree::Layout& layout, const std::vector<uint64_t>& sizes) const;

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
    std::function<void(size_t, size_t)> mProgress;
};

}  // namespace Tarn::VELL::Writer
