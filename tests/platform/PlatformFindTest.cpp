// FindFirstFileA, FindFirstFileExA, FindNextFileA and FindClose.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"
#include "support/TempDir.h"

using namespace PlatformTest;
using TarnTest::TempDir;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

bool IsDirectory(const Found& f) { return (f.attributes & Win32::FILE_ATTRIBUTE_DIRECTORY) != 0; }

const Found* Entry(const std::vector<Found>& found, const std::string& name)
{
    for (const Found& f : found)
        if (f.name == name) return &f;
    return nullptr;
}

}  // namespace

TEST(PlatformFind, StarListsEveryEntryIncludingDotAndDotDot)
{
    TempDir dir;
    dir.Write("b.txt", "bb");
    dir.Write("a.olm", "a");
    fs::create_directory(dir.Path() / "sub");
    std::vector<Found> found = FindAll(dir / "*");
    EXPECT_EQ(Names(found), (Strings{".", "..", "a.olm", "b.txt", "sub"}));
    for (const char* name : {".", "..", "sub"}) {
        ASSERT_NE(Entry(found, name), nullptr) << name;
        EXPECT_TRUE(IsDirectory(*Entry(found, name))) << name;
    }
    for (const char* name : {"a.olm", "b.txt"}) {
        ASSERT_NE(Entry(found, name), nullptr) << name;
        EXPECT_FALSE(IsDirectory(*Entry(found, name))) << name;
    }
}

TEST(PlatformFind, ExtensionPatternMatchesFilesAndDirectoriesIgnoringCase)
{
    TempDir dir;
    for (const char* name : {"a.olm", "B.OLM", "c.OlM", "a.olm.dat", "x.olmx", "olm", "aolm", "d.ol"}) dir.Write(name, "x");
    dir.Write("sub.olm/inner.olm", "x");
    const Strings expected{"a.olm", "B.OLM", "c.OlM", "sub.olm"};
    for (const char* pattern : {"*.olm", "*.OLM", "*.oLm"}) {
        std::vector<Found> found = FindAll(dir / pattern);
        EXPECT_EQ(Names(found), expected) << pattern;
        ASSERT_NE(Entry(found, "sub.olm"), nullptr);
        EXPECT_TRUE(IsDirectory(*Entry(found, "sub.olm")));
        EXPECT_FALSE(IsDirectory(*Entry(found, "a.olm")));
    }
}

TEST(PlatformFind, QuestionMarkStandsForExactlyOneCharacter)
{
    TempDir dir;
    for (const char* name : {"abc.olm", "aXc.olm", "ABC.OLM2", "ac.olm", "abbc.olm", "xbc.olm", "bc.olm"}) dir.Write(name, "x");
    EXPECT_EQ(Names(FindAll(dir / "a?c.olm")), (Strings{"abc.olm", "aXc.olm"}));
    EXPECT_EQ(Names(FindAll(dir / "?BC.OLM")), (Strings{"abc.olm", "xbc.olm"}));
    EXPECT_EQ(Names(FindAll(dir / "a??c.*")), (Strings{"abbc.olm"}));
}

TEST(PlatformFind, MatchingFoldsOnlyAsciiLetters)
{
    TempDir dir;
    dir.Write("\xC3\xA9t\xC3\xA9.olm", "x");
    dir.Write("caf\xE9.olm", "x");
    EXPECT_EQ(Names(FindAll(dir / "\xC3\xA9T*")), (Strings{"\xC3\xA9t\xC3\xA9.olm"}));
    EXPECT_EQ(Names(FindAll(dir / "CAF\xE9.*")), (Strings{"caf\xE9.olm"}));
    Win32::DWORD error = 0;
    EXPECT_TRUE(FindAll(dir / "\xC3\x89*", &error).empty());
    EXPECT_EQ(error, Win32::kErrorFileNotFound);
    EXPECT_TRUE(FindAll(dir / "caf\xC9.*", &error).empty());
    EXPECT_EQ(error, Win32::kErrorFileNotFound);
}

// Upper-case folding puts '[' and '_' after the letters, unlike _stricmp's lower-case
// folding; names equal after folding come in byte order.
TEST(PlatformFind, EntriesComeInUpperCaseFoldedOrderWhateverTheDiskOrder)
{
    const Strings expected{".", "..", "Alpha", "alpha2", "ALPHA3", "beta", "SAME", "same", "zeta", "[x]", "_under"};
    for (bool reverse : {false, true}) {
        TempDir dir;
        Strings create{"_under", "zeta", "same", "beta", "ALPHA3", "[x]", "SAME", "alpha2", "Alpha"};
        if (reverse) create = Strings(create.rbegin(), create.rend());
        for (const std::string& name : create) dir.Write(name, name);
        EXPECT_EQ(Names(FindAll(dir / "*")), expected) << "reverse " << reverse;
    }
}

TEST(PlatformFind, MissingDirectoryFailsWithPathNotFound)
{
    TempDir dir;
    dir.Write("file.txt", "x");
    for (const char* pattern : {"nowhere/*", "nowhere\\*.olm", "NOWHERE\\deeper\\*", "file.txt/*", "FILE.TXT\\*.olm"}) {
        Win32::WIN32_FIND_DATAA data{};
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::FindFirstFileA((dir / pattern).c_str(), &data), Win32::INVALID_HANDLE_VALUE) << pattern;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorPathNotFound) << pattern;
    }
}

TEST(PlatformFind, PatternThatMatchesNothingFailsWithFileNotFound)
{
    TempDir dir;
    dir.Write("full/a.olm", "x");
    fs::create_directory(dir.Path() / "empty");
    for (const char* pattern : {"full/*.xyz", "full/b.olm", "empty/*.olm", "EMPTY\\?.olm"}) {
        Win32::WIN32_FIND_DATAA data{};
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::FindFirstFileA((dir / pattern).c_str(), &data), Win32::INVALID_HANDLE_VALUE) << pattern;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorFileNotFound) << pattern;
    }
}

TEST(PlatformFind, FindNextAfterTheLastEntryKeepsFailingWithNoMoreFiles)
{
    TempDir dir;
    dir.Write("only.olm", "x");
    Win32::WIN32_FIND_DATAA data{};
    Win32::HANDLE search = Win32::FindFirstFileA((dir / "*.olm").c_str(), &data);
    ASSERT_NE(search, Win32::INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "only.olm");
    for (int i = 0; i < 2; ++i) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::FindNextFileA(search, &data));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorNoMoreFiles);
    }
    EXPECT_TRUE(Win32::FindClose(search));
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::FindClose(search));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
}

TEST(PlatformFind, SearchCallsRefuseHandlesOfAnotherKind)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    Win32::WIN32_FIND_DATAA data{};
    for (Win32::HANDLE bad : {event.get(), Win32::INVALID_HANDLE_VALUE}) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::FindNextFileA(bad, &data));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::FindClose(bad));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
    EXPECT_TRUE(Win32::SetEvent(event.get()));  // still a live event
}

TEST(PlatformFind, SizesFillBothHalves)
{
    TempDir dir;
    dir.Write("small.bin", "12345");
    dir.Write("empty.bin", "");
    MakeSparseFile(dir / "huge.bin", (std::uint64_t{1} << 32) + 3);
    dir.Write("sub/inner.bin", "x");
    std::vector<Found> found = FindAll(dir / "*");
    for (const char* name : {"small.bin", "empty.bin", "huge.bin", "sub"}) ASSERT_NE(Entry(found, name), nullptr) << name;
    EXPECT_EQ(Entry(found, "small.bin")->size, 5u);
    EXPECT_EQ(Entry(found, "empty.bin")->size, 0u);
    EXPECT_EQ(Entry(found, "huge.bin")->size, (std::uint64_t{1} << 32) + 3);
    EXPECT_EQ(Entry(found, "sub")->size, 0u);
}

TEST(PlatformFind, ReadOnlyFilesCarryTheReadOnlyAttribute)
{
    TempDir dir;
    dir.Write("writable.bin", "x");
    std::string locked = dir.Write("locked.bin", "x");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::vector<Found> found = FindAll(dir / "*.bin");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NE(Entry(found, "locked.bin")->attributes & Win32::FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(Entry(found, "writable.bin")->attributes & Win32::FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(PlatformFind, DirectoryPartMayUseBackslashesAndAnyCase)
{
    TempDir dir;
    dir.Write("Content/Data/x.olm", "x");
    dir.Write("Content/Data/y.txt", "x");
    EXPECT_EQ(Names(FindAll(Backslashed(dir / "CONTENT/data/*.OLM"))), (Strings{"x.olm"}));
    EXPECT_EQ(Names(FindAll(dir / "content\\DATA\\*")), (Strings{".", "..", "x.olm", "y.txt"}));
    EXPECT_EQ(Names(FindAll(dir / "cOnTeNt\\\\Data/x.OLM")), (Strings{"x.olm"}));
}

TEST(PlatformFind, PatternWithoutDirectorySearchesTheCurrentDirectory)
{
    TempDir dir;
    dir.Write("here.olm", "x");
    dir.Write("Sub/there.olm", "x");
    ScopedCurrentDirectory current(dir.Path());
    EXPECT_EQ(Names(FindAll("*.olm")), (Strings{"here.olm"}));
    EXPECT_EQ(Names(FindAll("SUB\\*.olm")), (Strings{"there.olm"}));
}

TEST(PlatformFind, FindFirstFileExIgnoresTheDirectoriesOnlyHint)
{
    TempDir dir;
    dir.Write("b.olm", "bb");
    dir.Write("a.olm", "a");
    dir.Write("dir.olm/x", "x");
    const std::vector<Found> plain = FindAll(dir / "*.olm");
    for (Win32::FINDEX_INFO_LEVELS level : {Win32::FindExInfoStandard, Win32::FindExInfoBasic}) {
        Win32::WIN32_FIND_DATAA data{};
        Win32::HANDLE search = Win32::FindFirstFileExA((dir / "*.olm").c_str(), level, &data,
                                                       Win32::FindExSearchLimitToDirectories, nullptr, 0);
        ASSERT_NE(search, Win32::INVALID_HANDLE_VALUE);
        std::vector<Found> found;
        do {
            found.push_back({data.cFileName, data.dwFileAttributes, data.nFileSizeLow});
        } while (Win32::FindNextFileA(search, &data));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorNoMoreFiles);
        EXPECT_TRUE(Win32::FindClose(search));
        ASSERT_EQ(Names(found), Names(plain));
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].attributes, plain[i].attributes) << found[i].name;
            EXPECT_EQ(found[i].size, plain[i].size) << found[i].name;
        }
    }
    Win32::WIN32_FIND_DATAA data{};
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::FindFirstFileExA((dir / "nowhere\\*").c_str(), Win32::FindExInfoStandard, &data,
                                      Win32::FindExSearchLimitToDirectories, nullptr, 0),
              Win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorPathNotFound);
}
