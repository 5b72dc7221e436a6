#include "writer/ProjectWriter.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

#include "writer/ArchiveIndex.h"
#include "writer/ArchivePath.h"
#include "writer/BatchEncoder.h"
#include "writer/LzmaEncoder.h"
#include "writer/PathNames.h"
#include "writer/ReleaseCommit.h"
#include "writer/StoredRelease.h"
#include "writer/Version.h"
#include "writer/ZlibEncoder.h"

namespace Tarn::VELL::Writer {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxStoredSize = 0xFFFFFFFFu;

uint64_t SourceSize(const FileSpec& file)
{
    if (file.sourceFile.empty()) return file.content.size();
    std::error_code error;
    const uint64_t size = fs::file_size(file.sourceFile, error);
    if (error) throw IoError("cannot read \"" + file.sourceFile.string() + "\": " + error.message());
    return size;
}

// The archives of release stem ("data_<version>") in one archive directory: each index before
// its data file, and data files without an index too.
std::vector<fs::path> OwnArchives(const fs::path& directory, const std::string& stem)
{
    std::error_code error;
    const std::string prefix = stem + "_";
    std::set<std::string> names;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0 && name.ends_with(".olm.dat")) names.insert(name.substr(0, name.size() - 4));
        else if (name.compare(0, prefix.size(), prefix) == 0 && name.ends_with(".olm")) names.insert(name);
    }
    if (error) throw IoError("cannot list \"" + directory.string() + "\": " + error.message());
    std::vector<fs::path> paths;
    for (const std::string& index : names) {
        paths.push_back(directory / index);
        paths.push_back(directory / (index + ".dat"));
    }
    return paths;
}

Md5Digest DigestOfFile(const fs::path& path)
{
    Md5 md5;
    ReadFileInPieces(path, [&](std::string_view piece) { md5.Update(piece); });
    return md5.Finish();
}

Md5Digest DigestOfSource(const FileSpec& file)
{
    return file.sourceFile.empty() ? Md5Of(file.content) : DigestOfFile(file.sourceFile);
}

bool IsZero(const Md5Digest& digest)
{
    for (uint8_t byte : digest)
        if (byte != 0) return false;
    return true;
}

// Storage kinds compare by the flag that decides them: archived wins over managed.
bool SameStorage(uint32_t flags, Storage storage)
{
    if (flags & ManifestFlag::Archived) return storage == Storage::Archived;
    if (flags & ManifestFlag::Managed) return storage == Storage::Managed;
    return storage == Storage::Naked;
}

std::string ArchiveName(const std::string& stem, unsigned number)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", number);
    return stem + "_" + digits + ".olm";
}

}  // namespace

ProjectRelease::ProjectRelease(std::string name, uint32_t version) : mName(std::move(name)), mVersion(version)
{
    RequireProjectName(mName, "project name");
}

ProjectRelease& ProjectRelease::Add(FileSpec file)
{
    mTree.AddFile(file.path, mFiles.size());
    mFiles.push_back(std::move(file));
    return *this;
}

ProjectRelease& ProjectRelease::Add(std::string path, std::string content, Storage storage, Compression compression)
{
    FileSpec file;
    file.path = std::move(path);
    file.content = std::move(content);
    file.storage = storage;
    file.compression = compression;
    return Add(std::move(file));
}

ProjectRelease& ProjectRelease::AddDirectory(const std::string& path)
{
    mTree.AddDirectory(path);
    return *this;
}

ProjectRelease& ProjectRelease::SetFormatVersion(uint32_t formatVersion)
{
    if (formatVersion != kManifestFormatV1 && formatVersion != kManifestFormatV2)
        throw std::invalid_argument("the manifest format version must be 0x00010001 or 0x00010002");
    mFormatVersion = formatVersion;
    return *this;
}

ProjectRelease& ProjectRelease::SetRootName(std::string name)
{
    mRootName = std::move(name);
    return *this;
}

ProjectRelease& ProjectRelease::SetMaxArchiveDataSize(uint64_t bytes)
{
    if (bytes == 0 || bytes > kMaxStoredSize)
        throw std::invalid_argument("the archive size limit must be 1 to 4294967295 bytes (offsets are 32-bit)");
    mMaxArchiveDataSize = bytes;
    return *this;
}

ProjectRelease& ProjectRelease::SetLzmaDictionarySize(uint32_t bytes)
{
    LzmaEncoder check(bytes);  // validates the size
    mLzmaDictionarySize = bytes;
    return *this;
}

ProjectRelease& ProjectRelease::SetZlibLevel(int level)
{
    if (level < -1 || level > 9) throw std::invalid_argument("zlib level must be -1 to 9");
    mZlibLevel = level;
    return *this;
}

ProjectRelease& ProjectRelease::SetThreadCount(unsigned threads)
{
    mThreads = threads;
    return *this;
}

ProjectRelease& ProjectRelease::SetProgressCallback(std::function<void(const WriteProgress&)> callback)
{
    mProgress = std::move(callback);
    return *this;
}

ProjectRelease& ProjectRelease::SetReplaceExisting(bool replace)
{
    mReplaceExisting = replace;
    return *this;
}

ProjectRelease& ProjectRelease::SetBaseRelease(std::optional<uint32_t> baseVersion)
{
    if (baseVersion && *baseVersion == mVersion)
        throw std::invalid_argument("the base release must be an earlier release, not " + FormatVersion(mVersion) + " itself");
    mBaseVersion = baseVersion;
    return *this;
}

ProjectRelease& ProjectRelease::SetStopCheck(std::function<bool()> stop)
{
    mStop = std::move(stop);
    return *this;
}

std::string ProjectRelease::ArchiveStem(uint32_t releaseVersion) { return "data_" + FormatVersion(releaseVersion); }

// Per file (indexed like mFiles): its size and MD5 once known, and the base release's record
// when the file is kept from it.
struct ProjectRelease::Plan {
    std::vector<uint64_t> sizes;
    std::vector<Md5Digest> digests;
    std::vector<const StoredFile*> kept;
    StoredRelease base;
};

std::string ProjectRelease::BuildManifest() const
{
    Plan plan;
    plan.sizes.reserve(mFiles.size());
    for (const FileSpec& file : mFiles) {
        plan.sizes.push_back(file.manifestSize ? 0 : SourceSize(file));
        plan.digests.push_back(file.checksum ? *file.checksum : DigestOfSource(file));
    }
    plan.kept.assign(mFiles.size(), nullptr);
    return BuildManifestBytes(mTree.LayOut(), plan);
}

std::string ProjectRelease::BuildManifestBytes(const ReleaseTree::Layout& layout, const Plan& plan) const
{
    std::vector<std::string> strings;
    std::unordered_map<std::string, uint32_t> indexOf;
    auto intern = [&](const std::string& text) {
        auto [it, added] = indexOf.try_emplace(text, static_cast<uint32_t>(strings.size()));
        if (added) strings.push_back(text);
        return it->second;
    };
    const uint32_t projectName = intern(mName);

    std::vector<ManifestDirectory> directories;
    directories.reserve(layout.directories.size());
    for (size_t i = 0; i < layout.directories.size(); ++i) {
        const ReleaseTree::Directory& directory = layout.directories[i];
        directories.push_back({intern(i == 0 ? mRootName : directory.name), directory.firstSubdirectory,
                               directory.subdirectoryCount, directory.firstFile, directory.fileCount});
    }

    std::vector<ManifestFile> files;
    files.reserve(layout.fileIds.size());
    for (size_t i = 0; i < layout.fileIds.size(); ++i) {
        const size_t id = layout.fileIds[i];
        const FileSpec& given = mFiles[id];
        ManifestFile file;
        file.name = intern(layout.fileNames[i]);
        if (const StoredFile* kept = plan.kept[id]) {
            file.version = kept->version;
            file.checksum = kept->checksum;
            file.flags = kept->flags;
            file.size = kept->size;
        } else {
            const uint64_t size = plan.sizes[id];
            if (!given.manifestSize && size > kMaxStoredSize)
                throw std::invalid_argument("file \"" + layout.filePaths[i] + "\" is larger than 4 GiB - 1 bytes");
            file.version = FileVersion(given);
            file.checksum = given.checksum.value_or(plan.digests[id]);
            file.flags = given.flags.value_or(ManifestFlagsFor(given.storage, given.compression));
            file.size = given.manifestSize.value_or(static_cast<uint32_t>(size));
        }
        files.push_back(file);
    }
    return BuildRawManifest(mFormatVersion, projectName, mVersion, directories, files, strings);
}

void ProjectRelease::PlanAgainstBase(const ReleaseTree::Layout& layout, const fs::path& projectDirectory, Plan& plan,
                                     PatchSummary& summary) const
{
    const std::string baseText = FormatVersion(*mBaseVersion);
    const fs::path manifest = projectDirectory / "releases" / baseText / "releasemanifest";
    try {
        plan.base = ReadStoredRelease(manifest);
    } catch (const IoError& error) {
        throw IoError("cannot read the base release " + baseText + " of project \"" + mName + "\": " + error.what());
    }
    summary.base = *mBaseVersion;
    std::unordered_map<std::string, const StoredFile*> byPath;
    for (const StoredFile& file : plan.base.files) byPath.emplace(FoldCase(file.path), &file);

    // Files that may be unchanged: same path, same storage kind, a real checksum, stored
    // under another version than the one being written (whose content is replaced), and no
    // record fields forced by the caller.
    std::vector<std::pair<size_t, const StoredFile*>> candidates;
    uint64_t candidateBytes = 0;
    std::set<const StoredFile*> listed;
    for (size_t row = 0; row < layout.fileIds.size(); ++row) {
        const size_t id = layout.fileIds[row];
        const FileSpec& given = mFiles[id];
        auto found = byPath.find(FoldCase(layout.filePaths[row]));
        const StoredFile* before = found == byPath.end() ? nullptr : found->second;
        if (before) listed.insert(before);
        if (given.storage == Storage::Naked) continue;
        if (before && StoredUnderVersion(before->flags) && SameStorage(before->flags, given.storage) &&
            before->version != mVersion && !IsZero(before->checksum) && before->size == plan.sizes[id] && !given.version &&
            !given.flags && !given.manifestSize && !given.checksum) {
            candidates.emplace_back(id, before);
            candidateBytes += plan.sizes[id];
        }
    }
    WriteProgress progress{"comparing", 0, candidates.size(), 0, candidateBytes};
    for (const auto& [id, before] : candidates) {
        if (Stopped()) throw WriteStopped("stopped before anything was written");
        const FileSpec& given = mFiles[id];
        bool available = true;
        if (!(before->flags & ManifestFlag::Archived)) {
            std::error_code error;
            available = fs::is_regular_file(projectDirectory / "managedfiles" / FormatVersion(before->version) / before->path, error);
        }
        if (available && DigestOfSource(given) == before->checksum) plan.kept[id] = before;
        ++progress.files;
        progress.bytes += plan.sizes[id];
        if (mProgress) mProgress(progress);
    }

    for (size_t row = 0; row < layout.fileIds.size(); ++row) {
        const size_t id = layout.fileIds[row];
        const uint64_t size = plan.sizes[id];
        if (mFiles[id].storage == Storage::Naked) summary.naked.Add(size);
        else if (plan.kept[id]) summary.kept.Add(size);
        else if (byPath.count(FoldCase(layout.filePaths[row]))) summary.changed.Add(size);
        else summary.added.Add(size);
    }
    for (const StoredFile& file : plan.base.files)
        if (!listed.count(&file)) summary.removed.Add(file.size);
}

void ProjectRelease::CheckOtherReleases(const ReleaseTree::Layout& layout, const fs::path& projectDirectory,
                                        const Plan& plan) const
{
    // What this release stores under its own version, by folded path.
    std::unordered_map<std::string, size_t> stored;
    for (size_t row = 0; row < layout.fileIds.size(); ++row) {
        const size_t id = layout.fileIds[row];
        if (!plan.kept[id] && mFiles[id].storage != Storage::Naked && FileVersion(mFiles[id]) == mVersion)
            stored.emplace(FoldCase(layout.filePaths[row]), id);
    }
    std::error_code error;
    for (fs::directory_iterator it(projectDirectory / "releases", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::optional<uint32_t> other = ParseVersion(name);
        if (!other || *other == mVersion) continue;
        StoredRelease release;
        try {
            release = ReadStoredRelease(it->path() / "releasemanifest");
        } catch (const IoError&) {
            continue;  // a release that cannot be read reads nothing of ours either
        }
        for (const StoredFile& file : release.files) {
            if (file.version != mVersion || !StoredUnderVersion(file.flags)) continue;
            // The same bytes, stored the same way: the record's flags (storage and codec) say
            // how to read what lies under this version.
            auto found = stored.find(FoldCase(file.path));
            const FileSpec* given = found == stored.end() ? nullptr : &mFiles[found->second];
            const bool same = given && file.flags == given->flags.value_or(ManifestFlagsFor(given->storage, given->compression)) &&
                              !IsZero(file.checksum) && plan.digests[found->second] == file.checksum;
            if (!same)
                throw IoError("release " + name + " of project \"" + mName + "\" reads \"" + file.path + "\" stored under " +
                              FormatVersion(mVersion) + "; this release would " +
                              (found == stored.end() ? "remove" : "change") +
                              " it. Pack with a new version, or replace release " + name + " first");
        }
    }
}

ProjectRelease::WriteResult ProjectRelease::Write(const fs::path& contentRoot) const
{
    const ReleaseTree::Layout layout = mTree.LayOut();
    const fs::path projectDirectory = contentRoot / "projects" / mName;
    const std::string versionText = FormatVersion(mVersion);
    WriteResult result;
    result.releaseDirectory = projectDirectory / "releases" / versionText;
    result.deployDirectory = result.releaseDirectory / "deploy";
    result.manifestPath = result.releaseDirectory / "releasemanifest";

    // Directories this write creates go again if it fails, so that nothing is left behind.
    std::vector<fs::path> created;
    auto makeDirectory = [&](const fs::path& directory) {
        std::vector<fs::path> missing;
        std::error_code error;
        for (fs::path at = directory; !at.empty() && !fs::exists(at, error); at = at.parent_path()) {
            missing.push_back(at);
            if (at == at.parent_path()) break;
        }
        CreateDirectories(directory);
        created.insert(created.end(), missing.rbegin(), missing.rend());  // in the order made
    };
    auto removeCreated = [&] {
        std::error_code ignored;
        for (auto it = created.rbegin(); it != created.rend(); ++it) fs::remove(*it, ignored);  // only while empty
    };

    makeDirectory(projectDirectory / "releases");
    RecoverInterruptedWrites(projectDirectory);
    std::error_code existsError;
    if (!mReplaceExisting && fs::exists(result.releaseDirectory, existsError)) {
        removeCreated();
        throw ReleaseExists("release " + versionText + " of project \"" + mName + "\" exists already");
    }

    Plan plan;
    plan.sizes.resize(mFiles.size());
    plan.digests.resize(mFiles.size());
    plan.kept.assign(mFiles.size(), nullptr);
    try {
        for (size_t id = 0; id < mFiles.size(); ++id) plan.sizes[id] = SourceSize(mFiles[id]);
        if (mBaseVersion) PlanAgainstBase(layout, projectDirectory, plan, result.patch);
    } catch (...) {
        removeCreated();
        throw;
    }

    // Staging: everything goes to names no reader looks at (writer/ReleaseCommit.h).
    const fs::path managedRoot = projectDirectory / "managedfiles";
    const fs::path archiveRoot = projectDirectory / "filearchives";
    const fs::path stagedRelease = Staged(result.releaseDirectory);
    const fs::path ownManaged = managedRoot / versionText;
    std::vector<fs::path> staged{stagedRelease, Staged(ownManaged)};  // removed if the write fails
    std::vector<std::pair<fs::path, fs::path>> installs;              // staged -> final, in order
    auto dropStaged = [&] {
        for (const fs::path& path : staged) RemoveQuietly(path);
        removeCreated();
    };

    WriteProgress progress{"packing", 0, 0, 0, 0};
    for (size_t row = 0; row < layout.fileIds.size(); ++row) {
        const size_t id = layout.fileIds[row];
        if (plan.kept[id]) continue;
        ++progress.totalFiles;
        progress.totalBytes += plan.sizes[id];
    }
    auto progressed = [&](uint64_t bytes) {
        ++progress.files;
        progress.bytes += bytes;
        if (mProgress) mProgress(progress);
    };
    auto stopIfAsked = [&] {
        if (Stopped()) throw WriteStopped("stopped; nothing was changed");
    };

    try {
        CreateDirectories(stagedRelease / "deploy");

        // Archived files by file version; each list in manifest order.
        std::map<uint32_t, std::vector<size_t>> archived;
        for (size_t row = 0; row < layout.fileIds.size(); ++row) {
            const FileSpec& given = mFiles[layout.fileIds[row]];
            if (given.storage == Storage::Archived && !plan.kept[layout.fileIds[row]]) archived[FileVersion(given)].push_back(row);
        }

        const std::string stem = ArchiveStem(mVersion);
        BatchEncoder encoder(mThreads, mZlibLevel, mLzmaDictionarySize);
        for (const auto& group : archived) {
            // Plain variables, not structured bindings, so that compilers without C++20's capture
            // of bindings (clang before 16) accept the lambdas below.
            const auto fileVersion = group.first;
            const auto& rows = group.second;
            const fs::path directory = archiveRoot / FormatVersion(fileVersion);
            makeDirectory(directory);

            std::vector<EncodeJob> jobs;
            jobs.reserve(rows.size());
            for (size_t row : rows) {
                const FileSpec& given = mFiles[layout.fileIds[row]];
                EncodeJob job;
                job.compression = given.compression;
                if (given.sourceFile.empty()) job.content = &given.content;
                else job.source = &given.sourceFile;
                job.sizeHint = plan.sizes[layout.fileIds[row]];
                jobs.push_back(job);
            }

            unsigned archiveCount = 0;
            std::unique_ptr<OutputFile> data;
            std::vector<IndexEntry> entries;
            ArchiveInfo info;
            auto finish = [&] {
                data->Close();
                data.reset();
                const std::string index = BuildArchiveIndex(entries);
                WriteWholeFile(Staged(info.indexPath), index);
                result.bytesWritten += index.size();
                installs.emplace_back(Staged(info.dataPath), info.dataPath);
                installs.emplace_back(Staged(info.indexPath), info.indexPath);
                entries.clear();
                result.archives.push_back(std::move(info));
                info = ArchiveInfo{};
            };
            encoder.Run(
                jobs,
                [&](size_t job, std::string_view stored, uint64_t originalSize, const Md5Digest& digest) {
                    const size_t row = rows[job];
                    const std::string& path = layout.filePaths[row];
                    if (originalSize > kMaxStoredSize || stored.size() > kMaxStoredSize)
                        throw std::invalid_argument("file \"" + path + "\" is too large for an archive (4 GiB - 1 bytes at most)");
                    if (stored.size() > mMaxArchiveDataSize) result.oversizedEntries.push_back(path);
                    if (data && data->Size() + stored.size() > mMaxArchiveDataSize) finish();
                    if (!data) {
                        info.indexPath = directory / ArchiveName(stem, archiveCount++);
                        info.dataPath = info.indexPath;
                        info.dataPath += ".dat";
                        info.fileVersion = fileVersion;
                        staged.push_back(Staged(info.indexPath));
                        staged.push_back(Staged(info.dataPath));
                        data = std::make_unique<OutputFile>(Staged(info.dataPath));
                    }
                    entries.push_back({path, static_cast<uint32_t>(data->Size()), static_cast<uint32_t>(stored.size())});
                    info.entryPaths.push_back(path);
                    data->Append(stored);
                    result.bytesWritten += stored.size();
                    plan.sizes[layout.fileIds[row]] = originalSize;
                    plan.digests[layout.fileIds[row]] = digest;
                    progressed(originalSize);
                },
                mStop);
            stopIfAsked();
            if (data) finish();
        }

        // Loose files: naked ones into the staged release, managed ones of this version into the
        // staged managed directory. A managed file of another version goes beside that
        // version's files only when it is not there yet: what is there belongs to another
        // release, and is kept when it holds the same content.
        DirectoryMaker directories;
        for (size_t row = 0; row < layout.fileIds.size(); ++row) {
            const size_t id = layout.fileIds[row];
            const FileSpec& given = mFiles[id];
            if (given.storage == Storage::Archived || plan.kept[id]) continue;
            stopIfAsked();
            const std::string& relative = layout.filePaths[row];
            const std::string fileVersion = FormatVersion(FileVersion(given));
            fs::path finalPath, stagedPath;
            if (given.storage == Storage::Naked) {
                finalPath = result.deployDirectory / relative;
                stagedPath = stagedRelease / "deploy" / relative;
            } else if (fileVersion == versionText) {
                finalPath = ownManaged / relative;
                stagedPath = Staged(ownManaged) / relative;
            } else {
                finalPath = managedRoot / fileVersion / relative;
                stagedPath = Staged(managedRoot / fileVersion) / relative;
                std::error_code error;
                if (fs::exists(finalPath, error)) {
                    plan.digests[id] = DigestOfSource(given);
                    if (DigestOfFile(finalPath) != plan.digests[id])
                        throw IoError("\"" + finalPath.string() + "\" holds other content; it belongs to the releases that store " +
                                      relative + " under " + fileVersion + " and is not replaced");
                    progressed(plan.sizes[id]);
                    continue;
                }
                staged.push_back(Staged(managedRoot / fileVersion));
                installs.emplace_back(stagedPath, finalPath);
            }
            directories.Ensure(stagedPath.parent_path());
            OutputFile out(stagedPath);
            Md5 md5;
            if (given.sourceFile.empty()) {
                out.Append(given.content);
                md5.Update(given.content);
                plan.sizes[id] = given.content.size();
            } else {
                plan.sizes[id] = ReadFileInPieces(given.sourceFile, [&](std::string_view piece) {
                    out.Append(piece);
                    md5.Update(piece);
                });
            }
            out.Close();
            plan.digests[id] = md5.Finish();
            result.bytesWritten += plan.sizes[id];
            result.looseFiles.push_back(finalPath);
            progressed(plan.sizes[id]);
        }

        const std::string manifest = BuildManifestBytes(layout, plan);
        WriteWholeFile(stagedRelease / "releasemanifest", manifest);
        result.bytesWritten += manifest.size();
        stopIfAsked();
        CheckOtherReleases(layout, projectDirectory, plan);
    } catch (...) {
        dropStaged();
        throw;
    }

    // The commit: the old release, its archives and managed files retire, the staged ones
    // take their places, the release directory last.
    ReleaseCommit commit(projectDirectory, versionText);
    commit.Retire(result.releaseDirectory);
    std::error_code listError;
    for (fs::directory_iterator it(archiveRoot, listError), end; !listError && it != end; it.increment(listError))
        if (it->is_directory())
            for (const fs::path& archive : OwnArchives(it->path(), ArchiveStem(mVersion))) commit.Retire(archive);
    commit.Retire(ownManaged);
    for (const auto& [from, to] : installs) commit.Install(from, to);
    std::error_code error;
    if (fs::exists(Staged(ownManaged), error)) commit.Install(Staged(ownManaged), ownManaged);
    commit.Install(stagedRelease, result.releaseDirectory);
    try {
        commit.Run();
    } catch (...) {
        if (!commit.Started()) dropStaged();  // else the journal's next replay needs them
        throw;
    }
    created.clear();
    dropStaged();  // the emptied staging folders of other versions' managed files
    std::error_code ignored;
    fs::remove(archiveRoot / versionText, ignored);  // only when no archive is stored under this version
    return result;
}

}  // namespace Tarn::VELL::Writer
