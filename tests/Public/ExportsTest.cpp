// The exported interface called directly: lifecycle, path lookup, file handles, enumeration.
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
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

std::string Bytes(std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; out.size() < size; ++i) out += std::to_string(i * 7919 % 1000) + ";";
    return out.substr(0, size);
}

// Written once:
//   client 0.0.0.118  every storage kind; Sort/ and Names/ for enumeration; root name empty
//   rooted 0.0.0.1    a root named "Root"
//   game 0.0.0.1      a solution of High (priority 20), Mid (15) and Low (10), whose DATA,
//                     Same and Mix directories overlap
struct Content {
    TarnTest::TempDir dir;
    std::filesystem::path root = dir.Path() / "VELL";
    std::string client = root.string() + "/projects/client/releases/0.0.0.118/deploy";
    std::string rooted = root.string() + "/projects/rooted/releases/0.0.0.1/deploy";
    std::string game = root.string() + "/solutions/game/releases/0.0.0.1/deploy";
    std::string hero = Bytes(70000), x = Bytes(3000);

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
            .Add("DATA/Characters/Hero/hero.dds", hero, Storage::Archived, Compression::Lzma)
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

// The "current directory" the library sees.
std::string gCurrentDirectory;
Win32::DWORD FakeCurrentDirectory(Win32::DWORD size, Win32::LPSTR buffer)
{
    const auto length = static_cast<Win32::DWORD>(gCurrentDirectory.size());
    if (length + 1 > size) return length + 1;
    std::memcpy(buffer, gCurrentDirectory.c_str(), length + 1);
    return length;
}

struct Found {
    std::string name;
    std::uint32_t isDirectory;
    std::uint64_t size;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Found& f) { return out << f.name << "/" << f.isDirectory << "/" << f.size; }
Found Dir(const std::string& name) { return {name, 1, 0}; }
Found File(const std::string& name, std::uint64_t size) { return {name, 0, size}; }

// Everything a search delivers; nullopt without a handle. The end is reported again after it.
std::optional<std::vector<Found>> List(const std::string& pattern)
{
    VellFindHandle search = VellFindFirstFile(pattern.c_str());
    if (search == nullptr) return std::nullopt;
    std::vector<Found> found;
    Found f{"", 7, 7};
    char name[260];
    while (VellFindNextFile(search, &f.isDirectory, &f.size, sizeof(name), name) == VELL_OK) {
        f.name = name;
        found.push_back(f);
    }
    EXPECT_EQ(VellFindNextFile(search, nullptr, nullptr, 0, nullptr), VELL_E_FAIL);
    VellFindClose(search);
    return found;
}

bool Opens(const std::string& path)
{
    VellFileHandle file = VellOpenFile(path.c_str());
    VellCloseFile(file);
    return file != nullptr;
}

std::string ReadAll(VellFileHandle file)
{
    std::string out(static_cast<std::size_t>(VellGetFileSize(file)), '\0');
    std::uint32_t got = 0;
    EXPECT_EQ(VellRead(file, 0, static_cast<std::uint32_t>(out.size()), &got, out.data()), VELL_OK);
    EXPECT_EQ(got, out.size());
    return out;
}

// Each test starts and ends without an environment.
class Fresh : public ::testing::Test {
protected:
    void SetUp() override
    {
        Layout();
        VellShutdown();
    }
    void TearDown() override { VellShutdown(); }
    static void Load(const std::string& directory) { ASSERT_EQ(VellInitialize(0, 0, 0, directory.c_str()), VELL_OK); }
};
class Lifecycle : public Fresh {};
class PathLookup : public Fresh {};
class FileHandles : public Fresh {};
class Enumeration : public Fresh {};

}  // namespace

TEST_F(Lifecycle, InitializeWithoutDirectoryUsesTheCurrentOneAndRefusesASecondCall)
{
    TarnTest::ScopedCalls calls;
    Win32::gCalls.GetCurrentDirectoryA = FakeCurrentDirectory;
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
    EXPECT_TRUE(VellFileExists("Sort/z.txt"));
    EXPECT_FALSE(VellFileExists("Same/x.txt"));

    VellShutdown();
    VellShutdown();
    EXPECT_EQ(VellInitialize(0, 0, 0, Layout().game.c_str()), VELL_OK);
    EXPECT_TRUE(log.Contains(kInitialize + "VELL library initializing with specified working directory \"" + Layout().game + "\"."));
    EXPECT_TRUE(VellFileExists("Same/x.txt"));
    EXPECT_FALSE(VellFileExists("Sort/z.txt"));
}

TEST_F(Lifecycle, LazyCreationUsesTheCurrentDirectoryAndIsRetriedAfterAFailure)
{
    TarnTest::ScopedCalls calls;
    Win32::gCalls.GetCurrentDirectoryA = FakeCurrentDirectory;
    const std::string nowhere = Layout().root.string() + "/nowhere";
    const std::function<bool()> creating[] = {[] { return VellFileExists("Sort/z.txt") == 1; },
                                              [] { return Opens("Sort/z.txt"); },
                                              [] { return List("Sort/*").has_value(); }};
    for (const auto& call : creating) {
        VellShutdown();
        gCurrentDirectory = nowhere;
        LogCapture log;
        EXPECT_FALSE(call());
        EXPECT_FALSE(call());
        EXPECT_EQ(log.Count(kInitialize + "VELL library initializing with current working directory \"" + nowhere + "\"."), 2u);
        EXPECT_EQ(log.Count(kInitializeFailed), 2u) << log.Dump();
        gCurrentDirectory = Layout().client;
        EXPECT_TRUE(call()) << log.Dump();
    }
    VellShutdown();
    gCurrentDirectory = nowhere;
    LogCapture log;
    EXPECT_EQ(VellOpenFile("Sort/z.txt"), nullptr);
    EXPECT_TRUE(log.InOrder({kInitializeFailed, "VellOpenFile: VELL cannot open file \"Sort/z.txt\" because VELL has not "
                                                "been successfully initialized."}));
    // Calls refused for their argument create nothing.
    log.Clear();
    EXPECT_FALSE(VellFileExists(nullptr));
    EXPECT_FALSE(VellFileExists(""));
    EXPECT_EQ(VellFindFirstFile(nullptr), nullptr);
    EXPECT_EQ(VellOpenFile(nullptr), nullptr);
    EXPECT_EQ(VellOpenFile(""), nullptr);
    EXPECT_EQ(log.Texts(), std::vector<std::string>(2, "VellOpenFile: VELL cannot open a file with an empty path."));
}

TEST_F(PathLookup, SeparatorAndCaseVariantsFindTheSameEntry)
{
    Load(Layout().client);
    LogCapture log;
    for (const char* path :
         {"DATA\\Characters//x.dds", "DATA/Characters/x.dds", "DATA/Characters/x.dds/", "data\\CHARACTERS\\\\X.DDS\\\\"}) {
        EXPECT_TRUE(VellFileExists(path)) << path;
        VellFileHandle file = VellOpenFile(path);
        ASSERT_NE(file, nullptr) << path << log.Dump();
        EXPECT_EQ(ReadAll(file), Layout().x);
        VellCloseFile(file);
    }
    for (const char* directory : {"DATA/Characters", "DATA\\Characters\\", "DATA/Empty"}) EXPECT_TRUE(VellFileExists(directory));
    for (const char* absent : {"DATA/Characters/x.dd", "Characters/x.dds", "/DATA/Characters/x.dds", "DATA/Characters/x.dds/y"})
        EXPECT_FALSE(VellFileExists(absent)) << absent;

    // Only the normalised form must fit in 260 characters; a final separator needs no room.
    const std::string tooLong = "DATA/" + std::string(300, 'a');
    EXPECT_FALSE(VellFileExists(tooLong.c_str()));
    EXPECT_EQ(VellOpenFile(tooLong.c_str()), nullptr);
    EXPECT_TRUE(LoggedError(log, "VellOpenFile: VELL cannot open file \"" + tooLong + "\" because it's not in the manifest."));
    EXPECT_EQ(List(tooLong + "/*"), std::nullopt);
    EXPECT_FALSE(VellFileExists((kLongPath + "x").c_str()));
    for (const std::string& path : {"Sort" + std::string(300, '/') + "z.txt", kLongPath, kLongPath + "/", kLongPath + "\\\\"})
        EXPECT_TRUE(VellFileExists(path.c_str()) && Opens(path)) << path;
    EXPECT_EQ(List("Sort" + std::string(300, '\\') + "z*"), std::vector<Found>{File("z.txt", 5)});
    EXPECT_EQ(List(kLongDirectory + "/*"), std::vector<Found>{File("e.bin", 4)});
    EXPECT_EQ(List(kLongPath + "/"), std::vector<Found>{File("e.bin", 4)});
}

TEST_F(PathLookup, EmptyPathNamesTheRootOnlyWhenTheRootsNameIsEmpty)
{
    Load(Layout().client);
    EXPECT_TRUE(VellFileExists("/"));
    EXPECT_TRUE(VellFileExists("\\"));
    EXPECT_EQ(List("*.txt"), (std::vector<Found>{File("notes.txt", 5), File("readme.txt", 6)}));
    EXPECT_EQ(List("*"), (std::vector<Found>{Dir("DATA"), Dir("Long"), Dir("Names"), Dir("Sort"), File("notes.txt", 5),
                                             File("readme.txt", 6)}));
    // The final slash goes, so DATA/ searches the root for DATA itself.
    EXPECT_EQ(List("DATA/"), std::vector<Found>{Dir("DATA")});
    VellShutdown();

    Load(Layout().rooted);
    EXPECT_FALSE(VellFileExists("/"));
    EXPECT_FALSE(VellFileExists("\\"));
    EXPECT_TRUE(VellFileExists("readme.txt"));
    EXPECT_EQ(List("*.txt"), std::nullopt);
    EXPECT_EQ(List("DATA/"), std::nullopt);
    EXPECT_EQ(List("DATA/*"), std::vector<Found>{File("a.txt", 1)});
}

TEST_F(FileHandles, OpenFileReportsWhyItRefusesWithThePathAsGiven)
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
    EXPECT_TRUE(LoggedError(log, "VellOpenFile: VELL cannot open file \"sort\\A\\\".  It's in the manifest, but failed to open."));
}

TEST_F(FileHandles, ReadSizeAndCloseFollowTheHandleContract)
{
    Load(Layout().client);
    VellFileHandle file = VellOpenFile("Sort/Y.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(VellGetFileSize(file), 7);
    LogCapture log;
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
    file = VellOpenFile("DATA/Characters/Hero/hero.dds");
    EXPECT_EQ(ReadAll(file), Layout().hero);
    VellCloseFile(file);
}

TEST_F(Enumeration, DeliversSubdirectoriesThenFilesEachInNameOrderIgnoringCase)
{
    Load(Layout().client);
    EXPECT_EQ(List("Sort/*"), (std::vector<Found>{Dir("A"), Dir("b"), File("Y.txt", 7), File("z.txt", 5)}));
    EXPECT_EQ(List("sort\\*.TXT"), (std::vector<Found>{File("Y.txt", 7), File("z.txt", 5)}));
    EXPECT_EQ(List("Sort/?"), (std::vector<Found>{Dir("A"), Dir("b")}));
    EXPECT_EQ(List("Sort/q*"), std::vector<Found>{});
    // Sizes are those of the content, whatever the storage.
    EXPECT_EQ(List("DATA/Characters/*"), (std::vector<Found>{Dir("Hero"), File("x.dds", 3000)}));
    EXPECT_EQ(List("DATA/Characters/Hero/*"), (std::vector<Found>{File("hero.dds", 70000), File("hero.skn", 500)}));
}

TEST_F(Enumeration, FindsNoDirectoryBehindAFileAndEndsAnEmptyDirectoryAtOnce)
{
    Load(Layout().client);
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

TEST_F(Enumeration, MergesSolutionListingsDroppingRepeatedNames)
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

    VellFileHandle file = VellOpenFile("DATA/X.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "hhh");
    VellCloseFile(file);
}
