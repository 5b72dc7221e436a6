// Solution manifests of many projects and configurations, in any order, load into name order
// (ASCII case ignored); a repeated name is refused at the record where it appears, and what was
// added before a refusal is kept, in order. Names that are no plain path component are refused
// like records that cannot be added.
#include <algorithm>
#include <cstdio>

#include "reader/SolutionManifest.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;
using Texts = std::vector<std::string>;

namespace {

const std::string kProjects = "Tarn::VELL::Reader::SolutionManifest::LoadProjects: ";

// "P0999" down to "p0000", the case alternating, and a configuration per tenth of them.
std::string ManyInReverse(int count, const std::string& insertAfter = "", int at = -1)
{
    std::string projects = std::to_string(count + (at >= 0 ? 1 : 0)) + "\n", configurations;
    for (int i = count - 1; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof(name), "%c%04d", i % 2 ? 'P' : 'p', i);
        projects += std::string(name) + "\n0.0.0.1\n" + std::to_string(i) + "\n0\n";
        if (i == at) projects += insertAfter + "\n0.0.0.1\n1\n0\n";
        if (i % 10 == 0) configurations += "c" + std::to_string(i) + "\n0\n1\n" + name + "\n";
    }
    return "VELL Solution Manifest\n1.0.0.0\nS\n1.0.0.0\n" + projects + std::to_string(count / 10) + "\n" + configurations;
}

template <typename T>
bool InNameOrder(const std::vector<T>& list, const std::string& (*name)(const T&))
{
    return std::is_sorted(list.begin(), list.end(),
                          [name](const T& a, const T& b) { return Win32::_stricmp(name(a).c_str(), name(b).c_str()) < 0; });
}

const std::string& ProjectName(const SolutionManifest::Project& p) { return p.name; }
const std::string& ConfigurationName(const SolutionManifest::Configuration& c) { return c.name; }

}  // namespace

TEST(SolutionManifestOrder, ManyRecordsInReverseOrderLoadInNameOrder)
{
    TempDir dir;
    LogCapture log;
    SolutionManifest manifest;
    ASSERT_EQ(manifest.Load(dir.Write("solutionmanifest", ManyInReverse(3000)).c_str()), Tarn::kOk) << log.Dump();
    ASSERT_EQ(manifest.Projects().size(), 3000u);
    EXPECT_TRUE(InNameOrder(manifest.Projects(), ProjectName));
    EXPECT_EQ(manifest.Projects().front().name, "p0000");
    EXPECT_EQ(manifest.Projects().back().name, "P2999");
    EXPECT_EQ(manifest.FindProject("P1234")->priority, 1234u);
    ASSERT_EQ(manifest.Configurations().size(), 300u);
    EXPECT_TRUE(InNameOrder(manifest.Configurations(), ConfigurationName));

    // Single additions afterwards still land in their place; a name present in any case is refused.
    EXPECT_EQ(manifest.AddProject("P1234x", 1, 1, 0), Tarn::kOk);
    EXPECT_EQ(manifest.AddProject("p1234X", 1, 1, 0), Tarn::kFail);
    EXPECT_EQ(manifest.AddProject("p0000", 1, 1, 0), Tarn::kFail);
    EXPECT_TRUE(InNameOrder(manifest.Projects(), ProjectName));
    EXPECT_EQ(manifest.Projects().size(), 3001u);
}

TEST(SolutionManifestOrder, ARefusedRecordKeepsWhatCameBeforeItInOrder)
{
    // A repeat of an earlier name, in another case, after 500 records; and a name that climbs
    // out of the project directory.
    const std::pair<std::string, std::string> cases[] = {
        {"P2900", ""},
        {"../../x", "Tarn::VELL::Reader::SolutionManifest::AddProject: The project name \"../../x\" is not a plain path component."},
    };
    for (const auto& [bad, message] : cases) {
        TempDir dir;
        LogCapture log;
        SolutionManifest manifest;
        EXPECT_EQ(manifest.Load(dir.Write("solutionmanifest", ManyInReverse(3000, bad, 2500)).c_str()), Tarn::kFail);
        EXPECT_EQ(manifest.Projects().size(), 500u) << bad;
        EXPECT_TRUE(InNameOrder(manifest.Projects(), ProjectName));
        EXPECT_EQ(manifest.Projects().front().name, "p2500");
        Texts expected;
        if (!message.empty()) expected.push_back(message);
        expected.push_back(kProjects + "Failed to add project");
        expected.push_back("Tarn::VELL::Reader::SolutionManifest::Load: Failed to load projects");
        EXPECT_EQ(log.Texts(VELL_LOG_WARN), expected) << bad;
    }
}
