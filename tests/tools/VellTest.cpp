// Drives the vell program as a user would: its commands, their output and exit statuses.
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"

using namespace Tarn::VELL::Writer;
using TarnSupport::TempDir;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs a command line, capturing both streams through files.
Result Execute(const TempDir& dir, const std::string& commandLine)
{
    const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
    const int status = TarnSupport::RunCommand(commandLine, out, err);
    std::string errors = TempDir::Read(err);
#if defined(_WIN32)
    // Standard error is a text stream: on Windows its lines end in CR LF.
    for (std::size_t at; (at = errors.find("\r\n")) != std::string::npos;) errors.erase(at, 1);
#endif
    return {status, TempDir::Read(out), errors};
}

using TarnSupport::ShellQuote;
const std::string kVell = TarnSupport::ShellProgram(VELL_BINARY);

class VellTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteSampleLayout(mDir.Path() / "sample");
        mClient = (mDir.Path() / "sample/VELL/projects/client/releases/0.0.0.2/deploy").string();
        mGame = (mDir.Path() / "sample/VELL/solutions/game/releases/1.0.0.0/deploy").string();
    }
    Result Vell(const std::string& directory, const std::string& arguments)
    {
        return Execute(mDir, kVell + (directory.empty() ? "" : " -C " + ShellQuote(directory)) + " " + arguments);
    }

    TempDir mDir;
    std::string mClient, mGame;
};

}  // namespace

TEST_F(VellTool, ListsDirectoriesFirstWithKindsAndSizes)
{
    Result r = Vell(mClient, "ls -l DATA");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "d            0  Characters\n"
              "d            0  Empty\n"
              "d            0  legacy\n"
              "d            0  Levels\n"
              "d            0  Sounds\n"
              "-         2000  readme.txt\n"
              "-         1500  shared.txt\n");
    r = Vell(mClient, "ls " + ShellQuote("DATA/*.txt"));
    EXPECT_EQ(r.out, "readme.txt\nshared.txt\n");
    r = Vell(mClient, "ls -R Config");
    EXPECT_EQ(r.out, "Config:\ndefaults.ini\nsettings.ini\n");
    r = Vell(mClient, "ls Nowhere");
    EXPECT_EQ(r.status, 1);
}

TEST_F(VellTool, CatWritesTheFilesBytes)
{
    for (const char* path : {"DATA/readme.txt", "DATA/Sounds/music.ogg", "Config/settings.ini", "launcher.cfg"}) {
        Result r = Vell(mClient, std::string("cat ") + path);
        EXPECT_EQ(r.status, 0) << path << r.err;
        EXPECT_EQ(r.out.size(), SampleContent("client", kSampleClientVersion, path, r.out.size()).size());
    }
    Result r = Vell(mClient, "cat DATA/readme.txt");
    EXPECT_EQ(r.out, SampleContent("client", kSampleClientVersion, "DATA/readme.txt", 2000));
    r = Vell(mGame, "cat data/README.TXT");  // the solution serves the patch's copy
    EXPECT_EQ(r.out, SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 1800));
    r = Vell(mClient, "cat DATA/missing.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("VellOpenFile: VELL cannot open file \"DATA/missing.txt\" because it's not in the manifest."),
              std::string::npos)
        << r.err;
}

TEST_F(VellTool, StatTreeAndExtract)
{
    EXPECT_EQ(Vell(mClient, "stat DATA/Sounds/music.ogg").out, "DATA/Sounds/music.ogg: file, 400000 bytes\n");
    EXPECT_EQ(Vell(mClient, "stat DATA/Empty").out, "DATA/Empty: directory\n");
    Result missing = Vell(mClient, "stat nope");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "nope: not found\n");

    Result tree = Vell(mClient, "tree DATA/Characters");
    EXPECT_EQ(tree.out, "DATA/Characters\n|-- Hero/\n|   |-- hero.dds\n|   `-- hero.skn\n`-- Villain/\n    `-- villain.dds\n");

    const std::string out = mDir / "extracted";
    Result extract = Vell(mClient, "extract " + ShellQuote("DATA/Characters/*") + " " + ShellQuote(out));
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(TempDir::Read(out + "/DATA/Characters/Hero/hero.dds"),
              SampleContent("client", kSampleClientVersion, "DATA/Characters/Hero/hero.dds", 20000));
    EXPECT_EQ(TempDir::Read(out + "/DATA/Characters/Villain/villain.dds"),
              SampleContent("client", 0x00000001, "DATA/Characters/Villain/villain.dds", 12000));
}

TEST_F(VellTool, CheckPassesOnTheSampleAndNamesACorruptedFile)
{
    Result r = Vell(mClient, "check");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("14 file(s) checked, 1013414 bytes read, 0 failed"), std::string::npos) << r.out;
    EXPECT_EQ(Vell(mGame, "check").status, 0);

    // A release whose one zlib entry is damaged in its data file.
    ProjectRelease release("broken", 0x00000001);
    release.Add("DATA/good.txt", std::string(5000, 'g'), Storage::Archived, Compression::Zlib);
    release.Add("DATA/bad.txt", std::string(5000, 'b'), Storage::Archived, Compression::Zlib);
    const auto written = release.Write(mDir.Path() / "broken/VELL");
    ASSERT_EQ(written.archives.size(), 1u);
    const auto& archive = written.archives.front();
    std::fstream data(archive.dataPath, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(data)), std::istreambuf_iterator<char>());
    // The entries follow each other in manifest order (bad.txt sorts first); damage the first one's check value.
    const std::size_t firstEnd = bytes.size() / 2;
    data.seekp(static_cast<std::streamoff>(firstEnd - 1));
    data.put(static_cast<char>(bytes[firstEnd - 1] ^ 0x5A));
    data.close();
    r = Vell(written.deployDirectory.string(), "check");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("FAILED DATA/bad.txt"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FAILED DATA/good.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Failed to decompress archive file \"DATA/bad.txt\""), std::string::npos) << r.err;
}

TEST_F(VellTool, UsageErrorsAndDirectoriesOutsideAnyLayout)
{
    EXPECT_EQ(Vell("", "--help").status, 0);
    EXPECT_EQ(Execute(mDir, kVell).status, 2);
    EXPECT_EQ(Vell("", "frobnicate").status, 2);
    EXPECT_EQ(Vell("", "cat").status, 2);
    Result help = Vell("", "extract --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vell extract PATTERN OUT_DIR", 0), 0u);
    Result outside = Vell(mDir.Path().string(), "ls");
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("holds no release"), std::string::npos) << outside.err;
    EXPECT_EQ(Vell(mClient, "-q cat DATA/missing.txt").err, "vell cat: cannot read \"DATA/missing.txt\"\n");
}
