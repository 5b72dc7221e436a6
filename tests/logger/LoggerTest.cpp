#include <cstring>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/Report.h"
#include "logger/CategoryTable.h"
#include "logger/Log.h"
#include "logger/LogFormat.h"
#include "logger/LogManager.h"
#include "logger/LogTable.h"
#include "logger/LogTarget.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"

using namespace Tarn::Logger;
using TarnTest::LogCapture;

namespace {

const LogFunctionTable& BuiltIn() { return *BuiltInLogTable(); }

// Each test starts with a freshly created built-in log manager and ends by destroying it.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuiltIn().AddReference();
        BuiltIn().ReleaseReference();  // destroys whatever an earlier test left behind
        BuiltIn().AddReference();
        Win32::gCalls.OutputDebugStringA = [](Win32::LPCSTR text) {
            std::lock_guard<std::mutex> guard(DebuggerMutex());
            DebuggerLines().push_back(text);
        };
        DebuggerLines().clear();
    }
    void TearDown() override { BuiltIn().ReleaseReference(); }

    static std::mutex& DebuggerMutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& DebuggerLines()
    {
        static std::vector<std::string> lines;
        return lines;
    }

    static std::string StderrOf(void (*emit)())
    {
        ::testing::internal::CaptureStderr();
        emit();
        return ::testing::internal::GetCapturedStderr();
    }

    TarnTest::ScopedCalls mCalls;
};

// A target that keeps every record it receives.
class RecordingTarget : public LogTarget {
public:
    RecordingTarget() : LogTarget(&mSettings) { mSettings.name = "RecordingTarget"; }
    bool Write(const LogRecord& record) override
    {
        records.push_back({record.severity, record.message});
        return true;
    }
    std::vector<std::pair<int, std::string>> records;

private:
    LogTargetSettings mSettings;
};

LogRecord MakeRecord(int32_t severity, uint32_t tags, const char* message)
{
    LogRecord record{};
    record.time = {2024, 3, 5, 7, 8, 9, 45};
    record.severity = severity;
    record.tagsLow = tags;
    record.message = message;
    return record;
}

std::string Line(const char* format, const LogRecord& record, uint32_t size = 8192)
{
    std::vector<char> out(size + 1, '\x7F');
    FormatLine(out.data(), size, format, &record);
    EXPECT_EQ(out[size], '\x7F') << "wrote past the given size";
    return out.data();
}

}  // namespace

TEST_F(LoggerTest, DefaultThresholdDropsInformationAndExtraTaggedMessages)
{
    std::string err = StderrOf([] {
        LogMessage(kSeverityOkay, 1, 0, "%s", "okay message");
        LogMessage(kSeverityError, 1 | 4, 0, "%s", "extra tagged error");
        LogMessage(kSeverityError, 1, 0, "%s", "plain error");
    });
    EXPECT_EQ(err.find("okay message"), std::string::npos);
    EXPECT_EQ(err.find("extra tagged error"), std::string::npos);
    std::regex line("vell_unit_tests\\(0x[0-9a-f]+\\):  ERROR\\| plain error\n");
    EXPECT_TRUE(std::regex_match(err, line)) << err;
    ASSERT_EQ(DebuggerLines().size(), 1u);
    EXPECT_TRUE(std::regex_match(DebuggerLines()[0], line)) << DebuggerLines()[0];
}

TEST_F(LoggerTest, ConsoleTargetsFilterByTheirTags)
{
    std::string err = StderrOf([] {
        LogMessage(kSeverityWarn, 2, 0, "%s", "general warning");  // stderr excludes GEN; debugger includes only DBG
        LogMessage(kSeverityWarn, 0, 0, "%s", "untagged warning");  // no tags pass every tag test
    });
    EXPECT_EQ(err.find("general warning"), std::string::npos);
    EXPECT_NE(err.find("  WARN| untagged warning\n"), std::string::npos);
    ASSERT_EQ(DebuggerLines().size(), 1u);
    EXPECT_NE(DebuggerLines()[0].find("untagged warning"), std::string::npos);

    // The standard-output target, once enabled, takes GEN and refuses DBG.
    ITarnLogTarget* out = BuiltIn().GetStdOutTarget();
    out->Enable(out);
    ::testing::internal::CaptureStdout();
    LogMessage(kSeverityWarn, 2, 0, "%s", "to stdout");
    LogMessage(kSeverityWarn, 1, 0, "%s", "not to stdout");
    std::string stdoutText = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(stdoutText, "to stdout\n");
}

TEST_F(LoggerTest, LevelChangeNoticeIsWrittenAtAlwaysWithOneNewline)
{
    std::string err = StderrOf([] { BuiltIn().SetGlobalLevel(2); });
    EXPECT_TRUE(std::regex_match(err, std::regex(".*\\): ALWAYS\\| Global logging level set to  ERROR\n"))) << err;
    EXPECT_EQ(BuiltIn().GetGlobalLevel(), 2);
    err = StderrOf([] { LogMessage(kSeverityWarn, 1, 0, "%s", "now below the threshold"); });
    EXPECT_EQ(err, "");
}

TEST_F(LoggerTest, GlobalSwitchesAndExcludeMask)
{
    EXPECT_EQ(BuiltIn().GetGlobalExcludeTags(), 4u);
    BuiltIn().SetGlobalExcludeTags(0, 1);  // bit 32
    EXPECT_EQ(BuiltIn().GetGlobalExcludeTags(), uint64_t{1} << 32);
    std::string err = StderrOf([] { LogMessage(kSeverityError, 1, 1, "%s", "high bit excluded"); });
    EXPECT_EQ(err, "");
    err = StderrOf([] { LogMessage(kSeverityError, 4 | 1, 0, "%s", "extra allowed now"); });
    EXPECT_NE(err.find("extra allowed now"), std::string::npos);

    BuiltIn().DisableLogging();
    err = StderrOf([] { LogMessage(kSeverityAlways, 1, 0, "%s", "disabled"); });
    EXPECT_EQ(err, "");
    BuiltIn().EnableLogging();
    err = StderrOf([] { LogMessage(kSeverityAlways, 1, 0, "%s", "enabled"); });
    EXPECT_NE(err.find("enabled"), std::string::npos);
}

TEST_F(LoggerTest, LongMessagesAreCutTo8191Characters)
{
    RecordingTarget target;
    target.Interface()->Enable(target.Interface());
    std::string longText(10000, 'x');
    LogMessage(kSeverityError, 1, 0, "%s", longText.c_str());
    ASSERT_EQ(target.records.size(), 1u);
    EXPECT_EQ(target.records[0].second, std::string(8191, 'x'));
}

TEST_F(LoggerTest, TargetsRegisterOnceAndAreFoundByName)
{
    RecordingTarget target;
    ITarnLogTarget* face = target.Interface();
    EXPECT_FALSE(face->IsEnabled(face));
    face->Disable(face);  // unregistered: nothing happens
    face->Enable(face);
    face->Enable(face);
    EXPECT_TRUE(face->IsEnabled(face));
    EXPECT_EQ(BuiltIn().FindTarget("RecordingTarget"), face);
    EXPECT_EQ(BuiltIn().FindTarget("recordingtarget"), nullptr);
    LogMessage(kSeverityError, 1, 0, "once");
    EXPECT_EQ(target.records.size(), 1u);

    face->SetTags(face, 3, 1);
    EXPECT_EQ(face->GetIncludeTags(face), 2u);
    EXPECT_EQ(face->GetExcludeTags(face), 1u);
    face->SetLevel(face, 3);
    EXPECT_EQ(face->GetLevel(face), 3);
    EXPECT_EQ(face->GetInterfaceVersion(face), 1);
    EXPECT_STREQ(face->GetFormat(face), "#D| #L| #G| #M");
}

TEST_F(LoggerTest, RemoveTargetRemovesEveryOccurrence)
{
    RecordingTarget target;
    ITarnLogTarget* face = target.Interface();
    BuiltIn().AddTarget(face);
    BuiltIn().AddTarget(face);
    LogMessage(kSeverityError, 1, 0, "twice");
    EXPECT_EQ(target.records.size(), 2u);
    BuiltIn().RemoveTarget(face);
    LogMessage(kSeverityError, 1, 0, "never");
    EXPECT_EQ(target.records.size(), 2u);
}

TEST_F(LoggerTest, ReleasingTheLastReferenceDisablesTargetsAndResetsTheDefaults)
{
    RecordingTarget target;
    target.Interface()->Enable(target.Interface());
    BuiltIn().SetGlobalLevel(3);
    BuiltIn().ReleaseReference();
    EXPECT_EQ(LogManager::Instance(), nullptr);
    EXPECT_FALSE(target.IsEnabled());
    BuiltIn().ReleaseReference();  // unbalanced: ignored
    BuiltIn().AddReference();
    EXPECT_EQ(BuiltIn().GetGlobalLevel(), 1);
    EXPECT_EQ(BuiltIn().FindTarget("RecordingTarget"), nullptr);
    EXPECT_EQ(BuiltIn().FindTarget("StdErrLogTarget"), BuiltIn().GetStdErrTarget());
    EXPECT_EQ(BuiltIn().FindTarget("DebuggerConsoleLogTarget"), BuiltIn().GetDebuggerConsoleTarget());
    EXPECT_EQ(BuiltIn().FindTarget("StdOutLogTarget"), nullptr);
}

TEST_F(LoggerTest, FoundationReportsBecomeMessagesOnceTheManagerExists)
{
    LogCapture log;
    Tarn::ReportError("report text");
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, 1, "report text"));
}

TEST_F(LoggerTest, HostTableReceivesTheCategoryAndEveryMessage)
{
    LogCapture log;
    EXPECT_EQ(log.RegisteredCodes(), std::vector<std::string>{"VEL"});
    LogError("%s: error %d", "Tarn::Fn", 1);
    LogWarning("%s: warning", "Tarn::Fn");
    LogInfo("%s: info", "Tarn::Fn");
    LogTrace("%s: (%s)", "Tarn::Fn", "arg");
    LogErrorTagOnly("%s: tag only", "Tarn::Fn");
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, LogCapture::kErrorTags, "Tarn::Fn: error 1"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityWarn, LogCapture::kErrorTags, "Tarn::Fn: warning"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityOkay, LogCapture::kInfoTags, "Tarn::Fn: info"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityOkay, LogCapture::kTraceTags, "Tarn::Fn: (arg)"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, 1, "Tarn::Fn: tag only"));
}

TEST(LogCategories, RegisterFindsOrAddsByTheFirstThreeCharacters)
{
    uint64_t stored = 0;
    uint64_t vel = RegisterCategory(&stored, "VEL");
    EXPECT_EQ(vel, stored);
    EXPECT_EQ(RegisterCategory(nullptr, "VEL"), vel);
    EXPECT_EQ(RegisterCategory(nullptr, "VELOCITY"), vel);
    EXPECT_EQ(RegisterCategory(nullptr, "DBG"), 1u);
    EXPECT_EQ(RegisterCategory(nullptr, "TST"), 0x80u);

    char tags[64];
    FormatTags(tags, sizeof(tags), static_cast<uint32_t>(vel | 1), static_cast<uint32_t>(vel >> 32));
    EXPECT_STREQ(tags, "DBG;VEL");

    // Filling the table: beyond 64 codes the mask is 0 and nothing is written out of place.
    uint64_t last = 1;
    for (int i = 0; i < 70; ++i) {
        char code[4] = {'Q', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26), 0};
        last = RegisterCategory(nullptr, code);
    }
    EXPECT_EQ(last, 0u);
    EXPECT_EQ(RegisterCategory(nullptr, "VEL"), vel);
}

TEST(LogFormat, FormatTagsJoinsCodesAndCutsSafely)
{
    char tags[64];
    FormatTags(tags, sizeof(tags), 0, 0);
    EXPECT_STREQ(tags, "");
    FormatTags(tags, sizeof(tags), 7, 0);
    EXPECT_STREQ(tags, "DBG;GEN;XTR");
    FormatTags(tags, 1, 7, 0);
    EXPECT_STREQ(tags, "");
    char small[6] = "zzzzz";
    FormatTags(small, sizeof(small), 3, 0);
    EXPECT_STREQ(small, "DBG;G");
}

TEST(LogFormat, FormatLineExpandsEveryCode)
{
    LogRecord record = MakeRecord(kSeverityError, 1, "x");
    EXPECT_EQ(Line("#D| #L| #G| #M", record), "2024-03-05T07:08:09.045|  ERROR| DBG| x\n");
    EXPECT_EQ(Line("", record), "\n");
    EXPECT_EQ(Line("100##", record), "100#\n");
    EXPECT_EQ(Line("#%#M", record), "%x\n");
    EXPECT_EQ(Line("abc#", record), "abc\n");  // a lone trailing '#' expands to nothing
    EXPECT_TRUE(std::regex_match(Line("#T", record), std::regex("0x[0-9a-f]+\n")));
    EXPECT_TRUE(std::regex_match(Line("#H", record), std::regex("\\d{6}\\.\\d{3}\\| +\\d+\\.\\d{4}kb\\| +-?\\d+\\.-?\\d{4}kb added\n")))
        << Line("#H", record);

    LogRecord notice = MakeRecord(kSeverityAlways, 1, "Global logging level set to  ERROR\n");
    EXPECT_EQ(Line("#M", notice), "Global logging level set to  ERROR\n");

    LogRecord odd = MakeRecord(9, 0, nullptr);
    EXPECT_EQ(Line("#L|#M", odd), "     ?|\n");
}

TEST(LogFormat, FormatLineNeverExceedsItsSize)
{
    LogRecord record = MakeRecord(kSeverityError, 1, "a long message that will not fit");
    EXPECT_EQ(Line("abc", record, 2), "\n");
    EXPECT_EQ(Line("abc", record, 3), "\n");
    EXPECT_EQ(Line("abc", record, 4), "a\n");
    EXPECT_EQ(Line("#M", record, 10), "a long \n");
    EXPECT_EQ(Line("#D", record, 12), "2024-03-0\n");
    std::string longMessage(9000, 'm');
    record.message = longMessage.c_str();
    EXPECT_EQ(Line("#M", record), std::string(8189, 'm') + "\n");
}

TEST(LogFormat, TimesAndSeverityNames)
{
    LogTime time{2024, 3, 5, 7, 8, 9, 45};
    char text[32];
    EXPECT_EQ(FormatTime(text, sizeof(text), &time), 23);
    EXPECT_STREQ(text, "2024-03-05T07:08:09.045");
    EXPECT_EQ(FormatFileTime(text, sizeof(text), &time), 19);
    EXPECT_STREQ(text, "2024-03-05T07-08-09");
    EXPECT_LT(FormatTime(text, 5, &time), 0);
    EXPECT_STREQ(text, "2024");
    EXPECT_STREQ(GetSeverityName(0), "  OKAY");
    EXPECT_STREQ(GetSeverityName(1), "  WARN");
    EXPECT_STREQ(GetSeverityName(2), " ERROR");
    EXPECT_STREQ(GetSeverityName(3), "ALWAYS");
    EXPECT_STREQ(GetSeverityName(-1), "     ?");
    LogTime now{};
    CaptureTime(&now);
    EXPECT_GE(now.year, 2024u);
    EXPECT_LT(now.millisecond, 1000u);
}

TEST_F(LoggerTest, ConcurrentMessagesArriveWholeOnEachTarget)
{
    RecordingTarget target;
    target.Interface()->Enable(target.Interface());
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) LogMessage(kSeverityError, 1, 0, "thread %d message %d", t, i);
        });
    for (auto& thread : threads) thread.join();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(target.records.size(), 2000u);
}
