// Loading a solution release: its solution and configuration manifests, the projects the
// configuration names (with the releases, priorities and flags the solution manifest gives
// them), ordered by priority, highest first, and one listing per project in that order. A
// project of higher priority hides paths of the same name in projects of lower priority.
#pragma once

#include <vector>

#include "CStd/HResult.h"
#include "reader/ConfigurationManifest.h"
#include "reader/RuntimeEnvironment.h"
#include "reader/SolutionManifest.h"

namespace Tarn::VELL::Reader {

// Fills listings (empty on entry) from the solution release directory; on failure listings
// is empty again and false is returned, after logging.
bool LoadSolution(const char* root, const char* solutionDirectory, RuntimeEnvironment::Listings& listings);

// Appends the solution's entries of the configuration's projects, in ascending name order
// (ASCII case ignored). A project the configuration names more than once (in any spelling of
// its name) is gathered once, with a warning that says how often it was named.
HRESULT GatherProjects(const ConfigurationManifest& configuration, const SolutionManifest& solution,
                       std::vector<SolutionManifest::Project>& projects);

}  // namespace Tarn::VELL::Reader
