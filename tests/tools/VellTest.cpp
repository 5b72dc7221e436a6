// Drives the vell program as a user would: its commands, their output, messages and exit
// statuses.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VellTestSupport.h"
#include "writer/Checksum.h"
#include "writer/ProjectWriter.h"

using namespace Tarn::VELL::Writer;
using namespace VellTestSupport;
using TarnSupport::TempDir;
namespace fs = std::filesystem;

namespace {

using VellTool = VellFixture;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every path below root, relative, with '/' between names, in sorted order.
std::vector<std::string> TreeOf(const fs::path& root)
{
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(entry.path().lexically_relative(root).generic_string() + (entry.is_directory() ? "/" : ""));
    std::sort(paths.begin(), paths.end());
    return paths;
}

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
    EXPECT_EQ(Vell(mClient, "ls " + Quote("DATA/*.txt")).out, "readme.txt\nshared.txt\n");
    EXPECT_EQ(Vell(mClient, "ls -R config/").out, "Config:\ndefaults.ini\nsettings.ini\n");
    EXPECT_EQ(Vell(mClient, "ls -l data/README.TXT").out, "-         2000  readme.txt\n");
    r = Vell(mClient, "ls DATA/Empty");
    EXPECT_EQ(r.status, 0) << "an empty directory is no error";
    EXPECT_EQ(r.out, "");
}

TEST_F(VellTool, CatWritesTheFilesBytes)
{
    for (const char* path : {"DATA/readme.txt", "DATA/Sounds/music.ogg", "Config/settings.ini", "launcher.cfg"}) {
        Result r = Vell(mClient, std::string("cat ") + path);
        EXPECT_EQ(r.status, 0) << path << r.err;
        EXPECT_EQ(r.out, SampleContent("client", kSampleClientVersion, path, r.out.size())) << path;
        EXPECT_GT(r.out.size(), 0u);
    }
    Result r = Vell(mGame, "cat data/README.TXT");  // the solution serves the patch's copy
    EXPECT_EQ(r.out, SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 1800));
}

// Whatever matches nothing, or names a directory where a file is wanted (or the reverse),
// costs one line on standard error and exit status 1.
TEST_F(VellTool, NoMatchAndWrongKindAreErrorsOfOneLine)
{
    const std::string out = mDir / "out";
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"ls " + Quote("DATA/*.xyz"), "vell ls: nothing in this release matches \"DATA/*.xyz\"\n"},
        {"ls Nowhere", "vell ls: \"Nowhere\" is not in this release\n"},
        {"ls " + Quote("Nowhere/*"), "vell ls: there is no directory \"Nowhere\" in this release\n"},
        {"extract . " + Quote(out), "vell extract: nothing in this release matches \".\"\n"},
        {"extract " + Quote("DATA/*.xyz") + " " + Quote(out), "vell extract: nothing in this release matches \"DATA/*.xyz\"\n"},
        {"tree Docs/nothing", "vell tree: \"Docs/nothing\" is not in this release\n"},
        {"tree DATA/readme.txt", "vell tree: \"DATA/readme.txt\" is a file, not a directory\n"},
        {"cat DATA", "vell cat: \"DATA\" is a directory\n"},
        {"cat DATA/missing.txt", "vell cat: \"DATA/missing.txt\" is not in this release\n"},
        {"stat nope", "vell stat: \"nope\" is not in this release\n"},
    };
    for (const auto& c : cases) {
        const Result r = Vell(mClient, c.arguments);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.err, c.message) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
    }
    EXPECT_FALSE(fs::exists(out)) << "nothing matched, so nothing was made";
}

TEST_F(VellTool, DirectoriesOutsideAnyReleaseSayWhy)
{
    Result r = Vell((mDir.Path() / "nonexistent").string(), "ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell: " + (mDir / "nonexistent") + ": No such file or directory\n");

    r = Vell(mDir.Path().string(), "ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("vell: no VELL directory found above " + mDir.Path().string() + ":", 0), 0u) << r.err;

    r = Vell((mDir.Path() / "sample/VELL/projects").string(), "ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "holds no release: it is not a release directory")) << r.err;
    EXPECT_TRUE(Has(r.err, "-v to see the library's full diagnostics")) << r.err;
    EXPECT_FALSE(Has(r.err, "Did not find keywords")) << "the library's own words only with -v";
    EXPECT_TRUE(Has(Vell((mDir.Path() / "sample/VELL/projects").string(), "-v ls").err, "Did not find keywords"));
}

// Content missing at load does not stop the release from loading: one line says so, and the
// file that cannot be read says why.
TEST_F(VellTool, MissingContentIsSummedUpInOneLine)
{
    ProjectRelease release("gaps", 0x00000001);
    release.Add("a.txt", "a", Storage::Naked).Add("b.txt", "b", Storage::Naked).Add("c.txt", "c", Storage::Archived);
    const auto written = release.Write(mDir.Path() / "gaps/VELL");
    fs::remove(written.deployDirectory / "a.txt");
    fs::remove(written.deployDirectory / "b.txt");
    Result r = Vell(written.deployDirectory.string(), "cat a.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell: the library reported 2 problem(s) while loading the release; the first: Missing naked file: " +
                         (written.deployDirectory / "a.txt").generic_string() +
                         "\nvell cat: cannot read \"a.txt\": its content was missing when the release was loaded\n"
                         "vell: run with -v to see the library's full diagnostics\n");
    EXPECT_EQ(Vell(written.deployDirectory.string(), "cat c.txt").out, "c");
    EXPECT_EQ(Vell(written.deployDirectory.string(), "-q cat c.txt").err, "");
}

TEST_F(VellTool, StatTellsKindSizeAndStorage)
{
    Result r = Vell(mClient, "stat data/sounds/MUSIC.ogg");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("DATA/Sounds/music.ogg: file, 400000 bytes\n"
                          "  project   client 0.0.0.2\n"
                          "  storage   archived, lzma, under version 0.0.0.2\n"
                          "  stored    ",
                          0),
              0u)
        << r.out;
    // vellpack writes each file's MD5 into the manifest; stat shows it.
    const std::string music = Vell(mClient, "cat DATA/Sounds/music.ogg").out;
    EXPECT_TRUE(Has(r.out, "filearchives/0.0.0.2/data_0.0.0.2_000.olm.dat\n  checksum  " + HexDigest(Md5Of(music)) + "\n"))
        << r.out;
    EXPECT_EQ(Vell(mClient, "stat DATA/Empty").out, "DATA/Empty: directory\n");

    // The solution serves readme.txt from patch, stored under patch's release.
    r = Vell(mGame, "stat --json DATA/readme.txt Config/defaults.ini launcher.cfg DATA");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string root = (mDir.Path() / "sample/VELL/projects").generic_string();  // the library's spelling
    const auto sumOf = [this](const char* path) { return "\"" + HexDigest(Md5Of(Vell(mGame, std::string("cat ") + path).out)) + "\""; };
    EXPECT_EQ(r.out,
              "{\"path\":\"DATA/readme.txt\",\"kind\":\"file\",\"size\":1800,\"project\":\"patch\",\"release\":\"0.0.0.1\","
              "\"storage\":\"archived\",\"codec\":\"zlib\",\"version\":\"0.0.0.1\",\"file\":\"" +
                  root + "/patch/filearchives/0.0.0.1/data_0.0.0.1_000.olm.dat\",\"offset\":600,\"storedSize\":411,"
                         "\"checksum\":" + sumOf("DATA/readme.txt") + "}\n"
                         "{\"path\":\"Config/defaults.ini\",\"kind\":\"file\",\"size\":250,\"project\":\"client\","
                         "\"release\":\"0.0.0.2\",\"storage\":\"managed\",\"codec\":null,\"version\":\"0.0.0.1\",\"file\":\"" +
                  root + "/client/managedfiles/0.0.0.1/Config/defaults.ini\",\"offset\":0,\"storedSize\":250,\"checksum\":" +
                  sumOf("Config/defaults.ini") + "}\n"
                         "{\"path\":\"launcher.cfg\",\"kind\":\"file\",\"size\":120,\"project\":\"client\",\"release\":\"0.0.0.2\","
                         "\"storage\":\"naked\",\"codec\":null,\"version\":\"0.0.0.2\",\"file\":\"" +
                  root + "/client/releases/0.0.0.2/deploy/launcher.cfg\",\"offset\":0,\"storedSize\":120,\"checksum\":" +
                  sumOf("launcher.cfg") + "}\n"
                         "{\"path\":\"DATA\",\"kind\":\"directory\",\"size\":0}\n");
}

// Names may hold any byte: quotes and control characters are escaped, UTF-8 passes, and a
// byte that is no UTF-8 becomes U+FFFD with the exact bytes beside it.
TEST_F(VellTool, JsonLinesEscapeEveryName)
{
    ProjectRelease release("names", 0x00000001);
    release.Add("N/say \"hi\".txt", "1", Storage::Archived, Compression::Stored);
    release.Add("N/tab\there.txt", "22", Storage::Archived, Compression::Stored);
    release.Add("N/caf\xC3\xA9.txt", "333", Storage::Archived, Compression::Stored);
    release.Add("N/caf\xE9-latin1.txt", "4444", Storage::Archived, Compression::Stored);
    const std::string deploy = release.Write(mDir.Path() / "names/VELL").deployDirectory.string();
    const Result r = Vell(deploy, "ls --json N");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"path\":\"N/caf\xC3\xA9.txt\",\"name\":\"caf\xC3\xA9.txt\",\"kind\":\"file\",\"size\":3}\n"
              "{\"path\":\"N/caf\xEF\xBF\xBD-latin1.txt\",\"pathHex\":\"4e2f636166e92d6c6174696e312e747874\","
              "\"name\":\"caf\xEF\xBF\xBD-latin1.txt\",\"nameHex\":\"636166e92d6c6174696e312e747874\",\"kind\":\"file\",\"size\":4}\n"
              "{\"path\":\"N/say \\\"hi\\\".txt\",\"name\":\"say \\\"hi\\\".txt\",\"kind\":\"file\",\"size\":1}\n"
              "{\"path\":\"N/tab\\there.txt\",\"name\":\"tab\\there.txt\",\"kind\":\"file\",\"size\":2}\n");
}

TEST_F(VellTool, ExtractNamesEverythingAsTheManifestDoesAndKeepsEmptyDirectories)
{
    const fs::path out = mDir.Path() / "out";
    Result r = Vell(mClient, "extract data/characters " + Quote(out.string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TreeOf(out), (std::vector<std::string>{"DATA/", "DATA/Characters/", "DATA/Characters/Hero/",
                                                     "DATA/Characters/Hero/hero.dds", "DATA/Characters/Hero/hero.skn",
                                                     "DATA/Characters/Villain/", "DATA/Characters/Villain/villain.dds"}));
    EXPECT_EQ(TempDir::Read((out / "DATA/Characters/Villain/villain.dds").string()),
              SampleContent("client", 0x00000001, "DATA/Characters/Villain/villain.dds", 12000));

    const fs::path all = mDir.Path() / "all";
    r = Vell(mGame, "extract " + Quote("*") + " " + Quote(all.string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "15 file(s) and 13 directories extracted to " + all.string() + ", 0 failed\n");
    EXPECT_TRUE(fs::is_directory(all / "DATA/Empty"));
    EXPECT_TRUE(fs::is_empty(all / "DATA/Empty"));
    EXPECT_EQ(TempDir::Read((all / "DATA/readme.txt").string()), SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 1800));
    EXPECT_EQ(TempDir::Read((all / "DATA/Sounds/music.ogg").string()),
              SampleContent("client", kSampleClientVersion, "DATA/Sounds/music.ogg", 400000));
    for (const std::string& path : TreeOf(all)) EXPECT_FALSE(Has(path, ".vell-partial")) << path;
}

TEST_F(VellTool, ExtractFailuresSayWhyAndLeaveNoPartialFile)
{
    // An output directory below a file: one line with the system's reason.
    const std::string file = mDir.Write("plain-file", "x");
    Result r = Vell(mClient, "extract " + Quote("DATA/*") + " " + Quote(file + "/out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell extract: cannot use \"" + file + "/out\" as the output directory: Not a directory\n");

    // A damaged file: one line, its neighbour extracted, nothing left of it.
    const std::string damaged = WriteDamagedRelease(mDir.Path() / "broken/VELL");
    const fs::path out = mDir.Path() / "out";
    r = Vell(damaged, "extract DATA " + Quote(out.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(TreeOf(out), (std::vector<std::string>{"DATA/", "DATA/good.txt"}));
    EXPECT_EQ(TempDir::Read((out / "DATA/good.txt").string()), std::string(5000, 'g'));
    EXPECT_TRUE(Has(r.err, "vell extract: cannot extract \"DATA/bad.txt\": its compressed data in ")) << r.err;
    EXPECT_TRUE(Has(r.err, "is damaged (zlib: Z_DATA_ERROR: incorrect data check)\n")) << r.err;
    EXPECT_EQ(LineCount(r.err), 2u) << r.err;  // the file's line and the hint about -v
    EXPECT_EQ(r.out, "1 file(s) and 1 directories extracted to " + out.string() + ", 1 failed\n");
}

TEST_F(VellTool, ExtractNeverWritesThroughALinkInTheOutputDirectory)
{
    const fs::path out = mDir.Path() / "out", elsewhere = mDir.Path() / "elsewhere";
    fs::create_directories(out);
    fs::create_directories(elsewhere);
    try {
        fs::create_directory_symlink(elsewhere, out / "DATA");
    } catch (const fs::filesystem_error& error) {
        GTEST_SKIP() << "symbolic links cannot be made here: " << error.what();
    }
    const Result r = Vell(mClient, "extract DATA/readme.txt " + Quote(out.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "cannot create directory \"" + (out / "DATA").string() + "\": it exists as a symbolic link")) << r.err;
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(VellTool, CheckPassesOnTheSampleAndNamesADamagedFileInOneLine)
{
    Result r = Vell(mClient, "check");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "14 file(s) checked, 1013414 bytes read, 0 failed\n"
              "10 of them carry no check of their own (stored, LZMA, managed or naked): 'vell verify' compares them "
              "with their checksums\n");
    EXPECT_EQ(Vell(mGame, "check").status, 0);
    r = Vell(mClient, "check --json");
    EXPECT_EQ(LineCount(r.out), 14u);
    EXPECT_TRUE(Has(r.out, "{\"path\":\"DATA/Sounds/exact.bin\",\"kind\":\"file\",\"size\":262144,\"status\":\"ok\"}\n"))
        << r.out;

    const std::string damaged = WriteDamagedRelease(mDir.Path() / "broken/VELL");
    r = Vell(damaged, "check");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "FAILED DATA/bad.txt: its compressed data in ")) << r.out;
    EXPECT_FALSE(Has(r.out, "FAILED DATA/good.txt")) << r.out;
    EXPECT_EQ(r.err, "vell: run with -v to see the library's full diagnostics\n");
    r = Vell(damaged, "check --json");
    EXPECT_TRUE(Has(r.out, "\"path\":\"DATA/bad.txt\",\"kind\":\"file\",\"size\":5000,\"status\":\"failed\",\"reason\":\"its "))
        << r.out;
    // -v shows the library's own report: the failure and the archive's index.
    r = Vell(damaged, "-v check");
    EXPECT_TRUE(Has(r.err, "Failed to decompress archive file \"DATA/bad.txt\"")) << r.err;
    EXPECT_TRUE(Has(r.err, "Archive Entry: Hash=")) << r.err;
    EXPECT_EQ(Vell(damaged, "-q check").err, "");
}

// Data stored as it is carries no check of its own: only verify, comparing every file with
// the manifest's MD5, finds flipped bytes in it.
TEST_F(VellTool, VerifyNamesFilesThatDifferFromTheirChecksum)
{
    const std::string stored = "stored entry " + std::string(3000, 's');
    ProjectRelease release("sums", 0x00000001);
    const auto add = [&release](const std::string& path, const std::string& content, Storage storage, Compression compression,
                                bool withChecksum) {
        FileSpec file;
        file.path = path;
        file.content = content;
        file.storage = storage;
        file.compression = compression;
        // All zeros is "no checksum in the manifest".
        file.checksum = withChecksum ? Md5Of(content) : Md5Digest{};
        release.Add(file);
    };
    add("DATA/stored.bin", stored, Storage::Archived, Compression::Stored, true);
    add("DATA/zlib.txt", std::string(4000, 'z'), Storage::Archived, Compression::Zlib, true);
    add("DATA/lzma.bin", std::string(4000, 'l'), Storage::Archived, Compression::Lzma, true);
    add("Config/managed.ini", "managed = 1\n", Storage::Managed, Compression::Stored, true);
    add("naked.cfg", "naked\n", Storage::Naked, Compression::Stored, true);
    add("DATA/nosum.txt", "no checksum", Storage::Archived, Compression::Stored, false);
    const auto written = release.Write(mDir.Path() / "sums/VELL");
    const std::string deploy = written.deployDirectory.string();

    Result r = Vell(deploy, "verify");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "6 file(s) read, " + std::to_string(stored.size() + 8000 + 12 + 6 + 11) +
                         " bytes: 5 verified, 0 differ from their checksum, 0 failed, 1 unverified (no checksum in the manifest)\n");

    // Two bytes flipped inside the stored entry, and the managed file changed on disk.
    const fs::path data = written.archives.at(0).dataPath;
    std::string bytes = TempDir::Read(data.string());
    const std::size_t at = bytes.find(stored);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 100] ^= 0x01;
    bytes[at + 101] ^= 0x40;
    std::ofstream(data, std::ios::binary | std::ios::trunc) << bytes;
    std::ofstream(mDir.Path() / "sums/VELL/projects/sums/managedfiles/0.0.0.1/Config/managed.ini", std::ios::trunc)
        << "managed = 2\n";

    EXPECT_EQ(Vell(deploy, "check").status, 0) << "nothing but the checksum tells";
    r = Vell(deploy, "verify");
    EXPECT_EQ(r.status, 1);
    const std::string sum = HexDigest(Md5Of(stored));
    EXPECT_TRUE(Has(r.out, "MISMATCH DATA/stored.bin: its MD5 is ")) << r.out;
    EXPECT_TRUE(Has(r.out, ", the manifest says " + sum + "\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "MISMATCH Config/managed.ini: ")) << r.out;
    EXPECT_EQ(LineCount(r.out), 3u) << r.out;
    EXPECT_TRUE(Has(r.out, "3 verified, 2 differ from their checksum, 0 failed, 1 unverified")) << r.out;
    r = Vell(deploy, "verify --json");
    EXPECT_TRUE(Has(r.out, "{\"path\":\"DATA/stored.bin\",\"kind\":\"file\",\"size\":" + std::to_string(stored.size()) +
                               ",\"status\":\"mismatch\",\"checksum\":\"" + sum + "\",\"actual\":\""))
        << r.out;
    EXPECT_TRUE(Has(r.out, "{\"path\":\"DATA/nosum.txt\",\"kind\":\"file\",\"size\":11,\"status\":\"unverified\","
                           "\"checksum\":null,\"actual\":\"" + HexDigest(Md5Of("no checksum")) + "\"}"))
        << r.out;

    // A file that cannot be read at all fails verify too.
    const std::string damaged = WriteDamagedRelease(mDir.Path() / "broken/VELL");
    r = Vell(damaged, "verify");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "FAILED DATA/bad.txt: its compressed data in ")) << r.out;
}

TEST_F(VellTool, UsageErrors)
{
    EXPECT_EQ(Vell("", "--help").status, 0);
    EXPECT_EQ(Execute(mDir, VELL_BINARY).status, 2);
    EXPECT_EQ(Vell("", "frobnicate").status, 2);
    EXPECT_EQ(Vell("", "cat").status, 2);
    EXPECT_EQ(Vell(mClient, "check --frobnicate").status, 2);
    Result help = Vell("", "extract --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vell extract PATTERN OUT_DIR", 0), 0u);
}
