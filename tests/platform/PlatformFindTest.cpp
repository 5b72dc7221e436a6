// FindFirstFileA, FindFirstFileExA, FindNextFileA and FindClose.
#include "PlatformTestSupport.h"

using namespace PlatformTest;
using Strings = std::vector<std::string>;

// '*' and '?' match ignoring ASCII case, in the last component; the directory part may use
// '\' and any case, or be left out for the current directory.
TEST(PlatformFind, PatternsMatchNamesOrReportWhyNothingMatched)
{
    TempDir dir;
    for (const char* name : {"a.olm", "B.OLM", "c.OlM", "a.olm.dat", "olm", "aolm", "d.ol", "sub.olm/inner.olm"})
        dir.Write(std::string("ext/") + name, "x");
    for (const char* name : {"abc.olm", "aXc.olm", "ABC.OLM2", "ac.olm", "abbc.olm", "xbc.olm", "bc.olm"})
        dir.Write(std::string("Q/") + name, "x");
    dir.Write("here.olm", "x");
    fs::create_directory(dir.Path() / "empty");
    ScopedCurrentDirectory current(dir.Path());
    const Strings ext{"a.olm", "B.OLM", "c.OlM", "sub.olm"}, fileNotFound{"<error 2>"}, pathNotFound{"<error 3>"};
    const std::pair<std::string, Strings> cases[] = {
        {"ext/*.olm", ext}, {dir / "EXT\\*.OLM", ext}, {Backslashed(dir / "ext/*.oLm"), ext}, {"ext/b.olm", {"B.OLM"}},
        {"q\\a?c.olm", {"abc.olm", "aXc.olm"}}, {"Q/?BC.OLM", {"abc.olm", "xbc.olm"}}, {"q//a??c.*", {"abbc.olm"}},
        {"*.olm", {"here.olm"}}, {"ext/*.xyz", fileNotFound}, {"empty/*", {".", ".."}}, {"EMPTY\\?.olm", fileNotFound},
        {"nowhere/*", pathNotFound}, {"NOWHERE\\deeper\\*", pathNotFound}};
    for (const auto& [pattern, expected] : cases) EXPECT_EQ(Names(FindAll(pattern)), expected) << pattern;
}

// Where Windows decides by rules of its own, the POSIX layer decides plainly: ASCII letters
// only fold (Windows folds the letters of the ANSI code page), an extension of three letters
// never matches a longer one (Windows matches short names too: "*.olm" finds "x.olmx"), and a
// file in the directory part is a missing path.
TEST(PlatformFind, PosixLayerFoldsAsciiOnlyAndMatchesLongNamesOnly)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    TempDir dir;
    for (const char* name : {"a.olm", "x.olmx"}) dir.Write(std::string("ext/") + name, "x");
    dir.Write("hi/\xC3\xA9t\xC3\xA9.olm", "x");
    dir.Write("hi/caf\xE9.olm", "x");
    dir.Write("here.olm", "x");
    ScopedCurrentDirectory current(dir.Path());
    const Strings fileNotFound{"<error 2>"}, pathNotFound{"<error 3>"};
    const std::pair<std::string, Strings> cases[] = {
        {"ext/*.olm", {"a.olm"}}, {"hi/\xC3\xA9T*", {"\xC3\xA9t\xC3\xA9.olm"}}, {"HI\\CAF\xE9.*", {"caf\xE9.olm"}},
        {"hi/\xC3\x89*", fileNotFound}, {"hi/caf\xC9.*", fileNotFound},  // no folding outside ASCII
        {"here.olm/*", pathNotFound}, {"HERE.OLM\\*.olm", pathNotFound}};
    for (const auto& [pattern, expected] : cases) EXPECT_EQ(Names(FindAll(pattern)), expected) << pattern;
}

// The POSIX layer lists a directory as NTFS does, whatever the order on disk: upper-case
// folding puts '[' and '_' after the letters, unlike _stricmp's lower-case folding; names equal
// after folding (which cannot exist together on Windows) come in byte order.
TEST(PlatformFind, EntriesComeInUpperCaseFoldedOrderWhateverTheDiskOrder)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    const Strings expected{".", "..", "Alpha", "alpha2", "ALPHA3", "beta", "SAME", "SaMe", "Same", "sAmE", "same", "zeta", "[x]", "_under"};
    for (bool reverse : {false, true}) {
        TempDir dir;
        Strings create{"_under", "zeta", "same", "Same", "beta", "SaMe", "ALPHA3", "[x]", "SAME", "alpha2", "sAmE", "Alpha"};
        if (reverse) create = Strings(create.rbegin(), create.rend());
        for (const std::string& name : create) dir.Write(name, name);
        EXPECT_EQ(Names(FindAll(dir / "*")), expected) << "reverse " << reverse;
    }
}

TEST(PlatformFind, EntriesCarryAttributesAndBothHalvesOfTheSize)
{
    TempDir dir;
    dir.Write("small.bin", "12345");
    dir.Write("empty.bin", "");
    MakeSparseFile(dir / "huge.bin", k4GiB + 3);
    fs::permissions(dir.Write("locked.bin", "x"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    dir.Write("sub/inner.bin", "x");
    std::vector<Found> found = FindAll(dir / "*");
    // FindFirstFileExA gives the same entries at both levels and ignores the directories-only hint.
    for (int level : {Win32::FindExInfoStandard, Win32::FindExInfoBasic}) EXPECT_EQ(FindAll(dir / "*", level), found) << level;
    EXPECT_EQ(FindAll(dir / "nowhere\\*", Win32::FindExInfoStandard)[0].name, "<error 3>");
    const auto kDir = Win32::FILE_ATTRIBUTE_DIRECTORY, kReadOnly = Win32::FILE_ATTRIBUTE_READONLY;
    for (Found& f : found) f.attributes &= kDir | kReadOnly;
    EXPECT_EQ(found, (std::vector<Found>{{".", kDir, 0}, {"..", kDir, 0}, {"empty.bin", 0, 0}, {"huge.bin", 0, k4GiB + 3},
                                         {"locked.bin", kReadOnly, 1}, {"small.bin", 0, 5}, {"sub", kDir, 0}}));
}

TEST(PlatformFind, SearchesEndWithNoMoreFiles)
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
}

// Windows takes any value for a search handle and may crash on a wrong one; the POSIX layer
// refuses what it did not hand out.
TEST(PlatformFind, PosixLayerRefusesHandlesOfOtherKinds)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    TempDir dir;
    dir.Write("only.olm", "x");
    Win32::WIN32_FIND_DATAA data{};
    Win32::HANDLE search = Win32::FindFirstFileA((dir / "*.olm").c_str(), &data);
    ASSERT_NE(search, Win32::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Win32::FindClose(search));
    ScopedHandle event = Event(true);
    for (Win32::HANDLE bad : {search, event.get(), Win32::INVALID_HANDLE_VALUE}) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::FindClose(bad));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
        if (bad == search) continue;  // closed: no longer to be used at all
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::FindNextFileA(bad, &data));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
    EXPECT_TRUE(Win32::SetEvent(event.get()));  // still a live event
}
