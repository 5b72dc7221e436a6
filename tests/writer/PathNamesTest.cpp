// The writer writes only names that readers accept as path components: every project,
// solution, directory and file name that a reader would refuse (a separator, a drive, ".",
// "..", a Windows device name) is refused when it is added, with the reason. Deliberately odd
// manifests remain possible with BuildRawManifest.
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/PathNames.h"
#include "writer/ProjectWriter.h"
#include "writer/SolutionWriter.h"

using namespace Tarn::VELL::Writer;

namespace {

// The message of the std::invalid_argument that adding throws, or "" when nothing is thrown.
template <typename F>
std::string Refusal(F add)
{
    try {
        add();
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "";
}

}  // namespace

TEST(WriterNames, RefusesEveryNameAReaderWouldRefuseAndSaysWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        {"CON", "is a Windows device name"},
        {"nul.txt", "is a Windows device name"},
        {"Com1 .log", "is a Windows device name"},
        {"LPT9", "is a Windows device name"},
        {"C:", "holds ':'"},
        {"a:b", "holds ':'"},
        {"a\\b", "holds a path separator"},
        {"..", "names the directory itself or its parent"},
        {". .", "names the directory itself or its parent"},
        {".. ", "names the directory itself or its parent"},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        ProjectRelease release("p", 1);
        EXPECT_NE(Refusal([&] { release.Add(std::string("DATA/") + name + "/x.txt", "x"); }).find(reason), std::string::npos);
        EXPECT_NE(Refusal([&] { release.Add(std::string("DATA/") + name, "x"); }).find(reason), std::string::npos);
        EXPECT_NE(Refusal([&] { release.AddDirectory(name); }).find(reason), std::string::npos);
        EXPECT_NE(Refusal([&] { ProjectRelease(name, 1); }).find(reason), std::string::npos);
        EXPECT_NE(Refusal([&] { SolutionRelease(name, 1); }).find(reason), std::string::npos);
        EXPECT_NE(Refusal([&] { SolutionRelease("s", 1).AddProject(name, 1, 1); }).find(reason), std::string::npos);
        EXPECT_EQ(WriterTest::ParseManifest(release.BuildManifest()).files.size(), 0u);  // nothing half-added
    }
    EXPECT_EQ(Refusal([] { ProjectRelease("CON", 1); }),
              "project name \"CON\" must be a single path component: it is a Windows device name");
}

TEST(WriterNames, KeepsNamesThatOnlyLookLikeTheRefusedOnes)
{
    for (const char* name : {"CONSOLE", "COM10", "nul-file.txt", "Read Me.txt", ".hidden", "a..b", "file.", "\xC3\xA9t\xC3\xA9"}) {
        EXPECT_EQ(PathComponentProblem(name), "") << name;
        ProjectRelease release(name, 1);
        release.Add(std::string(name) + "/" + name, "x");
        EXPECT_EQ(WriterTest::ParseManifest(release.BuildManifest()).files.size(), 1u) << name;
    }
    // The raw builder writes whatever it is given, for tests of what readers refuse.
    const auto raw = WriterTest::ParseManifest(BuildRawManifest(kManifestFormatV2, 0, 1, {{1, 0, 0, 0, 1}},
                                                                {{2, 1, {}, 0, 0}}, {"..", "", "CON"}));
    EXPECT_EQ(raw.strings.at(2), "CON");
}
