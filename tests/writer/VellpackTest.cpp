#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "FormatCheck.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string out;  // standard output and standard error together
};

ToolRun Vellpack(const WriterTest::ScratchDir& temp, const std::vector<std::string>& arguments)
{
    std::string command = "'" VELLPACK_EXECUTABLE "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    const std::string log = temp / "vellpack.log";
    const int raw = std::system((command + " > '" + log + "' 2>&1 < /dev/null").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, WriterTest::ReadBytes(log)};
}

}  // namespace

TEST(WriterTool, PacksATreeWithItsStorageAndCodecRules)
{
    WriterTest::ScratchDir temp;
    const std::string text(5000, 't');
    temp.Write("src/readme.txt", text);
    temp.Write("src/Art/hero.dds", std::string(9000, 'd'));
    temp.Write("src/Art/tiny.dds", "tiny");
    temp.Write("src/conf/game.ini", "[game]\n");
    temp.Write("src/deploy/launcher.exe", "MZ");
    fs::create_directories(temp.Path() / "src/Art/Empty");
    const ToolRun run = Vellpack(temp, {"project", "--root", temp / "VELL", "--name", "game", "--version=0.1.0.7",
                                    "--compress=zlib", "--compress-by-ext=DDS:lzma", "--store-below=16", "--managed=*.INI",
                                    "--naked", "deploy/*", "--format=1", temp / "src"});
    ASSERT_EQ(run.status, 0) << run.out;

    const fs::path root = temp.Path() / "VELL";
    const auto manifest = WriterTest::ParseManifest(WriterTest::ReadBytes(root / "projects/game/releases/0.1.0.7/releasemanifest"));
    EXPECT_EQ(manifest.formatVersion, 0x00010001u);
    const auto files = manifest.FilesByPath();
    const std::pair<const char*, uint32_t> flags[] = {
        {"readme.txt", 0x16}, {"Art/hero.dds", 0x32}, {"Art/tiny.dds", 0x02}, {"conf/game.ini", 0x01}, {"deploy/launcher.exe", 0x00}};
    ASSERT_EQ(files.size(), std::size(flags));
    for (const auto& [path, expected] : flags) {
        EXPECT_EQ(files.at(path).flags, expected) << path;
        EXPECT_EQ(WriterTest::ReadListedFile(root, "game", manifest, path, files.at(path)),
                  WriterTest::ReadBytes(temp.Path() / "src" / path)) << path;
    }
    const auto directories = manifest.DirectoryPaths();
    EXPECT_NE(std::find(directories.begin(), directories.end(), "Art/Empty"), directories.end());
}

TEST(WriterTool, AnswersHelpAndRefusesBadCommandLinesWithStatusTwo)
{
    WriterTest::ScratchDir temp;
    for (const std::vector<std::string>& help : {std::vector<std::string>{"--help"}, {"project", "--help"}, {"solution", "--help"}, {"sample", "--help"}}) {
        const ToolRun run = Vellpack(temp, help);
        EXPECT_EQ(run.status, 0) << help.front();
        EXPECT_NE(run.out.find("usage: vellpack"), std::string::npos);
    }
    fs::create_directories(temp.Path() / "src");
    const std::string src = temp / "src";
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"unpack"},
        {"project", "--bogus", src},
        {"project", "--name", "p", "--version", "1.0.0.0", src},               // no --root
        {"project", "--root", "r", "--name", "p", "--version", "1.0.0", src},  // bad version
        {"project", "--root", "r", "--name", "p", "--version", "1.0.0.0", "--compress=bzip2", src},
        {"project", "--root", "r", "--name", "p", "--version", "1.0.0.0", "--max-archive=0", src},
        {"solution", "--root", "r", "--name", "s", "--version", "1.0.0.0", "--project", "client:0.0.0.2"},
    };
    for (const auto& arguments : bad) {
        const ToolRun run = Vellpack(temp, arguments);
        EXPECT_EQ(run.status, 2) << (arguments.empty() ? "(none)" : arguments.back()) << ": " << run.out;
    }
}

TEST(WriterTool, FailsWithStatusOneOnMissingSourcesAndProjects)
{
    WriterTest::ScratchDir temp;
    ToolRun run = Vellpack(temp, {"project", "--root", temp / "VELL", "--name", "p", "--version", "1.0.0.0", temp / "no-such-dir"});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("no-such-dir"), std::string::npos) << run.out;
    run = Vellpack(temp, {"solution", "--root", temp / "VELL", "--name", "s", "--version", "1.0.0.0", "--project", "ghost:0.0.0.1:5"});
    EXPECT_EQ(run.status, 1) << run.out;
}

TEST(WriterTool, WritesASolutionOverTheSampleProjects)
{
    WriterTest::ScratchDir temp;
    ASSERT_EQ(Vellpack(temp, {"sample", temp.Path().string()}).status, 0);
    const ToolRun run = Vellpack(temp, {"solution", "--root", temp / "VELL", "--name", "mix", "--version", "2.0.0.0", "--project",
                                    "client:0.0.0.2:10", "--project=patch:0.0.0.1:20:1", "--config", "main",
                                    "--config-projects", "patch,client,patch"});
    ASSERT_EQ(run.status, 0) << run.out;
    const fs::path release = temp.Path() / "VELL/solutions/mix/releases/2.0.0.0";
    EXPECT_EQ(WriterTest::ReadBytes(release / "solutionmanifest"),
              "VELL Solution Manifest\n1.0.0.0\nmix\n2.0.0.0\n2\nclient\n0.0.0.2\n10\n0\npatch\n0.0.0.1\n20\n1\n"
              "1\nmain\n0\n2\npatch\nclient\n");
    EXPECT_EQ(WriterTest::ReadBytes(release / "configurationmanifest"),
              "VELL Configuration Manifest\n1.0.0.0\nmain\n3\npatch\nclient\npatch\n");
    EXPECT_TRUE(fs::is_directory(release / "deploy"));
}
