#include "writer/ProjectWriter.h"

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

#include "writer/ArchiveIndex.h"
#include "writer/BatchEncoder.h"
#include "writer/FileIO.h"
#include "writer/LzmaEncoder.h"
#include "writer/PathNames.h"
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

// Removes the archives that an earlier write of the same release left in directory.
void RemoveOwnArchives(const fs::path& directory, const std::string& stem)
{
    std::error_code error;
    const std::string prefix = stem + "_";
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool ours = name.compare(0, prefix.size(), prefix) == 0 &&
                          (name.ends_with(".olm") || name.ends_with(".olm.dat"));
        if (ours && !it->is_directory()) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
            if (removeError)
                throw IoError("cannot remove the old archive \"" + it->path().string() + "\": " + removeError.message());
        }
    }
    if (error) throw IoError("cannot list \"" + directory.string() + "\": " + error.message());
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
    RequirePathComponent(mName, "project name");
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

ProjectRelease& ProjectRelease::SetProgressCallback(std::function<void(size_t, size_t)> callback)
{
    mProgress = std::move(callback);
    return *this;
}

std::string ProjectRelease::ArchiveStem(uint32_t releaseVersion) { return "data_" + FormatVersion(releaseVersion); }

std::string ProjectRelease::BuildManifest() const
{
    std::vector<uint64_t> sizes;
    sizes.reserve(mFiles.size());
    for (const FileSpec& file : mFiles) sizes.push_back(file.manifestSize ? 0 : SourceSize(file));
    return BuildManifestBytes(mTree.LayOut(), sizes);
}

std::string ProjectRelease::BuildManifestBytes(const ReleaseTree::Layout& layout, const std::vector<uint64_t>& sizes) const
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
        const FileSpec& given = mFiles[layout.fileIds[i]];
        const uint64_t size = sizes[layout.fileIds[i]];
        if (!given.manifestSize && size > kMaxStoredSize)
            throw std::invalid_argument("file \"" + layout.filePaths[i] + "\" is larger than 4 GiB - 1 bytes");
        ManifestFile file;
        file.name = intern(layout.fileNames[i]);
        file.version = FileVersion(given);
        file.checksum = given.checksum;
        file.flags = given.flags.value_or(ManifestFlagsFor(given.storage, given.compression));
        file.size = given.manifestSize.value_or(static_cast<uint32_t>(size));
        files.push_back(file);
    }
    return BuildRawManifest(mFormatVersion, projectName, mVersion, directories, files, strings);
}

ProjectRelease::WriteResult ProjectRelease::Write(const fs::path& contentRoot) const
{
    const ReleaseTree::Layout layout = mTree.LayOut();
    const fs::path projectDirectory = contentRoot / "projects" / mName;
    WriteResult result;
    result.releaseDirectory = projectDirectory / "releases" / FormatVersion(mVersion);
    result.deployDirectory = result.releaseDirectory / "deploy";
    result.manifestPath = result.releaseDirectory / "releasemanifest";
    CreateDirectories(result.deployDirectory);
    // An earlier manifest would list content that is about to be replaced; it comes back last.
    std::error_code removeError;
    fs::remove(result.manifestPath, removeError);
    if (removeError) throw IoError("cannot remove \"" + result.manifestPath.string() + "\": " + removeError.message());

    const size_t total = layout.fileIds.size();
    size_t done = 0;
    auto progressed = [&] {
        ++done;
        if (mProgress) mProgress(done, total);
    };
    std::vector<uint64_t> sizes(mFiles.size(), 0);

    // Archived files by file version; each list in manifest order.
    std::map<uint32_t, std::vector<size_t>> archived;
    for (size_t row = 0; row < total; ++row) {
        const FileSpec& given = mFiles[layout.fileIds[row]];
        if (given.storage == Storage::Archived) archived[FileVersion(given)].push_back(row);
    }

    // Archives of an earlier write of this release go first, whatever file versions it used.
    const std::string stem = ArchiveStem(mVersion);
    const fs::path archiveRoot = projectDirectory / "filearchives";
    std::error_code listError;
    for (fs::directory_iterator it(archiveRoot, listError), end; !listError && it != end; it.increment(listError))
        if (it->is_directory()) RemoveOwnArchives(it->path(), stem);

    BatchEncoder encoder(mThreads, mZlibLevel, mLzmaDictionarySize);
    for (const auto& group : archived) {
        // Plain variables, not structured bindings, so that compilers without C++20's capture of
        // bindings (clang before 16) accept the lambdas below.
        const auto fileVersion = group.first;
        const auto& rows = group.second;
        const fs::path directory = archiveRoot / FormatVersion(fileVersion);
        CreateDirectories(directory);

        std::vector<EncodeJob> jobs;
        jobs.reserve(rows.size());
        for (size_t row : rows) {
            const FileSpec& given = mFiles[layout.fileIds[row]];
            EncodeJob job;
            job.compression = given.compression;
            if (given.sourceFile.empty()) {
                job.content = &given.content;
                job.sizeHint = given.content.size();
            } else {
                job.source = &given.sourceFile;
                std::error_code ignored;  // an unreadable source fails when it is read
                const uintmax_t size = fs::file_size(given.sourceFile, ignored);
                job.sizeHint = ignored ? 0 : size;
            }
            jobs.push_back(job);
        }

        unsigned archiveCount = 0;
        std::unique_ptr<OutputFile> data;
        std::vector<IndexEntry> entries;
        ArchiveInfo info;
        auto finish = [&] {
            data->Close();
            data.reset();
            WriteWholeFile(info.indexPath, BuildArchiveIndex(entries));
            entries.clear();
            result.archives.push_back(std::move(info));
            info = ArchiveInfo{};
        };
        encoder.Run(jobs, [&](size_t job, std::string_view stored, uint64_t originalSize) {
            const size_t row = rows[job];
            const std::string& path = layout.filePaths[row];
            if (originalSize > kMaxStoredSize || stored.size() > kMaxStoredSize)
                throw std::invalid_argument("file \"" + path + "\" is too large for an archive (4 GiB - 1 bytes at most)");
            if (data && data->Size() + stored.size() > mMaxArchiveDataSize) finish();
            if (!data) {
                info.indexPath = directory / ArchiveName(stem, archiveCount++);
                info.dataPath = info.indexPath;
                info.dataPath += ".dat";
                info.fileVersion = fileVersion;
                data = std::make_unique<OutputFile>(info.dataPath);
            }
            entries.push_back({path, static_cast<uint32_t>(data->Size()), static_cast<uint32_t>(stored.size())});
            info.entryPaths.push_back(path);
            data->Append(stored);
            sizes[layout.fileIds[row]] = originalSize;
            progressed();
        });
        if (data) finish();
    }

    DirectoryMaker directories;
    for (size_t row = 0; row < total; ++row) {
        const FileSpec& given = mFiles[layout.fileIds[row]];
        if (given.storage == Storage::Archived) continue;
        const fs::path path = given.storage == Storage::Managed
                                  ? projectDirectory / "managedfiles" / FormatVersion(FileVersion(given)) / layout.filePaths[row]
                                  : result.deployDirectory / layout.filePaths[row];
        directories.Ensure(path.parent_path());
        if (given.sourceFile.empty()) {
            OutputFile file(path);
            file.Append(given.content);
            file.Close();
            sizes[layout.fileIds[row]] = given.content.size();
        } else {
            std::error_code error;
            fs::copy_file(given.sourceFile, path, fs::copy_options::overwrite_existing, error);
            if (error)
                throw IoError("cannot copy \"" + given.sourceFile.string() + "\" to \"" + path.string() + "\": " + error.message());
            sizes[layout.fileIds[row]] = fs::file_size(path, error);
            if (error) throw IoError("cannot read \"" + path.string() + "\": " + error.message());
        }
        result.looseFiles.push_back(path);
        progressed();
    }

    WriteWholeFile(result.manifestPath, BuildManifestBytes(layout, sizes));
    return result;
}

}  // namespace Tarn::VELL::Writer
