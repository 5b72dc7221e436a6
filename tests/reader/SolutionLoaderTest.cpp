// Loading a solution release: which projects its configuration names, at which releases, in
// which order, and what is left when one of them cannot be loaded.
#include "reader/ListingSearch.h"
#include "reader/RuntimeEnvironment.h"
#include "writer/SolutionWriter.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;
using W::SolutionRelease;

namespace {

const std::string kLoad = "Tarn::VELL::Reader::`anonymous-namespace'::LoadSolution: ";
const std::string kGather = "Tarn::VELL::Reader::GatherProjects: ";
const std::string kListing = "Tarn::VELL::Reader::`anonymous-namespace'::CreateListing: ";
const std::string kCollectFailed =
    "Tarn::VELL::Reader::RuntimeEnvironment::CollectProjects: VELL solution runtime environment project collection failed "
    "to load solution.";
const std::string kCreateFailed =
    "Tarn::VELL::Reader::RuntimeEnvironment::Create: VELL runtime environment creation failed because it was unable to "
    "collect the projects.";

// A content root with projects written on demand and one solution "main" 0.0.0.9.
struct Layout {
    TempDir dir;
    std::filesystem::path root = dir.Path() / "VELL";
    std::string release = root.generic_string() + "/solutions/main/releases/0.0.0.9";
    std::string deploy = release + "/deploy";

    // Release 0.0.0.1 of a project holding DATA/shared.txt and DATA/<name>.txt.
    void Project(const std::string& name, Storage storage = Storage::Naked) const
    {
        ProjectRelease(name, 1)
            .Add("DATA/shared.txt", name, storage, Compression::Stored)
            .Add("DATA/" + name + ".txt", name, storage, Compression::Stored)
            .Write(root);
    }
};

std::vector<std::string> ListingNames(const RuntimeEnvironment& environment)
{
    std::vector<std::string> names;
    for (const auto& listing : environment.GetListings()) names.push_back(listing->ProjectName());
    return names;
}

}  // namespace

TEST(SolutionLoading, LoadsConfiguredProjectsHighestPriorityFirstAtTheSolutionsReleases)
{
    Layout layout;
    layout.Project("Alpha");
    layout.Project("Beta");
    layout.Project("Gamma");
    // A later release of Alpha that the solution does not name.
    ProjectRelease("Alpha", 2).Add("DATA/second.txt", "2", Storage::Naked).Write(layout.root);
    SolutionRelease("main", 9)
        .AddProject("Alpha", 1, 10)
        .AddProject("Beta", 1, 3000000000u)  // above every signed 32-bit number
        .AddProject("Gamma", 1, 10)
        .SetConfigurationManifest("default", {"Gamma", "alpha", "Beta", "ALPHA"})  // Alpha named twice: loaded once
        .Write(layout.root);

    LogCapture log;
    auto environment = RuntimeEnvironment::Create(layout.deploy.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(environment->Type(), ProjectType::Solution);
    EXPECT_EQ(environment->Name(), "main");
    EXPECT_EQ(environment->Version(), 9u);
    EXPECT_EQ(environment->Root(), layout.root.generic_string());
    EXPECT_EQ(environment->DeployDirectory(), layout.deploy);
    EXPECT_EQ(ListingNames(*environment), (std::vector<std::string>{"Beta", "Alpha", "Gamma"}));

    const auto& listings = environment->GetListings();
    EXPECT_EQ(environment->FindEntry("DATA/shared.txt").first, listings[0].get());
    EXPECT_EQ(environment->FindEntry("data/alpha.txt").first, listings[1].get());
    EXPECT_EQ(environment->FindEntry("DATA/Gamma.txt").first, listings[2].get());
    EXPECT_EQ(environment->FindEntry("DATA/second.txt").second, nullptr);
    EXPECT_EQ(listings[1]->ReleaseVersion(), 1u);
    EXPECT_EQ(log.Texts(VELL_LOG_WARN),
              std::vector<std::string>{kGather + "The configuration names project Alpha 2 times; it is gathered once."});
}

TEST(SolutionLoading, EqualPrioritiesKeepAscendingNameOrderForManyProjects)
{
    Layout layout;
    SolutionRelease solution("main", 9);
    std::vector<std::pair<std::uint32_t, std::string>> projects;  // priority, name
    for (int i = 0; i < 40; ++i) {
        // Mixed case, so that an order that minds case would differ.
        const std::string name = (i % 3 == 0 ? "p" : "P") + std::to_string(10 + i);
        ProjectRelease(name, 1).Add("DATA/" + name + ".txt", name, Storage::Naked).Write(layout.root);
        solution.AddProject(name, 1, i % 5 == 0 ? 7 : 3);
        projects.emplace_back(i % 5 == 0 ? 7 : 3, name);
    }
    std::vector<std::string> configured, expected;
    for (int i = 0; i < 40; ++i) configured.push_back(projects[static_cast<std::size_t>((i * 17 + 5) % 40)].second);
    solution.SetConfigurationManifest("default", configured).Write(layout.root);
    // The names differ only in their digits, so their case plays no part in the expected order.
    std::stable_sort(projects.begin(), projects.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second.substr(1) < b.second.substr(1);
    });
    for (const auto& project : projects) expected.push_back(project.second);

    LogCapture log;
    auto environment = RuntimeEnvironment::Create(layout.deploy.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(ListingNames(*environment), expected);
}

TEST(SolutionLoading, AnEmptyConfigurationFindsNothingAndAnUnknownProjectFailsCreation)
{
    Layout layout;
    layout.Project("Alpha");
    SolutionRelease("main", 9).AddProject("Alpha", 1, 10).SetConfigurationManifest("empty", {}).Write(layout.root);
    LogCapture log;
    auto environment = RuntimeEnvironment::Create(layout.deploy.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_TRUE(environment->GetListings().empty());
    EXPECT_EQ(environment->FindEntry("DATA/shared.txt").second, nullptr);
    EXPECT_EQ(environment->FindEntry("").second, nullptr);
    EXPECT_EQ(environment->BeginSearch(""), nullptr);

    layout.dir.Write(layout.release + "/configurationmanifest", "VELL Configuration Manifest\n1.0.0.0\ndefault\n2\nAlpha\nDelta\n");
    log.Clear();
    EXPECT_EQ(RuntimeEnvironment::Create(layout.deploy.c_str()), nullptr);
    EXPECT_EQ(log.Texts(VELL_LOG_WARN),
              (std::vector<std::string>{
                  kGather + "Failed to find project Delta",
                  kGather + "Failed to gather projects for user supplied project list",
                  kLoad + "Failed to gather projects for " + layout.release + "/solutionmanifest",
                  kCollectFailed,
                  kCreateFailed,
              }))
        << log.Dump();
}

TEST(SolutionLoading, ProjectWithoutReleaseManifestFailsTheWholeSolutionAndReleasesTheOthers)
{
    Layout layout;
    // Alpha comes first and holds an archive whose data file stays open in its listing.
    layout.Project("Alpha", Storage::Archived);
    SolutionRelease("main", 9).AddProject("Alpha", 1, 20).AddProject("Beta", 1, 10).Write(layout.root);

    TarnTest::ScopedCalls calls;
    CountCalls();
    LogCapture log;
    EXPECT_EQ(RuntimeEnvironment::Create(layout.deploy.c_str()), nullptr);
    const std::string beta = layout.root.generic_string() + "/projects/Beta/releases/0.0.0.1";
    EXPECT_TRUE(log.InOrder({
        kListing + "Failure to load project manifest \"" + beta + "/releasemanifest\".",
        kLoad + "VELL runtime environment load solution failed to create project listing: projectPath=\"" + beta + "\".",
        kCollectFailed,
        kCreateFailed,
    })) << log.Dump();
    EXPECT_GE(gCloses.load(), 1);
    EXPECT_TRUE(gOpen.empty()) << gOpen.size() << " file(s) of the abandoned listings still open";

    // With Beta written, the same solution loads and keeps Alpha's data file open.
    layout.Project("Beta");
    auto environment = RuntimeEnvironment::Create(layout.deploy.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(ListingNames(*environment), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_GE(gOpen.size(), 1u);
    environment.reset();
    EXPECT_TRUE(gOpen.empty());
}
