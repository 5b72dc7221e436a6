#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/SolutionWriter.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;

TEST(SolutionWriter, WritesBothManifestsLineByLine)
{
    SolutionRelease solution("game", 0x01000000);
    solution.AddProject("client", 0x00000002, 10);
    solution.AddProject("patch", 0x00000001, 20, 7);
    solution.AddConfiguration("default", 3, {"patch", "client"});
    solution.AddConfiguration("lean", 0, {"client"});
    solution.SetConfigurationManifest("default", {"patch", "client", "patch"});  // order and repeats kept

    EXPECT_EQ(solution.BuildSolutionManifest(),
              "VELL Solution Manifest\n1.0.0.0\ngame\n1.0.0.0\n"
              "2\nclient\n0.0.0.2\n10\n0\npatch\n0.0.0.1\n20\n7\n"
              "2\ndefault\n3\n2\npatch\nclient\nlean\n0\n1\nclient\n");
    EXPECT_EQ(solution.BuildConfigurationManifest(), "VELL Configuration Manifest\n1.0.0.0\ndefault\n3\npatch\nclient\npatch\n");

    WriterTest::ScratchDir temp;
    const auto result = solution.Write(temp.Path() / "VELL");
    const fs::path release = temp.Path() / "VELL/solutions/game/releases/1.0.0.0";
    EXPECT_EQ(result.releaseDirectory, release);
    EXPECT_TRUE(fs::is_directory(release / "deploy"));
    EXPECT_EQ(WriterTest::ReadBytes(release / "solutionmanifest"), solution.BuildSolutionManifest());
    EXPECT_EQ(WriterTest::ReadBytes(release / "configurationmanifest"), solution.BuildConfigurationManifest());
}

TEST(SolutionWriter, ConfigurationManifestDefaultsToEveryProjectInOrder)
{
    SolutionRelease solution("s", 1);
    solution.AddProject("b", 1, 1).AddProject("A", 1, 2);
    EXPECT_EQ(solution.BuildConfigurationManifest(), "VELL Configuration Manifest\n1.0.0.0\ndefault\n2\nb\nA\n");
}

TEST(SolutionWriter, RefusesManifestsAReaderWouldRefuse)
{
    SolutionRelease solution("s", 1);
    solution.AddProject("Client", 1, 1);
    EXPECT_THROW(solution.AddProject("CLIENT", 2, 2), std::invalid_argument);
    EXPECT_THROW(solution.AddProject("two\nlines", 1, 1), std::invalid_argument);
    EXPECT_THROW(solution.AddProject("a/b", 1, 1), std::invalid_argument);
    EXPECT_THROW(solution.AddConfiguration("c", 0, {"Client", "client"}), std::invalid_argument);
    solution.AddConfiguration("c", 0, {"ghost"});
    EXPECT_THROW(solution.BuildSolutionManifest(), std::invalid_argument);
    SolutionRelease other("t", 1);
    other.AddProject("a", 1, 1).SetConfigurationManifest("x", {"b"});
    EXPECT_THROW(other.BuildConfigurationManifest(), std::invalid_argument);
}
