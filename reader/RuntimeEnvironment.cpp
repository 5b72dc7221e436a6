#include "reader/RuntimeEnvironment.h"

#include <cstring>

#include "CStd/CStd.h"
#include "CStd/PathJoin.h"
#include "CStd/PathNormalize.h"
#include "logger/Log.h"
#include "reader/Formats.h"
#include "reader/ReleaseManifest.h"
#include "reader/SolutionLoader.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kCreateName[] = "Tarn::VELL::Reader::RuntimeEnvironment::Create";
constexpr char kTypeName[] = "Tarn::VELL::Reader::RuntimeEnvironment::GetProjectTypeNameAndVersion";
constexpr char kDetectName[] = "Tarn::VELL::Reader::`anonymous-namespace'::DetectNameAndRelease";
constexpr char kCollectName[] = "Tarn::VELL::Reader::RuntimeEnvironment::CollectProjects";
constexpr char kListingName[] = "Tarn::VELL::Reader::`anonymous-namespace'::CreateListing";

bool DetectNameAndRelease(const char* rest, std::string& name, std::uint32_t& version)
{
    const char* slash = std::strchr(rest, '/');
    if (slash == nullptr) return false;
    name.assign(rest, slash);
    // Searched behind the name, which may itself end in "releases".
    const char* releases = std::strstr(slash + 1, "releases/");
    if (releases == nullptr) return false;
    const char* versionStart = releases + std::strlen("releases/");
    const char* versionEnd = std::strchr(versionStart, '/');
    const std::string versionText =
        versionEnd ? std::string(versionStart, versionEnd) : std::string(versionStart);
    if (name.empty() || versionText.empty()) return false;
    if (!ParseVersionString(versionText.c_str(), &version)) {
        LogError("%s: Invalid release format \"%s\".", kDetectName, versionText.c_str());
        return false;
    }
    return true;
}

bool CollectProjects(ProjectType type, const std::string& root, const std::string& name, const char* versionText,
                     std::string& deployDirectory, RuntimeEnvironment::Listings& listings)
{
    char releaseDirectory[kMaxPath];
    const bool project = type == ProjectType::Project;
    if (!PathJoin(releaseDirectory, {root.c_str(), project ? "projects" : "solutions", name.c_str(), "releases", versionText})) {
        if (project)
            LogError("%s: VELL project runtime environment project collection failed to build the root folder path: "
                     "vellRoot=\"%s\", name=\"%s\", version=\"%s\".",
                     kCollectName, root.c_str(), name.c_str(), versionText);
        else
            LogError("%s: VELL solution runtime environment project collection failed to build the root folder path: "
                     "vellRoot=\"%s\", name=\"%s\", version=\"%s\".",
                     kCollectName, root.c_str(), name.c_str(), versionText);
        return false;
    }
    if (project) {
        // Without a listing the environment still exists; it then finds nothing.
        if (auto listing = CreateReleaseListing(root.c_str(), releaseDirectory)) listings.push_back(std::move(listing));
    } else if (!LoadSolution(root.c_str(), releaseDirectory, listings)) {
        LogError("%s: VELL solution runtime environment project collection failed to load solution.", kCollectName);
        return false;
    }
    deployDirectory = std::string(releaseDirectory) + "/deploy";
    return true;
}

}  // namespace

RuntimeEnvironment::RuntimeEnvironment(std::string root, std::string deployDirectory, Listings listings, ProjectType type,
                                       std::string name, std::uint32_t version)
    : mRoot(std::move(root)),
      mDeployDirectory(std::move(deployDirectory)),
      mListings(std::move(listings)),
      mType(type),
      mName(std::move(name)),
      mVersion(version)
{
}

std::string FindRootDirectory(const char* directory)
{
    char copy[kMaxPath];
    std_strncpy(copy, sizeof(copy), directory ? directory : "", TRUNCATE);
    char normalised[kMaxPath];
    NormalizeSeparators(copy, normalised, sizeof(normalised), false);
    if (const char* at = FindLast(normalised, "VELL/")) return std::string(static_cast<const char*>(normalised), at + std::strlen("VELL"));
    return normalised;
}

bool GetProjectTypeNameAndVersion(const char* path, ProjectType& type, std::string& name, std::uint32_t& version)
{
    const char* rest = nullptr;
    if (const char* at = FindLast(path, "projects/")) {
        type = ProjectType::Project;
        rest = at + std::strlen("projects/");
    } else if (const char* at2 = FindLast(path, "solutions/")) {
        type = ProjectType::Solution;
        rest = at2 + std::strlen("solutions/");
    } else {
        LogWarning("%s: Did not find keywords \"projects\" or \"solutions\" in path %s", kTypeName, path);
        return false;
    }
    if (*rest == '\0') {
        LogError("%s: Incomplete path: %s", kTypeName, path);
        return false;
    }
    if (!DetectNameAndRelease(rest, name, version)) {
        LogError("%s: Failed to determine name and version from the path %s", kTypeName, path);
        return false;
    }
    return true;
}

std::unique_ptr<ProjectListing> CreateReleaseListing(const char* root, const char* releaseDirectory)
{
    char manifestPath[kMaxPath];
    if (!PathJoin(manifestPath, {releaseDirectory, kReleaseManifestName})) {
        LogError("%s: VELL runtime environment listing creation failed to join the path: projectPath=\"%s\".", kListingName,
                 releaseDirectory);
        return nullptr;
    }
    std::unique_ptr<ReleaseManifest> manifest = ReleaseManifest::Load(manifestPath);
    if (manifest == nullptr) {
        LogError("%s: Failure to load project manifest \"%s\".", kListingName, manifestPath);
        return nullptr;
    }
    return std::unique_ptr<ProjectListing>(manifest->CreateListing(root));
}

std::unique_ptr<RuntimeEnvironment> RuntimeEnvironment::Create(const char* directory)
{
    LogTrace("%s: ", kCreateName);
    char normalised[kMaxPath];
    // A directory whose normalised form does not fit is refused like one that names no release.
    const bool fits = NormalizeSeparators(directory ? directory : "", normalised, sizeof(normalised), false) >= 0;
    const std::string root = FindRootDirectory(normalised);
    LogInfo("%s: Creating VELL runtime environment: VELL root directory = \"%s\"", kCreateName, root.c_str());

    ProjectType type = ProjectType::Project;
    std::string name;
    std::uint32_t version = 0;
    if (!fits || !GetProjectTypeNameAndVersion(normalised, type, name, version)) {
        LogError("%s: VELL runtime environment creation failed because it was unable to get the project information.",
                 kCreateName);
        return nullptr;
    }
    const VersionText versionText = FormatVersionString(version);
    std::string deployDirectory;
    Listings listings;
    if (!CollectProjects(type, root, name, versionText.c_str(), deployDirectory, listings)) {
        LogError("%s: VELL runtime environment creation failed because it was unable to collect the projects.", kCreateName);
        return nullptr;
    }
    return std::make_unique<RuntimeEnvironment>(root, std::move(deployDirectory), std::move(listings), type, std::move(name),
                                                version);
}

RuntimeEnvironment::Found RuntimeEnvironment::FindEntry(const char* path) const
{
    return FindEntry(path, std::strlen(path));
}

RuntimeEnvironment::Found RuntimeEnvironment::FindEntry(const char* path, std::size_t length) const
{
    const std::uint32_t hash = ProjectListing::BucketHash(path, length);
    for (const auto& listing : mListings)
        if (const ProjectListing::EntryHeader* entry = listing->Lookup(path, length, hash)) return {listing.get(), entry};
    return {nullptr, nullptr};
}

}  // namespace Tarn::VELL::Reader
