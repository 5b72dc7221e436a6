// vellpack as a user runs it: packing a tree with its storage and codec rules, help and exit
// statuses, a solution over the sample, and a packed tree read back by vell.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "writer/FormatCheck.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

namespace {

struct ToolRun {
    int status;
    std::string out;  // standard output and standard error together
};

ToolRun Vellpack(const TarnSupport::TempDir& temp, const Arguments& arguments)
{
    std::string command = TarnSupport::ShellProgram(VELLPACK_BINARY);
    for (const std::string& argument : arguments) command += " " + TarnSupport::ShellQuote(argument);
    const int status = TarnSupport::RunCommand(command, temp / "vellpack.log");
    return {status, WriterTest::ReadBytes(temp / "vellpack.log")};
}

// vell run on the release in directory: its status and standard output.
ToolRun Vell(const TarnSupport::TempDir& temp, const std::string& directory, const Arguments& arguments)
{
    std::string command = TarnSupport::ShellProgram(VELL_BINARY) + " -C " + TarnSupport::ShellQuote(directory);
    for (const std::string& argument : arguments) command += " " + TarnSupport::ShellQuote(argument);
    const int status = TarnSupport::RunCommand(command, temp / "vell.out", temp / "vell.err");
    return {status, WriterTest::ReadBytes(temp / "vell.out")};
}

}  // namespace

TEST(WriterTool, PacksATreeWithItsStorageAndCodecRules)
{
    TarnSupport::TempDir temp;
    const std::pair<const char*, std::string> sources[] = {{"readme.txt", std::string(5000, 't')}, {"Art/hero.dds", std::string(9000, 'd')},
                                                           {"Art/tiny.dds", "tiny"}, {"conf/game.ini", "[game]\n"}, {"deploy/launcher.exe", "MZ"}};
    for (const auto& [path, content] : sources) temp.Write(std::string("src/") + path, content);
    fs::create_directories(temp.Path() / "src/Art/Empty");
    const ToolRun run = Vellpack(temp, {"project", "--root", temp / "VELL", "--name", "game", "--version=0.1.0.7", "--compress=zlib",
                                        "--compress-by-ext=DDS:lzma", "--store-below=16", "--managed=*.INI", "--naked", "deploy/*",
                                        "--format=1", temp / "src"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto manifest = WriterTest::ReadManifest(temp.Path() / "VELL", "game", 0x00010007);
    EXPECT_EQ(manifest.formatVersion, 0x00010001u);
    const auto files = manifest.FilesByPath();
    const std::pair<const char*, uint32_t> flags[] = {
        {"readme.txt", 0x16}, {"Art/hero.dds", 0x32}, {"Art/tiny.dds", 0x02}, {"conf/game.ini", 0x01}, {"deploy/launcher.exe", 0x00}};
    for (const auto& [path, expected] : flags) {
        EXPECT_EQ(files.at(path).flags, expected) << path;
        EXPECT_EQ(WriterTest::ReadListedFile(temp.Path() / "VELL", "game", manifest, path, files.at(path)),
                  WriterTest::ReadBytes(temp.Path() / "src" / path)) << path;
    }
    EXPECT_EQ(manifest.Listing(), ": Art/ conf/ deploy/ readme.txt\nArt: Empty/ hero.dds tiny.dds\nconf: game.ini\ndeploy: launcher.exe\nEmpty:\n");
}

// Help answers with status 0, a bad command line fails with 2, a missing source or project with 1.
TEST(WriterTool, AnswersHelpAndExitsWithTheStatusOfEachFailure)
{
    TarnSupport::TempDir temp;
    for (const char* command : {"--help", "project", "solution", "sample"}) {
        const ToolRun run = Vellpack(temp, command[0] == '-' ? Arguments{command} : Arguments{command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find("usage: vellpack"), std::string::npos) << command;
    }
    fs::create_directories(temp.Path() / "src");
    const std::string src = temp / "src", root = temp / "VELL";
    const std::pair<Arguments, int> runs[] = {
        {{}, 2}, {{"unpack"}, 2}, {{"project", "--bogus", src}, 2},
        {{"project", "--name", "p", "--version", "1.0.0.0", src}, 2},               // no --root
        {{"project", "--root", "r", "--name", "p", "--version", "1.0.0", src}, 2},  // bad version
        {{"project", "--root", "r", "--name", "p", "--version", "1.0.0.0", "--compress=bzip2", src}, 2},
        {{"project", "--root", "r", "--name", "p", "--version", "1.0.0.0", "--max-archive=0", src}, 2},
        {{"solution", "--root", "r", "--name", "s", "--version", "1.0.0.0", "--project", "client:0.0.0.2"}, 2},
        {{"project", "--root", root, "--name", "p", "--version", "1.0.0.0", temp / "no-such-dir"}, 1},
        {{"solution", "--root", root, "--name", "s", "--version", "1.0.0.0", "--project", "ghost:0.0.0.1:5"}, 1}};
    for (const auto& [arguments, status] : runs) {
        const ToolRun run = Vellpack(temp, arguments);
        const std::string last = arguments.empty() ? "(none)" : arguments.back();
        EXPECT_EQ(run.status, status) << last << ": " << run.out;
        EXPECT_TRUE(!last.ends_with("no-such-dir") || run.out.find("no-such-dir") != std::string::npos) << run.out;
    }
}

TEST(WriterTool, WritesASolutionOverTheSampleProjects)
{
    TarnSupport::TempDir temp;
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

// A layout holds regular files only, under names every reader accepts: vellpack skips what is
// no regular file with a warning and refuses a name that readers would refuse.
TEST(WriterTool, SkipsSpecialFilesWithAWarningAndRefusesNamesReadersRefuse)
{
#if defined(_WIN32)
    GTEST_SKIP() << "a Windows file system holds no FIFO, and none of the names readers refuse can name a file there "
                    "(device names, ':', '\\', trailing dots)";
#else
    TarnSupport::TempDir temp;
    temp.Write("src/keep.txt", "kept");
    const fs::path src = temp.Path() / "src";
    ASSERT_EQ(mkfifo((src / "pipe").c_str(), 0600), 0);
    fs::create_directories(temp.Path() / "elsewhere");
    fs::create_directory_symlink(temp.Path() / "elsewhere", src / "linked-dir");
    fs::create_symlink(src / "missing", src / "dangling");
    const ToolRun run = Vellpack(temp, {"project", "--root", temp / "VELL", "--name", "p", "--version=0.0.0.1", "--quiet", src});
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* skipped : {"pipe", "linked-dir", "dangling"})
        EXPECT_NE(run.out.find("vellpack: warning: skipping \"" + (src / skipped).string() + "\": not a regular file or directory"),
                  std::string::npos)
            << run.out;
    const auto manifest = WriterTest::ParseManifest(WriterTest::ReadBytes(temp / "VELL/projects/p/releases/0.0.0.1/releasemanifest"));
    EXPECT_EQ(manifest.files.size(), 1u);

    const std::pair<const char*, const char*> refused[] = {
        {"aux.txt", "is a Windows device name"}, {"a:b", "holds ':'"}, {"x\\y", "holds a path separator"}, {"...", "names the directory"}};
    for (const auto& [name, reason] : refused) {
        TarnSupport::TempDir other;
        other.Write(std::string("src/DATA/") + name, "x");
        const ToolRun bad = Vellpack(other, {"project", "--root", other / "VELL", "--name", "p", "--version=0.0.0.1", other / "src"});
        EXPECT_EQ(bad.status, 1) << name << ": " << bad.out;
        EXPECT_NE(bad.out.find(std::string("the name \"") + name + "\" " + reason), std::string::npos) << bad.out;
        EXPECT_FALSE(fs::exists(other.Path() / "VELL/projects/p/releases/0.0.0.1/releasemanifest")) << name;
    }
#endif
}

TEST(WriterTool, PacksATreeThatVellReadsBack)
{
    TarnSupport::TempDir temp;
    const std::string source = temp / "tree";
    temp.Write("tree/a.txt", "alpha");
    temp.Write("tree/sub/b.bin", std::string(70000, 'b'));
    temp.Write("tree/sub/c.dds", std::string(300000, 'c'));
    const std::string root = temp / "packed/VELL";
    const ToolRun pack = Vellpack(temp, {"project", "--quiet", "--root", root, "--name", "tool", "--version", "1.2.3.4",
                                         "--compress-by-ext=dds:lzma", source});
    ASSERT_EQ(pack.status, 0) << pack.out;
    const std::string deploy = root + "/projects/tool/releases/1.2.3.4/deploy";
    EXPECT_EQ(Vell(temp, deploy, {"cat", "sub/c.dds"}).out, std::string(300000, 'c'));
    EXPECT_EQ(Vell(temp, deploy, {"check"}).status, 0);
    EXPECT_EQ(Vellpack(temp, {"project", "--bogus"}).status, 2);
}
