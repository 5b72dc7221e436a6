// The exported interface called directly: lifecycle, path lookup, file handles, enumeration.
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Enumeration.h"
#include "TarnVellIO.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"
#include "writer/SolutionWriter.h"

using namespace Tarn::VELL::Writer;
using TarnTest::LogCapture;
using TarnTest::LoggedError;

namespace {

const std::string kInitialize = "Tarn::VELL::Reader::VellExportsMain::Initialize: ";
const std::string kInitializeFailed = kInitialize + "VELL library initialization failed to create the runtime environment.";
// The longest path a listing can hold: 259 characters.
const std::string kLongDirectory = "Long/" + std::string(248, 'l');
const std::string kLongPath = kLongDirectory + "/e.bin";

std::string Bytes(std::size_t size) { return SampleContent("client", 0x76, "bytes", size); }

// Written once:
//   client 0.0.0.118  every storage kind; Sort/ and Names/ for enumeration; root name empty
//   rooted 0.0.0.1    a root named "Root"
//   game 0.0.0.1      a solution of High (priority 20), Mid (15) and Low (10), whose DATA,
//                     Same and Mix directories overlap
struct Content {
    TarnSupport::TempDir dir;
    std::filesystem::path root = dir.Path() / "VELL";
    std::string client = root.string() + "/projects/client/releases/0.0.0.118/deploy";
    std::string rooted = root.string() + "/projects/rooted/releases/0.0.0.1/deploy";
    std::string game = root.string() + "/solutions/game/releases/0.0.0.1/deploy";
    std::string x = Bytes(3000);

    // Release 0.0.0.1 of a project of naked files: path, content, path, content...
    void Naked(const char* name, const std::vector<std::string>& files) const
    {
        ProjectRelease release(name, 1);
        for (std::size_t i = 0; i < files.size(); i += 2) release.Add(files[i], files[i + 1], Storage::Naked);
        release.Write(root);
    }

    Content()
    {
        ProjectRelease("client", 0x76)
            .Add("DATA/Characters/x.dds", x, Storage::Archived, Compression::Zlib)
            .Add("DATA/Characters/Hero/hero.dds", Bytes(70000), Storage::Archived, Compression::Lzma)
            .Add("DATA/Characters/Hero/hero.skn", Bytes(500), Storage::Archived, Compression::Stored)
            .Add("DATA/empty.bin", "", Storage::Naked)
            .AddDirectory("DATA/Empty")
            .Add("Sort/b/k.txt", "k", Storage::Naked)
            .Add("Sort/A/k.txt", "k", Storage::Naked)
            .Add("Sort/z.txt", "zzzzz", Storage::Naked)
            .Add("Sort/Y.txt", "YYYYYYY", Storage::Managed)
            .Add("Names/abcdef", "1", Storage::Naked)
            .Add("Names/ghijkl", "2", Storage::Naked)
            .Add("readme.txt", "readme", Storage::Naked)
            .Add("notes.txt", "notes", Storage::Managed)
            .Add(kLongPath, "long", Storage::Archived, Compression::Stored)
            .Write(root);
        ProjectRelease("rooted", 1).SetRootName("Root").Add("readme.txt", "r", Storage::Naked).Add("DATA/a.txt", "a").Write(root);
        Naked("High", {"DATA/x.txt", "hhh", "DATA/M.txt", "m", "Same/x.txt", "H", "Mix/a.txt", "a"});
        Naked("Mid", {"DATA/b/k.txt", "k", "DATA/X.TXT", "mmmmm", "DATA/y.txt", "yyyy", "Same/x.txt", "M"});
        Naked("Low", {"DATA/A/k.txt", "kkkkkkk", "DATA/B/k.txt", "kkkkkkk", "DATA/B/l.txt", "lllllll", "DATA/x.txt", "xxxxx",
                      "DATA/a.txt", "aaaaa", "DATA/z.txt", "zzzzz", "Same/x.txt", "xxxxx", "Same/y.txt", "yyyyy",
                      "Mix/z/k.txt", "k", "Mix/b.txt", "bbbb"});
        SolutionRelease("game", 1).AddProject("Low", 1, 10).AddProject("High", 1, 20).AddProject("Mid", 1, 15).Write(root);
    }
};

const Content& Layout()
{
    static const Content content;
    return content;
}

std::string gCurrentDirectory;  // the one the library sees

std::optional<std::vector<Found>> List(const std::string& pattern)
{
    return ListWith(VellFindFirstFile, VellFindNextFile, VellFindClose, pattern);
}

// The whole file, read through a handle of its own; empty if it cannot be opened or read.
std::string Read(const std::string& path)
{
    VellFileHandle file = VellOpenFile(path.c_str());
    std::string out(file ? static_cast<std::size_t>(VellGetFileSize(file)) : 0, '\0');
    std::uint32_t got = 0;
    const bool read = file && VellRead(file, 0, static_cast<std::uint32_t>(out.size()), &got, out.data()) == VELL_OK &&
                      got == out.size();
    VellCloseFile(file);
    return read ? out : "";
}

// Each test starts and ends without an environment.
class Exports : public ::testing::Test {
protected:
    void SetUp() override
    {
        Layout();
        VellShutdown();
    }
    void TearDown() override { VellShutdown(); }
    static void Load(const std::string& directory) { ASSERT_EQ(VellInitialize(0, 0, 0, directory.c_str()), VELL_OK); }
};

}  // namespace

TEST_F(Exports, InitializeRefusesASecondCallAndWithoutDirectoryOrCallUsesTheCurrentOne)
{
    TarnTest::ScopedCalls calls;
    Win32::gCalls.GetCurrentDirectoryA = [](Win32::DWORD size, Win32::LPSTR buffer) {
        const auto length = static_cast<Win32::DWORD>(gCurrentDirectory.size());
        if (length < size) std::memcpy(buffer, gCurrentDirectory.c_str(), length + 1);
        return length < size ? length : length + 1;
    };
    gCurrentDirectory = Layout().client;
    LogCapture log;
    EXPECT_EQ(VellInitialize(1, 2, 3, nullptr), VELL_OK);
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags,
                                 kInitialize + "VELL library initializing with current working directory \"" + Layout().client +
                                     "\"."));
    log.Clear();
    EXPECT_EQ(VellInitialize(0, 0, 0, Layout().game.c_str()), VELL_E_FAIL);
    EXPECT_EQ(log.Texts(), std::vector<std::string>{kInitialize + "VELL library initialization failed because it was already "
                                                                  "initialized and must only be initialized once."});
    EXPECT_TRUE(VellFileExists("Sort/z.txt") && !VellFileExists("Same/x.txt"));

    VellShutdown();
    VellShutdown();
    EXPECT_EQ(VellInitialize(0, 0, 0, Layout().game.c_str()), VELL_OK);
    EXPECT_TRUE(log.Contains(kInitialize + "VELL library initializing with specified working directory \"" + Layout().game + "\"."));
    EXPECT_TRUE(VellFileExists("Same/x.txt") && !VellFileExists("Sort/z.txt"));

    // Without a call to initialise, the first call that needs an environment creates one from
    // the current directory, and tries again after a failure.
    VellShutdown();
    gCurrentDirectory = Layout().root.string() + "/nowhere";
    log.Clear();
    EXPECT_FALSE(VellFileExists("Sort/z.txt"));
    EXPECT_EQ(List("Sort/*"), std::nullopt);
    EXPECT_EQ(VellOpenFile("Sort/z.txt"), nullptr);
    EXPECT_EQ(log.Count(kInitialize + "VELL library initializing with current working directory \"" + gCurrentDirectory + "\"."), 3u);
    EXPECT_EQ(log.Count(kInitializeFailed), 3u) << log.Dump();
    EXPECT_TRUE(log.InOrder({kInitializeFailed, "VellOpenFile: VELL cannot open file \"Sort/z.txt\" because VELL has not "
                                                "been successfully initialized."}));
    gCurrentDirectory = Layout().client;
    EXPECT_EQ(Read("Sort/z.txt"), "zzzzz") << log.Dump();

    // Calls refused for their argument create nothing.
    VellShutdown();
    log.Clear();
    EXPECT_FALSE(VellFileExists(nullptr));
    EXPECT_FALSE(VellFileExists(""));
    EXPECT_EQ(VellFindFirstFile(nullptr), nullptr);
    EXPECT_EQ(VellOpenFile(nullptr), nullptr);
    EXPECT_EQ(VellOpenFile(""), nullptr);
    EXPECT_EQ(log.Texts(), std::vector<std::string>(2, "VellOpenFile: VELL cannot open a file with an empty path."));
}


TEST_F(Exports, PathsFindTheSameEntryWhateverTheSeparatorsAndCaseAndTheEmptyPathNamesAnUnnamedRoot)
{
    Load(Layout().client);
    for (const char* path : {"DATA\\Characters//x.dds", "DATA/Characters/x.dds/", "data\\CHARACTERS\\\\X.DDS\\\\"})
        EXPECT_TRUE(VellFileExists(path) && Read(path) == Layout().x) << path;
    for (const char* directory : {"DATA/Characters", "DATA\\Characters\\", "DATA/Empty"}) EXPECT_TRUE(VellFileExists(directory));
    for (const char* absent : {"DATA/Characters/x.dd", "Characters/x.dds", "/DATA/Characters/x.dds", "DATA/Characters/x.dds/y"})
        EXPECT_FALSE(VellFileExists(absent)) << absent;

    // Only the normalised form must fit in 260 characters; a final separator needs no room.
    const std::string tooLong = "DATA/" + std::string(300, 'a');
    EXPECT_FALSE(VellFileExists(tooLong.c_str()));
    EXPECT_EQ(VellOpenFile(tooLong.c_str()), nullptr);
    EXPECT_EQ(List(tooLong + "/*"), std::nullopt);
    EXPECT_FALSE(VellFileExists((kLongPath + "x").c_str()));
    for (const std::string& path : {"Sort" + std::string(300, '/') + "z.txt", kLongPath, kLongPath + "/", kLongPath + "\\\\"})
        EXPECT_TRUE(VellFileExists(path.c_str()) && !Read(path).empty()) << path;
    EXPECT_EQ(List("Sort" + std::string(300, '\\') + "z*"), std::vector<Found>{File("z.txt", 5)});
    EXPECT_EQ(List(kLongDirectory + "/*"), std::vector<Found>{File("e.bin", 4)});
    EXPECT_EQ(List(kLongPath + "/"), std::vector<Found>{File("e.bin", 4)});

    // The empty path names the root only when the root's name is empty.
    EXPECT_TRUE(VellFileExists("/") && VellFileExists("\\"));
    EXPECT_EQ(List("*"), (std::vector<Found>{Dir("DATA"), Dir("Long"), Dir("Names"), Dir("Sort"), File("notes.txt", 5),
                                             File("readme.txt", 6)}));
    EXPECT_EQ(List("DATA/"), std::vector<Found>{Dir("DATA")});  // the final slash goes: the root is searched for DATA
    VellShutdown();
    Load(Layout().rooted);
    EXPECT_FALSE(VellFileExists("/") || VellFileExists("\\"));
    EXPECT_TRUE(VellFileExists("readme.txt"));
    EXPECT_EQ(List("*.txt"), std::nullopt);
    EXPECT_EQ(List("DATA/"), std::nullopt);
    EXPECT_EQ(List("DATA/*"), std::vector<Found>{File("a.txt", 1)});
}

TEST_F(Exports, FileHandlesFollowTheirContractAndOpenSaysWhyItRefuses)
{
    Load(Layout().client);
    LogCapture log;
    EXPECT_EQ(VellOpenFile("Sort\\missing.txt"), nullptr);
    EXPECT_EQ(VellOpenFile("sort\\A\\"), nullptr);
    EXPECT_EQ(log.Texts(VELL_LOG_WARN),
              (std::vector<std::string>{
                  "VellOpenFile: VELL cannot open file \"Sort\\missing.txt\" because it's not in the manifest.",
                  "Tarn::VELL::Reader::ProjectListing::Open: VELL cannot open file system entry \"Sort/A\" because it failed "
                  "to get the associated file entry.",
                  "VellOpenFile: VELL cannot open file \"sort\\A\\\".  It's in the manifest, but failed to open.",
              }));

    VellFileHandle file = VellOpenFile("Sort/Y.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(VellGetFileSize(file), 7);
    log.Clear();
    char buffer[8] = "#######";
    std::uint32_t got = 0xDEADBEEF;
    EXPECT_EQ(VellRead(file, 0, 0, &got, buffer), VELL_OK);
    EXPECT_EQ(VellRead(file, 100, 0, &got, nullptr), VELL_OK);
    EXPECT_EQ(VellRead(file, 0, 7, &got, nullptr), VELL_E_FAIL);
    EXPECT_EQ(got, 0xDEADBEEFu);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(VellRead(nullptr, 0, 0, &got, buffer), VELL_E_HANDLE);
    EXPECT_EQ(VellRead(nullptr, 0, 4, &got, buffer), VELL_E_HANDLE);
    EXPECT_EQ(VellGetFileSize(nullptr), -1);
    VellCloseFile(nullptr);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "VellRead: VELL cannot read from the file because the buffer is null.",
                               "VellRead: VELL cannot read from the file because the handle is null.",
                               "VellRead: VELL cannot read from the file because the handle is null.",
                               "VellGetFileSize: VELL cannot get the file size the handle is null.",
                           }));
    EXPECT_TRUE(LoggedError(log, "VellGetFileSize: VELL cannot get the file size the handle is null."));
    EXPECT_EQ(VellRead(file, 2, 4, &got, buffer), VELL_OK);
    EXPECT_EQ(got, 4u);
    EXPECT_STREQ(buffer, "YYYY###");
    EXPECT_EQ(VellRead(file, 0, 1, nullptr, buffer), VELL_OK);
    VellCloseFile(file);
    VellFileHandle empty = VellOpenFile("DATA/empty.bin");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(VellGetFileSize(empty), 0);
    VellCloseFile(empty);
}

TEST_F(Exports, EnumerationDeliversSubdirectoriesThenFilesEachInNameOrderIgnoringCase)
{
    Load(Layout().client);
    EXPECT_EQ(List("Sort/*"), (std::vector<Found>{Dir("A"), Dir("b"), File("Y.txt", 7), File("z.txt", 5)}));
    EXPECT_EQ(List("sort\\*.TXT"), (std::vector<Found>{File("Y.txt", 7), File("z.txt", 5)}));
    EXPECT_EQ(List("Sort/?"), (std::vector<Found>{Dir("A"), Dir("b")}));
    EXPECT_EQ(List("Sort/q*"), std::vector<Found>{});
    // Sizes are those of the content, whatever the storage.
    EXPECT_EQ(List("DATA/Characters/*"), (std::vector<Found>{Dir("Hero"), File("x.dds", 3000)}));
    EXPECT_EQ(List("DATA/Characters/Hero/*"), (std::vector<Found>{File("hero.dds", 70000), File("hero.skn", 500)}));
    // No directory lies behind a file, and an empty directory ends at once.
    EXPECT_EQ(VellFindFirstFile("Sort/z.txt/*"), nullptr);
    EXPECT_EQ(VellFindFirstFile("Sort/missing/*"), nullptr);
    EXPECT_EQ(List("DATA/Empty/*"), std::vector<Found>{});
    std::uint32_t isDirectory = 7;
    EXPECT_EQ(VellFindNextFile(nullptr, &isDirectory, nullptr, 0, nullptr), VELL_E_HANDLE);
    EXPECT_EQ(isDirectory, 7u);
    VellFindClose(nullptr);

    // A short buffer gets the start of the name; without outputs the search still moves on.
    VellFindHandle search = VellFindFirstFile("Names/*");
    ASSERT_NE(search, nullptr);
    char name[8] = "QQQQQQQ";
    std::uint64_t size = 7;
    EXPECT_EQ(VellFindNextFile(search, &isDirectory, &size, 4, name), VELL_OK);
    EXPECT_EQ(std::string(name, 5), std::string("abc\0Q", 5));
    EXPECT_EQ(isDirectory, 0u);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(VellFindNextFile(search, nullptr, nullptr, 0, nullptr), VELL_OK);
    EXPECT_EQ(VellFindNextFile(search, &isDirectory, &size, sizeof(name), name), VELL_E_FAIL);
    VellFindClose(search);
}

TEST_F(Exports, MergesSolutionListingsDroppingRepeatedNames)
{
    Load(Layout().game);
    // Lookup order High, Mid, Low: a repeated name comes once, from the first that has it.
    const std::vector<Found> files = {File("a.txt", 5), File("M.txt", 1), File("x.txt", 3), File("y.txt", 4), File("z.txt", 5)};
    EXPECT_EQ(List("DATA/*"), (std::vector<Found>{Dir("A"), Dir("b"), files[0], files[1], files[2], files[3], files[4]}));
    EXPECT_EQ(List("data/?.TXT"), files);
    EXPECT_EQ(List("DATA/B/*"), (std::vector<Found>{File("k.txt", 1), File("l.txt", 7)}));
    // Mid holds only x.txt here and drops out while Low's repetition is skipped.
    EXPECT_EQ(List("Same/*"), (std::vector<Found>{File("x.txt", 1), File("y.txt", 5)}));
    // Every subdirectory comes first, though the first listing holds only a file.
    EXPECT_EQ(List("Mix/*"), (std::vector<Found>{Dir("z"), File("a.txt", 1), File("b.txt", 4)}));

    EXPECT_EQ(Read("DATA/X.txt"), "hhh");
}
