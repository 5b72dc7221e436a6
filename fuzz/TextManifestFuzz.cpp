// Solution and configuration manifests of any text load or fail, and what a solution manifest loads is sorted, free of repeated names and refers only to its own projects.
#include "FuzzSupport.h"
#include "platform/Win32.h"
#include "reader/ConfigurationManifest.h"
#include "reader/SolutionManifest.h"

using namespace Tarn::VELL::Reader;

namespace {

template <typename T, typename Name>
void CheckSortedUnique(const std::vector<T>& items, Name name)
{
    for (std::size_t i = 1; i < items.size(); ++i) FUZZ_CHECK(Win32::_stricmp(name(items[i - 1]), name(items[i])) < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = (TarnFuzz::QuietLogging(), TarnFuzz::ScratchDir() + "/manifest");
    TarnFuzz::WriteFile(path, {reinterpret_cast<const char*>(data), size});

    SolutionManifest solution;
    solution.Load(path.c_str());
    CheckSortedUnique(solution.Projects(), [](const SolutionManifest::Project& p) { return p.name.c_str(); });
    CheckSortedUnique(solution.Configurations(), [](const SolutionManifest::Configuration& c) { return c.name.c_str(); });
    for (const SolutionManifest::Configuration& configuration : solution.Configurations()) {
        CheckSortedUnique(configuration.projects, [](const std::string& s) { return s.c_str(); });
        for (const std::string& project : configuration.projects) FUZZ_CHECK(solution.FindProject(project.c_str()) != nullptr);
    }

    ConfigurationManifest configuration;
    configuration.Load(path.c_str());
    return 0;
}
