// The runtime environment: what it takes from a directory's path (content root, kind, name,
// release version), what it builds from the release on disk, and how it looks paths up.
#include <tuple>

#include "reader/ListingSearch.h"
#include "reader/RuntimeEnvironment.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;

namespace {

const std::string kCreate = "Tarn::VELL::Reader::RuntimeEnvironment::Create: ";
const std::string kType = "Tarn::VELL::Reader::RuntimeEnvironment::GetProjectTypeNameAndVersion: ";
const std::string kDetect = "Tarn::VELL::Reader::`anonymous-namespace'::DetectNameAndRelease: ";
const std::string kListing = "Tarn::VELL::Reader::`anonymous-namespace'::CreateListing: ";
const std::string kNoProjectInformation =
    kCreate + "VELL runtime environment creation failed because it was unable to get the project information.";

std::string Replace(std::string text, char from, const std::string& to)
{
    std::string out;
    for (char c : text) out += c == from ? to : std::string(1, c);
    return out;
}

}  // namespace

TEST(RuntimeEnvironment, ReadsTheKindFromTheLastKeywordProjectsFirst)
{
    using P = ProjectType;
    const std::tuple<const char*, ProjectType, const char*, std::uint32_t> cases[] = {
        {"D:/Game/VELL/solutions/main/releases/0.0.0.9/deploy", P::Solution, "main", 9},
        {"D:/VELL/projects/old/releases/0.0.0.1/projects/new/releases/0.0.1.2/deploy", P::Project, "new", 0x102},
        {"D:/VELL/solutions/s/releases/1.0.0.0/projects/p/releases/0.0.0.3", P::Project, "p", 3},
        {"D:/VELL/projects/p/releases/0.0.0.4/solutions/s/releases/2.0.0.0", P::Project, "p", 4},
        {"D:/VELL/projects/p/other/releases/255.1.2.3/x", P::Project, "p", 0xFF010203},
        {"D:/VELL/projects/prereleases/releases/0.0.0.7/deploy", P::Project, "prereleases", 7},
        {"D:/VELL/solutions/releases/releases/1.0.0.0", P::Solution, "releases", 0x01000000},
    };
    for (const auto& [path, expectedType, expectedName, expectedVersion] : cases) {
        ProjectType type = P::Solution == expectedType ? P::Project : P::Solution;
        std::string name;
        std::uint32_t version = 0;
        ASSERT_TRUE(GetProjectTypeNameAndVersion(path, type, name, version)) << path;
        EXPECT_EQ(type, expectedType) << path;
        EXPECT_EQ(name, expectedName) << path;
        EXPECT_EQ(version, expectedVersion) << path;
    }
}

TEST(RuntimeEnvironment, RefusesADirectoryWithoutKindNameOrValidRelease)
{
    const std::string failed = "Failed to determine name and version from the path ";
    // Each directory with its warnings and errors, in order.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"D:/Game/VELL/projects/", {kType + "Incomplete path: D:/Game/VELL/projects/"}},
        {"D:\\Game\\VELL\\solutions\\", {kType + "Incomplete path: D:/Game/VELL/solutions/"}},
        {"D:/Game/VELL/projects/client", {kType + failed + "D:/Game/VELL/projects/client"}},
        {"D:/Game/VELL/projects/client/releases/", {kType + failed + "D:/Game/VELL/projects/client/releases/"}},
        {"D:/Game/VELL/projects/client/releases/1.2.3/deploy",
         {kDetect + "Invalid release format \"1.2.3\".", kType + failed + "D:/Game/VELL/projects/client/releases/1.2.3/deploy"}},
        {"D:/Game/VELL/projects/client/releases/0.0.0.256",
         {kDetect + "Invalid release format \"0.0.0.256\".", kType + failed + "D:/Game/VELL/projects/client/releases/0.0.0.256"}},
        {"D:/Game/VELL/Projects/client/releases/0.0.0.1",
         {kType + "Did not find keywords \"projects\" or \"solutions\" in path D:/Game/VELL/Projects/client/releases/0.0.0.1"}},
        {nullptr, {kType + "Did not find keywords \"projects\" or \"solutions\" in path "}},
    };
    for (const auto& [directory, messages] : cases) {
        SCOPED_TRACE(directory ? directory : "(null)");
        LogCapture log;
        EXPECT_EQ(RuntimeEnvironment::Create(directory), nullptr);
        std::vector<std::string> expected = messages;
        expected.push_back(kNoProjectInformation);
        EXPECT_EQ(log.Texts(VELL_LOG_WARN), expected) << log.Dump();
        if (expected.front().find("Did not find keywords") != std::string::npos) {
            EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_WARN, LogCapture::kErrorTags, expected.front()));
        }
    }
}

TEST(RuntimeEnvironment, TakesTheContentRootAtTheLastUpperCaseVell)
{
    EXPECT_EQ(FindRootDirectory("D:/Game/VELL/projects/client/releases/0.0.0.1/deploy"), "D:/Game/VELL");
    EXPECT_EQ(FindRootDirectory("D:\\Game\\\\VELL\\"), "D:/Game/VELL");
    EXPECT_EQ(FindRootDirectory("D:/Outer/VELL/inner/VELL/projects/a/releases/0.0.0.1"), "D:/Outer/VELL/inner/VELL");
    EXPECT_EQ(FindRootDirectory("D:/Game/vell/projects/client/releases/0.0.0.1/deploy"),
              "D:/Game/vell/projects/client/releases/0.0.0.1/deploy");
    EXPECT_EQ(FindRootDirectory("D:/Game/Vell/x"), "D:/Game/Vell/x");

    // A lower-case vell is no root: the whole directory is, and nothing lies below it.
    TempDir dir;
    const std::string lower = (dir.Path() / "vell/projects/client/releases/0.0.0.1/deploy").generic_string();
    ProjectRelease("client", 1).Add("a.txt", "a", Storage::Naked).Write(dir.Path() / "vell");
    LogCapture log;
    auto environment = RuntimeEnvironment::Create(lower.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(environment->Root(), lower);
    EXPECT_TRUE(environment->GetListings().empty());
    EXPECT_EQ(environment->FindEntry("a.txt").second, nullptr);
    EXPECT_TRUE(LoggedError(
        log, kListing + "Failure to load project manifest \"" + lower + "/projects/client/releases/0.0.0.1/releasemanifest\"."));
}

TEST(RuntimeEnvironment, RefusesDirectoriesThatDoNotFitButNotOneThatNormalisesToFitAndFindsItsEntries)
{
    // tmp/VELL/projects/client/releases/0.0.0.118 with an archived and a naked file.
    const TempDir dir;
    const std::string root = (dir.Path() / "VELL").generic_string(), deploy = root + "/projects/client/releases/0.0.0.118/deploy";
    ProjectRelease("client", 0x76)
        .Add("DATA/x.dds", std::string(3000, 'x'), Storage::Archived, Compression::Zlib)
        .Add("DATA/Sub/y.txt", "why", Storage::Naked)
        .Write(root);
    {
        LogCapture log;
        const std::string tooLong = deploy + "/" + std::string(260, 'a');
        EXPECT_EQ(RuntimeEnvironment::Create(tooLong.c_str()), nullptr);
        EXPECT_EQ(log.Texts(VELL_LOG_WARN), std::vector<std::string>{kNoProjectInformation}) << log.Dump();
    }
    // The root lies behind the release here, so the release directory below it is longer
    // than the directory given.
    for (const std::string kind : {"project", "solution"}) {
        const std::string vellRoot = "/" + std::string(200, 'r') + "/" + kind + "s/client/releases/0.0.0.1/VELL";
        LogCapture log;
        EXPECT_EQ(RuntimeEnvironment::Create((vellRoot + "/").c_str()), nullptr);
        EXPECT_EQ(log.Texts(VELL_LOG_WARN),
                  (std::vector<std::string>{
                      "Tarn::VELL::Reader::RuntimeEnvironment::CollectProjects: VELL " + kind +
                          " runtime environment project collection failed to build the root folder path: vellRoot=\"" +
                          vellRoot + "\", name=\"client\", version=\"0.0.0.1\".",
                      kCreate + "VELL runtime environment creation failed because it was unable to collect the projects.",
                  }));
    }
    // Every separator but the first (after a drive letter on Windows) written forty times over,
    // and backslashes: far beyond 260 characters as given, the same short directory once normalised.
    const std::size_t first = deploy.find('/');
    const std::string padded = deploy.substr(0, first) + "\\" + Replace(deploy.substr(first + 1), '/', std::string(40, '/') + "\\");
    ASSERT_GT(padded.size(), 300u) << padded;
    LogCapture log;
    auto environment = RuntimeEnvironment::Create(padded.c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(environment->Root(), root);
    EXPECT_EQ(environment->DeployDirectory(), deploy);
    EXPECT_EQ(environment->Type(), ProjectType::Project);
    EXPECT_EQ(environment->Name(), "client");
    EXPECT_EQ(environment->Version(), 0x76u);
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags,
                                 kCreate + "Creating VELL runtime environment: VELL root directory = \"" + root + "\""));
    ASSERT_EQ(environment->GetListings().size(), 1u);

    // Its entries are found ignoring case, but not behind a leading slash or backslashes.
    const ProjectListing* listing = environment->GetListings()[0].get();
    const auto found = environment->FindEntry("DATA/x.dds");
    EXPECT_EQ(found.first, listing);
    ASSERT_NE(found.second, nullptr);
    EXPECT_STREQ(found.second->name, "x.dds");
    EXPECT_EQ(environment->FindEntry("data/X.DDS"), found);
    EXPECT_EQ(environment->FindEntry("DATA/SUB/Y.TXT").first, listing);
    const auto directory = environment->FindEntry("Data");
    EXPECT_TRUE(directory.second != nullptr && listing->IsDirectory(directory.second));
    for (const char* absent : {"/DATA/x.dds", "x.dds", "DATA\\x.dds"})
        EXPECT_EQ(environment->FindEntry(absent), (RuntimeEnvironment::Found{nullptr, nullptr})) << absent;
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
}
