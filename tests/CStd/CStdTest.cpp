#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/CStd.h"
#include "CStd/CheckedMutex.h"
#include "CStd/ElapsedTime.h"
#include "CStd/PathJoin.h"
#include "CStd/Report.h"
#include "CStd/StdFile.h"
#include "CStd/WildcardMatch.h"
#include "support/TempDir.h"

using namespace Tarn;

namespace {

std::string gReported;
void RecordReport(const char* text) { gReported += text; }
void ReportToStderr(const char* text) { std::fputs(text, stderr); }

struct ReportRecorder {
    ReportRecorder()
    {
        gReported.clear();
        SetReportHandlers(nullptr, nullptr, RecordReport);
    }
    ~ReportRecorder() { SetReportHandlers(nullptr, nullptr, nullptr); }
};

std::string Join(std::initializer_list<const char*> parts, bool* ok = nullptr)
{
    char out[kMaxPath];
    bool result = PathJoin(out, parts);
    if (ok) *ok = result;
    return result ? out : "<failed>";
}

}  // namespace

TEST(WildcardMatch, FollowsTheNonBacktrackingRules)
{
    EXPECT_TRUE(WildcardMatch("DATA/Foo.OLM", "data/*.olm"));
    EXPECT_FALSE(WildcardMatch("a.olm.dat", "*.olm"));
    EXPECT_FALSE(WildcardMatch("fo", "f?o"));
    EXPECT_TRUE(WildcardMatch("", "*"));
    EXPECT_FALSE(WildcardMatch("x", ""));
    EXPECT_TRUE(WildcardMatch("", ""));
    EXPECT_TRUE(WildcardMatch("a.dds", "*.dds"));
    EXPECT_FALSE(WildcardMatch("a.dds.dds", "*.dds"));   // the first ".dds" is taken for good
    EXPECT_FALSE(WildcardMatch("a.txt.a.txt", "*a.txt"));
    EXPECT_TRUE(WildcardMatch("any/thing\\at all", "*"));
    EXPECT_TRUE(WildcardMatch("abc", "a*"));
    EXPECT_TRUE(WildcardMatch("abcd", "?b*d"));
    EXPECT_TRUE(WildcardMatch("ABCD", "a?c?"));
    EXPECT_FALSE(WildcardMatch("abc", "a?c?"));
    EXPECT_TRUE(WildcardMatch("xaYb", "*a*b"));
    EXPECT_FALSE(WildcardMatch(nullptr, "*"));
    EXPECT_FALSE(WildcardMatch("a", nullptr));
}

TEST(WildcardMatch, GivesTheSameAnswersOnManyThreadsAtOnce)
{
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&wrong, t] {
            std::string name = "File" + std::to_string(t) + ".DDS";
            for (int i = 0; i < 20000; ++i)
                if (!WildcardMatch(name.c_str(), "file*.dds") || WildcardMatch(name.c_str(), "*.dds.x")) ++wrong;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(FindNoCase, FindsTheFirstOccurrenceIgnoringAsciiCase)
{
    const char* text = "a/Projects/b/PROJECTS/c";
    EXPECT_EQ(FindNoCase(text, "projects"), text + 2);
    EXPECT_EQ(FindNoCase(text, ""), text);
    EXPECT_EQ(FindNoCase(text, "missing"), nullptr);
    EXPECT_EQ(FindNoCase("ab", "abc"), nullptr);
    EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
    const char high[] = "\xC9t\xE9";
    EXPECT_EQ(FindNoCase(high, "\xE9"), high + 2);  // bytes above 0x7F are not folded
}

TEST(FindLast, FindsTheLastCaseSensitiveOccurrence)
{
    const char* text = "a/projects/b/projects/c";
    EXPECT_EQ(FindLast(text, "projects"), text + 13);
    EXPECT_EQ(FindLast(text, "PROJECTS"), nullptr);
    EXPECT_EQ(FindLast("ab", "abc"), nullptr);
    EXPECT_EQ(FindLast(nullptr, "a"), nullptr);
    const char* root = "D:/VELL/x/VELL/projects";
    EXPECT_EQ(FindLast(root, "VELL/"), root + 10);
}

TEST(PathJoin, JoinsWithSingleSlashes)
{
    EXPECT_EQ(Join({"C:/a", "b\\c", "d.olm"}), "C:/a/b/c/d.olm");
    EXPECT_EQ(Join({"C:/a/", "b"}), "C:/a/b");
    EXPECT_EQ(Join({"x", "/y"}), "/y");
    EXPECT_EQ(Join({"C:/a", "D:/b"}), "D:/b");
    EXPECT_EQ(Join({"a", nullptr, "", "b"}), "a/b");
    EXPECT_EQ(Join({}), "");
    EXPECT_EQ(Join({"root\\", "x"}), "root/x");  // a trailing backslash already separates
}

TEST(PathJoin, RefusesWhatDoesNotFit)
{
    std::string dir(250, 'd'), name(20, 'n');
    bool ok = true;
    Join({dir.c_str(), name.c_str()}, &ok);
    EXPECT_FALSE(ok);

    std::string exact(259, 'x');
    EXPECT_EQ(Join({exact.c_str()}), exact);
    std::string tooLong(260, 'x');
    Join({tooLong.c_str()}, &ok);
    EXPECT_FALSE(ok);

    std::string head(257, 'h');  // 257 + '/' + 1 = 259 characters
    EXPECT_EQ(Join({head.c_str(), "t"}), head + "/t");
    Join({head.c_str(), "tt"}, &ok);
    EXPECT_FALSE(ok);

    Join({"1", "2", "3", "4", "5", "6", "7", "8", "9"}, &ok);
    EXPECT_FALSE(ok);
}

TEST(PathJoin, AcceptsTheDestinationOnlyAsFirstComponent)
{
    char buffer[kMaxPath] = "base\\dir";
    ASSERT_TRUE(PathJoin(buffer, {buffer, "file"}));
    EXPECT_STREQ(buffer, "base/dir/file");
    EXPECT_FALSE(PathJoin(buffer, {"x", buffer}));
}

TEST(StringCopies, CopyTruncateAndRefuse)
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
}

TEST(FormatBounded, CutsAndTerminates)
{
    char out[6];
    EXPECT_EQ(FormatBounded(out, sizeof(out), "%s", "abc"), 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_LT(FormatBounded(out, sizeof(out), "%d", 1234567), 0);
    EXPECT_STREQ(out, "12345");
}

using CStdDeathTest = ::testing::Test;

TEST_F(CStdDeathTest, BrokenStringPreconditionsStopTheProcessWithTheAssertionReport)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char buffer[4];
    EXPECT_DEATH(
        {
            SetReportHandlers(nullptr, nullptr, ReportToStderr);
            std_strncpy(nullptr, 4, "x", TRUNCATE);
        },
        "Assertion failed!\n\nFile: CStd\nLine: 249\n\nFunction: Tarn::std_strncpy\n\nExpression: pDest");
    EXPECT_DEATH(
        {
            SetReportHandlers(nullptr, nullptr, ReportToStderr);
            std_strncpy(buffer, 4, "abcdef", 4);
        },
        "Line: 253.*Expression: count != TRUNCATE \\? count < num : true\n\nDescription: String operation causes truncation.");
    EXPECT_DEATH(
        {
            SetReportHandlers(nullptr, nullptr, ReportToStderr);
            std_strnlen(nullptr, 3);
        },
        "Line: 102.*Function: Tarn::std_strnlen.*Expression: pStr");
}

TEST_F(CStdDeathTest, NonRecursiveMutexStopsOnMisuse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SetReportHandlers(nullptr, nullptr, ReportToStderr);
            CheckedMutex mutex(false);
            mutex.Lock();
            mutex.Lock();
        },
        "Assertion failed!");
    EXPECT_DEATH(
        {
            SetReportHandlers(nullptr, nullptr, ReportToStderr);
            CheckedMutex mutex(false);
            mutex.Unlock();
        },
        "Assertion failed!");
}

TEST(CheckedMutex, RecursiveKindMayBeLockedAgainByItsOwner)
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

TEST(StdFopen, ReportsAMissingFileOnce)
{
    ReportRecorder recorder;
    TarnTest::TempDir dir;
    std::string missing = dir / "missing.txt";
    EXPECT_EQ(std_fopen(missing.c_str(), "rb"), nullptr);
    EXPECT_EQ(gReported, "std_fopen failed: pFile = 0x00000000; pMode = rb; errno = 2; pFilename = " + missing +
                             "; msg = No such file or directory;");

    gReported.clear();
    std::string present = dir.Write("present.txt", "x");
    std::FILE* stream = std_fopen(present.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_EQ(gReported, "");

    EXPECT_EQ(std_fopen(nullptr, nullptr), nullptr);
    EXPECT_NE(gReported.find("pMode = NULL; errno = 22; pFilename = NULL; msg = Invalid argument;"), std::string::npos);
}

TEST(ElapsedSeconds, NeverDecreases)
{
    double previous = ElapsedSeconds();
    EXPECT_GE(previous, 0.0);
    for (int i = 0; i < 1000; ++i) {
        double now = ElapsedSeconds();
        EXPECT_GE(now, previous);
        previous = now;
    }
}
