#include "reader/PathProcessors.h"

#include <cstring>

#include "CStd/CStd.h"
#include "CStd/PathJoin.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/PathHash.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

void WalkPath(const ProjectListing::EntryHeader* entry, ProjectListing::PathProcessor& processor)
{
    WalkPathWith(entry, processor);
}

// A separator is counted before every name but the first visited, as PathBuilder writes one:
// an empty name (which a manifest may hold) still stands between two separators.
bool PathLengthProcessor::Process(const ProjectListing::EntryHeader* entry)
{
    length += (visited ? 1 : 0) + static_cast<std::uint32_t>(std::strlen(entry->name));
    visited = true;
    return true;
}

bool PathBuilder::Process(const ProjectListing::EntryHeader* entry)
{
    const std::size_t n = std::strlen(entry->name);
    std::memcpy(cursor - n, entry->name, n);
    cursor -= n;
    if (cursor > start) *--cursor = '/';
    return true;
}

PathMatcher::PathMatcher(const char* path) : start(path), cursor(path + std::strlen(path)) {}

namespace {

inline int FoldByte(unsigned char c) { return static_cast<unsigned>(c - 'A') < 26u ? c + ('a' - 'A') : c; }

}  // namespace

// Eight bytes at a time: a path spelled in any case costs the same.
bool EqualIgnoringAsciiCase(const char* a, const char* b, std::size_t n)
{
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y && PathHash::FoldWord(x) != PathHash::FoldWord(y)) return false;
    }
    for (; n > 0; ++a, ++b, --n)
        if (*a != *b && FoldByte(static_cast<unsigned char>(*a)) != FoldByte(static_cast<unsigned char>(*b))) return false;
    return true;
}

bool PathMatcher::Process(const ProjectListing::EntryHeader* entry)
{
    matched = false;
    const std::size_t n = std::strlen(entry->name);
    if (n > static_cast<std::size_t>(cursor - start)) return false;
    const char* at = cursor - n;
    if (!EqualIgnoringAsciiCase(at, entry->name, n)) return false;
    if (at > start) {
        if (at[-1] != '/') return false;
        cursor = at - 1;
        matched = cursor == start;
    } else {
        cursor = at;
        matched = true;
    }
    return true;
}

bool GetEntryPath(const ProjectListing::EntryHeader* entry, char* buffer)
{
    if (buffer == nullptr || entry == nullptr) return false;
    PathLengthProcessor measure;
    WalkPath(entry, measure);
    if (measure.length >= kMaxPath) return false;
    buffer[measure.length] = '\0';
    PathBuilder builder(buffer, buffer + measure.length);
    WalkPath(entry, builder);
    return true;
}

std::string GetEntryPathString(const ProjectListing::EntryHeader* entry)
{
    char path[kMaxPath];
    return GetEntryPath(entry, path) ? std::string(path) : std::string();
}

bool PathMatches(const ProjectListing::EntryHeader* entry, const char* path, std::size_t length)
{
    PathMatcher matcher(path, length);
    WalkPathWith(entry, matcher);
    return matcher.matched;
}

bool PathMatches(const ProjectListing::EntryHeader* entry, const char* path)
{
    return PathMatches(entry, path, std::strlen(path));
}

// ---- on-disk paths --------------------------------------------------------------------------

namespace {
constexpr char kNakedFileName[] = "Tarn::VELL::Reader::ProjectListing::GetNakedFile";
constexpr char kProjectRootName[] = "Tarn::VELL::Reader::ProjectListing::GetProjectRoot";
}  // namespace

bool ProjectListing::GetProjectRoot(char* out, const char* rootDir, const char* projectName)
{
    if (PathJoin(out, {rootDir, "projects", projectName})) return true;
    LogError("%s: The project path is too long: %s/projects/%s", kProjectRootName, rootDir ? rootDir : "",
             projectName ? projectName : "");
    return false;
}

namespace {
void LogPathTooLong(std::uint32_t fileType, const char* projectRoot, const char* versionText, const char* name)
{
    projectRoot = projectRoot ? projectRoot : "";
    name = name ? name : "";
    if (fileType == kFileTypeArchiveData)
        LogError("%s: The path is too long: %s/filearchives/%s/%s", kNakedFileName, projectRoot, versionText, name);
    else if (fileType == kFileTypeManaged)
        LogError("%s: The path is too long: %s/managedfiles/%s/%s", kNakedFileName, projectRoot, versionText, name);
    else
        LogError("%s: The path is too long: %s/releases/%s/deploy/%s", kNakedFileName, projectRoot, versionText, name);
}
}  // namespace

bool ProjectListing::GetNakedFile(char* out, std::uint32_t fileType, const char* projectRoot, std::uint32_t releaseVersion,
                                  std::uint32_t fileVersion, const char* name)
{
    if (fileType > kFileTypeNaked) {
        LogError("%s: Invalid file type.", kNakedFileName);
        return false;
    }
    static constexpr const char* kMiddle[] = {"filearchives", "managedfiles", "releases"};
    const VersionText text = FormatVersionString(fileType == kFileTypeNaked ? releaseVersion : fileVersion);
    const char* tail = fileType == kFileTypeNaked ? "deploy" : nullptr;
    if (PathJoin(out, {projectRoot, kMiddle[fileType], text.c_str(), tail, name})) return true;
    LogPathTooLong(fileType, projectRoot, text.c_str(), name);
    return false;
}

bool BuildArchiveDataPath(char* out, const char* projectRoot, std::uint32_t fileVersion, const char* dataFile)
{
    if (PathJoin(out, {dataFile})) return true;
    LogPathTooLong(kFileTypeArchiveData, projectRoot, FormatVersionString(fileVersion).c_str(), dataFile);
    return false;
}

}  // namespace Tarn::VELL::Reader
