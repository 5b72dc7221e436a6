#include "writer/StoredRelease.h"

#include <cstring>
#include <deque>

#include "writer/FileIO.h"
#include "writer/PathNames.h"
#include "writer/ReleaseManifest.h"

namespace Tarn::VELL::Writer {

namespace {

uint32_t U32At(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

}  // namespace

bool StoredUnderVersion(uint32_t flags) { return (flags & (ManifestFlag::Archived | ManifestFlag::Managed)) != 0; }

StoredRelease ReadStoredRelease(const std::filesystem::path& manifestPath)
{
    const std::string bytes = ReadWholeFile(manifestPath);
    auto damaged = [&](const std::string& why) {
        return IoError("the release manifest \"" + manifestPath.string() + "\" is damaged: " + why);
    };
    // Every read below is checked against the end first: 64-bit sums cannot wrap here.
    auto need = [&](uint64_t end, const char* what) {
        if (end > bytes.size()) throw damaged(std::string(what) + " runs past the end of the file");
    };
    need(20, "the header");
    if (U32At(bytes, 0) != kManifestMagic) throw damaged("wrong magic value");
    StoredRelease release;
    release.formatVersion = U32At(bytes, 4);
    if (release.formatVersion != kManifestFormatV1 && release.formatVersion != kManifestFormatV2)
        throw damaged("unknown format version");
    const uint32_t projectName = U32At(bytes, 8);
    release.version = U32At(bytes, 12);
    const uint64_t directoryCount = U32At(bytes, 16);
    const uint64_t directories = 20;
    need(directories + directoryCount * kManifestDirectoryRecordSize + 4, "the directory table");
    const uint64_t fileCountAt = directories + directoryCount * kManifestDirectoryRecordSize;
    const uint64_t fileCount = U32At(bytes, fileCountAt);
    const uint64_t recordSize = ManifestFileRecordSize(release.formatVersion);
    const uint64_t files = fileCountAt + 4;
    need(files + fileCount * recordSize + 8, "the file table");
    const uint64_t stringHeader = files + fileCount * recordSize;
    const uint64_t stringBytes = U32At(bytes, stringHeader + 4);
    need(stringHeader + 8 + stringBytes, "the string data");

    std::vector<std::string> strings;
    for (size_t at = stringHeader + 8, end = at + stringBytes; at < end;) {
        const void* nul = std::memchr(bytes.data() + at, '\0', end - at);
        if (nul == nullptr) throw damaged("a string is not terminated");
        const size_t length = static_cast<const char*>(nul) - (bytes.data() + at);
        strings.emplace_back(bytes.data() + at, length);
        at += length + 1;
    }
    auto text = [&](uint32_t index) -> const std::string& {
        if (index >= strings.size()) throw damaged("a string index is out of range");
        return strings[index];
    };
    auto name = [&](uint32_t index) -> const std::string& {
        const std::string& value = text(index);
        if (!PathComponentProblem(value).empty()) throw damaged("the name \"" + value + "\" is not a path component");
        return value;
    };
    release.project = text(projectName);

    if (directoryCount == 0) {
        if (fileCount != 0) throw damaged("files but no root directory");
        return release;
    }
    std::vector<bool> directorySeen(directoryCount), fileSeen(fileCount);
    directorySeen[0] = true;
    for (std::deque<std::pair<uint32_t, std::string>> queue{{0, ""}}; !queue.empty(); queue.pop_front()) {
        const auto [directory, prefix] = queue.front();
        const size_t at = directories + size_t{directory} * kManifestDirectoryRecordSize;
        const uint64_t firstSubdirectory = U32At(bytes, at + 4), subdirectoryCount = U32At(bytes, at + 8);
        const uint64_t firstFile = U32At(bytes, at + 12), directoryFiles = U32At(bytes, at + 16);
        if (firstSubdirectory + subdirectoryCount > directoryCount || firstFile + directoryFiles > fileCount)
            throw damaged("a directory's range lies outside its table");
        for (uint64_t file = firstFile; file < firstFile + directoryFiles; ++file) {
            if (fileSeen[file]) throw damaged("a file belongs to two directories");
            fileSeen[file] = true;
            const size_t record = files + file * recordSize;
            StoredFile stored;
            stored.path = prefix + name(U32At(bytes, record));
            stored.version = U32At(bytes, record + 4);
            std::memcpy(stored.checksum.data(), bytes.data() + record + 8, stored.checksum.size());
            stored.flags = U32At(bytes, record + 24);
            stored.size = U32At(bytes, record + 28);
            release.files.push_back(std::move(stored));
        }
        for (uint64_t child = firstSubdirectory; child < firstSubdirectory + subdirectoryCount; ++child) {
            if (directorySeen[child]) throw damaged("a directory is reached twice");
            directorySeen[child] = true;
            const size_t childAt = directories + child * kManifestDirectoryRecordSize;
            queue.emplace_back(static_cast<uint32_t>(child), prefix + name(U32At(bytes, childAt)) + "/");
        }
    }
    return release;
}

}  // namespace Tarn::VELL::Writer
