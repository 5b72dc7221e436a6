// The foundation utilities: ASCII-case search, path joining, bounded string copies, the
// assertion report, the checked lock, the C-runtime open and the elapsed-time clock.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/CStd.h"
#include "CStd/CheckedMutex.h"
#include "CStd/ElapsedTime.h"
#include "CStd/PathJoin.h"
#include "CStd/Report.h"
#include "CStd/StdFile.h"
#include "support/TempDir.h"

using namespace Tarn;

namespace {

std::string gReported;

std::string Join(std::initializer_list<const char*> parts)
{
    char out[kMaxPath];
    return PathJoin(out, parts) ? out : "<failed>";
}

}  // namespace

TEST(FindNoCase, FindsTheFirstOccurrenceIgnoringAsciiCaseAndFindLastTheLastExactOne)
{
    const char* text = "a/Projects/b/PROJECTS/c";
    EXPECT_EQ(FindNoCase(text, "projects"), text + 2);
    EXPECT_EQ(FindNoCase(text, ""), text);
    EXPECT_EQ(FindNoCase(text, "missing"), nullptr);
    EXPECT_EQ(FindNoCase("ab", "abc"), nullptr);
    EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
    const char high[] = "\xC9t\xE9";
    EXPECT_EQ(FindNoCase(high, "\xE9"), high + 2);  // bytes above 0x7F are not folded
    const char* root = "D:/VELL/x/VELL/projects/VELL";
    EXPECT_EQ(FindLast(root, "VELL/"), root + 10);
    EXPECT_EQ(FindLast(root, "vell/"), nullptr);
    EXPECT_EQ(FindLast("ab", "abc"), nullptr);
    EXPECT_EQ(FindLast(nullptr, "a"), nullptr);
}

TEST(PathJoin, JoinsWithSingleSlashesAndRefusesWhatDoesNotFit)
{
    EXPECT_EQ(Join({"C:/a", "b\\c", "d.olm"}), "C:/a/b/c/d.olm");
    EXPECT_EQ(Join({"C:/a/", "b"}), "C:/a/b");
    EXPECT_EQ(Join({"root\\", "x"}), "root/x");  // a trailing backslash already separates
    EXPECT_EQ(Join({"x", "/y"}), "/y");
    EXPECT_EQ(Join({"C:/a", "D:/b"}), "D:/b");
    EXPECT_EQ(Join({"a", nullptr, "", "b"}), "a/b");
    EXPECT_EQ(Join({}), "");
    const std::string exact(259, 'x'), head(257, 'h');  // 257 + '/' + 1 = 259 characters
    EXPECT_EQ(Join({exact.c_str()}), exact);
    EXPECT_EQ(Join({(exact + "x").c_str()}), "<failed>");
    EXPECT_EQ(Join({head.c_str(), "t"}), head + "/t");
    EXPECT_EQ(Join({head.c_str(), "tt"}), "<failed>");
    EXPECT_EQ(Join({std::string(250, 'd').c_str(), std::string(20, 'n').c_str()}), "<failed>");
    EXPECT_EQ(Join({"1", "2", "3", "4", "5", "6", "7", "8", "9"}), "<failed>");
    char buffer[kMaxPath] = "base\\dir";  // the destination may only be the first component
    ASSERT_TRUE(PathJoin(buffer, {buffer, "file"}));
    EXPECT_STREQ(buffer, "base/dir/file");
    EXPECT_FALSE(PathJoin(buffer, {"x", buffer}));
}

TEST(StringCopies, CopyTruncateRefuseAndFormatBounded)
{
    char small[4];
    EXPECT_EQ(std_strncpy(small, sizeof(small), "abcdef", TRUNCATE), kCopyTruncated);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(std_strncpy(small, sizeof(small), "abcdef", 2), kCopyOk);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(std_strncpy(small, sizeof(small), "ab", TRUNCATE), kCopyOk);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(std_strcpy(small, sizeof(small), "abcd"), kCopyTooLong);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(std_strcpy(small, sizeof(small), "abc"), kCopyOk);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(std_strnlen("abcdef", 3), 3u);
    EXPECT_EQ(std_strnlen("ab", 3), 2u);
    char out[6];
    EXPECT_EQ(FormatBounded(out, sizeof(out), "%s", "abc"), 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_LT(FormatBounded(out, sizeof(out), "%d", 1234567), 0);
    EXPECT_STREQ(out, "12345");
}

// In the child the report goes to stderr, where the death test reads it.
TEST(CStdDeathTest, BrokenPreconditionsStopTheProcessWithTheAssertionReport)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto toStderr = [] { SetReportHandlers(nullptr, nullptr, [](const char* text) { std::fputs(text, stderr); }); };
    char buffer[4];
    EXPECT_DEATH((toStderr(), std_strncpy(nullptr, 4, "x", TRUNCATE)),
                 "Assertion failed!\n\nFile: CStd\nLine: 249\n\nFunction: Tarn::std_strncpy\n\nExpression: pDest");
    EXPECT_DEATH((toStderr(), std_strncpy(buffer, 4, "abcdef", 4)),
                 "Line: 253\n\nFunction: Tarn::std_strncpy\n\nExpression: count != TRUNCATE \\? count < num : true\n\n"
                 "Description: String operation causes truncation.");
    EXPECT_DEATH((toStderr(), std_strnlen(nullptr, 3)), "Line: 102\n\nFunction: Tarn::std_strnlen\n\nExpression: pStr");
    EXPECT_DEATH(
        {
            toStderr();
            CheckedMutex mutex(false);
            mutex.Lock();
            mutex.Lock();
        },
        "Assertion failed!");
    EXPECT_DEATH((toStderr(), CheckedMutex(false).Unlock()), "Assertion failed!");
}

TEST(CheckedMutex, RecursiveKindMayBeLockedAgainByItsOwnerAndEveryKindExcludes)
{
    CheckedMutex mutex(true);
    mutex.Lock();
    mutex.Lock();
    mutex.Unlock();
    mutex.Unlock();
    CheckedMutex plain(false);
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                ScopedLock lock(plain);
                ++counter;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 40000);
}

TEST(StdFopen, ReportsAFailedOpenOnce)
{
    SetReportHandlers(nullptr, nullptr, [](const char* text) { gReported += text; });
    TarnSupport::TempDir dir;
    std::string missing = dir / "missing.txt";
    gReported.clear();
    EXPECT_EQ(std_fopen(missing.c_str(), "rb"), nullptr);
    EXPECT_EQ(gReported, "std_fopen failed: pFile = 0x00000000; pMode = rb; errno = 2; pFilename = " + missing +
                             "; msg = No such file or directory;");
    gReported.clear();
    std::FILE* stream = std_fopen(dir.Write("present.txt", "x").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_EQ(gReported, "");
    EXPECT_EQ(std_fopen(nullptr, nullptr), nullptr);
    EXPECT_EQ(gReported, "std_fopen failed: pFile = 0x00000000; pMode = NULL; errno = 22; pFilename = NULL; msg = Invalid argument;");
    SetReportHandlers(nullptr, nullptr, nullptr);
}

TEST(ElapsedSeconds, NeverDecreases)
{
    double previous = ElapsedSeconds();
    EXPECT_GE(previous, 0.0);
    for (int i = 0; i < 1000; ++i, previous = ElapsedSeconds()) ASSERT_GE(ElapsedSeconds(), previous);
}
