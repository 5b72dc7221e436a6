#include "reader/SolutionLoader.h"

#include <algorithm>

#include "CStd/CStd.h"
#include "CStd/PathJoin.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/Formats.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kLoadName[] = "Tarn::VELL::Reader::`anonymous-namespace'::LoadSolution";
constexpr char kGatherName[] = "Tarn::VELL::Reader::GatherProjects";

bool Abandon(RuntimeEnvironment::Listings& listings)
{
    listings.clear();
    return false;
}
}  // namespace

HRESULT GatherProjects(const ConfigurationManifest& configuration, const SolutionManifest& solution,
                       std::vector<SolutionManifest::Project>& projects)
{
    // How often the configuration names each project of the solution, by its place in the
    // solution's name-ordered table: a count per project, so that a configuration of any
    // length costs one lookup per line and each project is gathered once.
    const std::vector<SolutionManifest::Project>& known = solution.Projects();
    std::vector<std::uint32_t> uses(known.size(), 0);
    for (const std::string& name : configuration.Projects()) {
        const SolutionManifest::Project* project = solution.FindProject(name.c_str());
        if (project == nullptr) {
            LogError("%s: Failed to find project %s", kGatherName, name.c_str());
            LogError("%s: Failed to gather projects for user supplied project list", kGatherName);
            return kFail;
        }
        ++uses[static_cast<std::size_t>(project - known.data())];
    }
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (uses[i] == 0) continue;
        if (uses[i] > 1)
            LogWarning("%s: The configuration names project %s %u times; it is gathered once.", kGatherName,
                       known[i].name.c_str(), static_cast<unsigned>(uses[i]));
        projects.push_back(known[i]);
    }
    return kOk;
}

bool LoadSolution(const char* root, const char* solutionDirectory, RuntimeEnvironment::Listings& listings)
{
    char solutionPath[kMaxPath];
    if (!PathJoin(solutionPath, {solutionDirectory, kSolutionManifestName})) {
        LogError("%s: VELL runtime environment load solution failed to build solution manifest path: localRoot=\"%s\".",
                 kLoadName, solutionDirectory);
        return false;
    }
    char configurationPath[kMaxPath];
    if (!PathJoin(configurationPath, {solutionDirectory, kConfigurationManifestName})) {
        LogError("%s: VELL runtime environment load solution failed to build configuration manifest path: localRoot=\"%s\".",
                 kLoadName, solutionDirectory);
        return false;
    }
    SolutionManifest solution;
    if (Failed(solution.Load(solutionPath))) {
        LogError("%s: Failure to load solution manifest \"%s\".", kLoadName, solutionPath);
        return false;
    }
    ConfigurationManifest configuration;
    if (Failed(configuration.Load(configurationPath))) {
        LogError("%s: Failure to load configuration manifest \"%s\".", kLoadName, configurationPath);
        return false;
    }
    std::vector<SolutionManifest::Project> projects;
    if (Failed(GatherProjects(configuration, solution, projects))) {
        LogError("%s: Failed to gather projects for %s", kLoadName, solutionPath);
        return false;
    }
    // Highest priority first; equal priorities keep their name order, however many there are.
    std::stable_sort(projects.begin(), projects.end(),
                     [](const SolutionManifest::Project& a, const SolutionManifest::Project& b) { return a.priority > b.priority; });

    for (const SolutionManifest::Project& project : projects) {
        const VersionText version = FormatVersionString(project.version);
        char projectPath[kMaxPath];
        if (!PathJoin(projectPath, {root, "projects", project.name.c_str(), "releases", version.c_str()})) {
            LogError("%s: VELL runtime environment load solution failed to build project path: vellRoot=\"%s\", "
                     "project=\"%s\", project-version=\"%s\".",
                     kLoadName, root, project.name.c_str(), version.c_str());
            return Abandon(listings);
        }
        std::unique_ptr<ProjectListing> listing = CreateReleaseListing(root, projectPath);
        if (listing == nullptr) {
            LogError("%s: VELL runtime environment load solution failed to create project listing: projectPath=\"%s\".",
                     kLoadName, projectPath);
            return Abandon(listings);
        }
        listings.push_back(std::move(listing));
    }
    return true;
}

}  // namespace Tarn::VELL::Reader
