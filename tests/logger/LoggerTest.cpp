// The logger: console targets and their filters, global switches, target registration, the
// manager's lifetime, the host table, categories and the line and time formats.
#include <regex>
#include <string>
#include <tuple>
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

#include "LoggerTestSupport.h"

using namespace Tarn::Logger;
using TarnTest::LogCapture;
using namespace LoggerTesting;

namespace {

// A target that keeps every record it receives.
class RecordingTarget : public LogTarget {
public:
    RecordingTarget() : LogTarget(&mSettings) { mSettings.name = "RecordingTarget"; }
    bool Write(const LogRecord& record) override { records.emplace_back(record.message); return true; }
    std::vector<std::string> records;

private:
    LogTargetSettings mSettings;
};

LogRecord MakeRecord(int32_t severity, uint32_t tags, const char* message) { return {{2024, 3, 5, 7, 8, 9, 45}, severity, tags, 0, message}; }

std::string Line(const char* format, const LogRecord& record, uint32_t size = 8192)
{
    std::vector<char> out(size + 1, '\x7F');
    FormatLine(out.data(), size, format, &record);
    EXPECT_EQ(out[size], '\x7F') << "wrote past the given size";
    return out.data();
}

}  // namespace

// stderr takes DBG and refuses GEN, the debugger takes only DBG, stdout (once enabled) takes
// GEN and refuses DBG; untagged messages pass every tag test. The default threshold drops
// information, and the global exclude mask drops XTR.
TEST_F(LoggerTest, ConsoleTargetsFilterByLevelAndTags)
{
    std::string err = StderrOf([] {
        LogMessage(kSeverityOkay, 1, 0, "%s", "okay message");
        LogMessage(kSeverityError, 1 | 4, 0, "%s", "extra tagged error");
        LogMessage(kSeverityError, 1, 0, "%s", "plain error");
        LogMessage(kSeverityWarn, 2, 0, "%s", "general warning");
        LogMessage(kSeverityWarn, 0, 0, "%s", "untagged warning");
    });
    const std::string prefix = "vell_unit_tests(\\.exe)?\\(0x[0-9a-f]+\\): ";
    std::regex lines(prefix + " ERROR\\| plain error\n" + prefix + "  WARN\\| untagged warning\n");
    EXPECT_TRUE(std::regex_match(err, lines)) << err;
    ASSERT_EQ(gDebuggerLines.size(), 2u);
    EXPECT_TRUE(std::regex_match(gDebuggerLines[0] + gDebuggerLines[1], lines)) << gDebuggerLines[0] << gDebuggerLines[1];

    ITarnLogTarget* out = BuiltIn().GetStdOutTarget();
    out->Enable(out);
    ::testing::internal::CaptureStdout();
    LogMessage(kSeverityWarn, 2, 0, "%s", "to stdout");
    LogMessage(kSeverityWarn, 1, 0, "%s", "not to stdout");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "to stdout\n");
}

TEST_F(LoggerTest, GlobalLevelExcludeMaskAndSwitches)
{
    std::string err = StderrOf([] { BuiltIn().SetGlobalLevel(2); });
    EXPECT_TRUE(std::regex_match(err, std::regex(".*\\): ALWAYS\\| Global logging level set to  ERROR\n"))) << err;
    EXPECT_EQ(BuiltIn().GetGlobalLevel(), 2);
    EXPECT_EQ(StderrOf([] { LogMessage(kSeverityWarn, 1, 0, "%s", "now below the threshold"); }), "");

    EXPECT_EQ(BuiltIn().GetGlobalExcludeTags(), 4u);
    BuiltIn().SetGlobalExcludeTags(0, 1);  // bit 32
    EXPECT_EQ(BuiltIn().GetGlobalExcludeTags(), uint64_t{1} << 32);
    EXPECT_EQ(StderrOf([] { LogMessage(kSeverityError, 1, 1, "%s", "high bit excluded"); }), "");
    EXPECT_NE(StderrOf([] { LogMessage(kSeverityError, 4 | 1, 0, "%s", "extra allowed now"); }).find("extra allowed now"), std::string::npos);

    BuiltIn().DisableLogging();
    EXPECT_EQ(StderrOf([] { LogMessage(kSeverityAlways, 1, 0, "%s", "disabled"); }), "");
    BuiltIn().EnableLogging();
    EXPECT_NE(StderrOf([] { LogMessage(kSeverityAlways, 1, 0, "%s", "enabled"); }).find("enabled"), std::string::npos);
}

TEST_F(LoggerTest, TargetsRegisterOnceAreFoundByNameAndRemovedEverywhere)
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
    LogMessage(kSeverityError, 1, 0, "%s", std::string(10000, 'x').c_str());  // cut to 8191 characters
    EXPECT_EQ(target.records, std::vector<std::string>{std::string(8191, 'x')});

    BuiltIn().AddTarget(face);
    LogMessage(kSeverityError, 1, 0, "twice");
    EXPECT_EQ(target.records.size(), 3u);
    BuiltIn().RemoveTarget(face);
    LogMessage(kSeverityError, 1, 0, "never");
    EXPECT_EQ(target.records.size(), 3u);

    face->SetTags(face, 3, 1);
    EXPECT_EQ(face->GetIncludeTags(face), 2u);
    EXPECT_EQ(face->GetExcludeTags(face), 1u);
    face->SetLevel(face, 3);
    EXPECT_EQ(face->GetLevel(face), 3);
    EXPECT_EQ(face->GetInterfaceVersion(face), 1);
    EXPECT_STREQ(face->GetFormat(face), "#D| #L| #G| #M");
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

TEST_F(LoggerTest, HostTableReceivesTheCategoryEveryMessageAndFoundationReports)
{
    LogCapture log;
    EXPECT_EQ(log.RegisteredCodes(), std::vector<std::string>{"VEL"});
    LogError("%s: error %d", "Tarn::Fn", 1);
    LogWarning("%s: warning", "Tarn::Fn");
    LogInfo("%s: info", "Tarn::Fn");
    LogTrace("%s: (%s)", "Tarn::Fn", "arg");
    LogErrorTagOnly("%s: tag only", "Tarn::Fn");
    Tarn::ReportError("report text");
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, LogCapture::kErrorTags, "Tarn::Fn: error 1"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityWarn, LogCapture::kErrorTags, "Tarn::Fn: warning"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityOkay, LogCapture::kInfoTags, "Tarn::Fn: info"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityOkay, LogCapture::kTraceTags, "Tarn::Fn: (arg)"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, 1, "Tarn::Fn: tag only"));
    EXPECT_TRUE(TarnTest::Logged(log, kSeverityError, 1, "report text"));
}

TEST(LogCategories, RegisterFindsOrAddsByTheFirstThreeCharactersAndTagsNameThem)
{
    uint64_t stored = 0;
    uint64_t vel = RegisterCategory(&stored, "VEL");
    EXPECT_EQ(vel, stored);
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

    const std::tuple<uint32_t, uint32_t, const char*> cuts[] = {{64, 0, ""}, {64, 7, "DBG;GEN;XTR"}, {1, 7, ""}, {6, 3, "DBG;G"}};
    for (const auto& [size, mask, expected] : cuts) {
        char out[64] = "zzzzzzzz";
        FormatTags(out, size, mask, 0);
        EXPECT_STREQ(out, expected) << size << " " << mask;
    }
}

TEST(LogFormat, FormatLineExpandsEveryCodeAndNeverExceedsItsSize)
{
    const LogRecord record = MakeRecord(kSeverityError, 1, "a long message that will not fit");
    const std::tuple<const char*, uint32_t, std::string> cases[] = {
        {"#D| #L| #G| #M", 8192, "2024-03-05T07:08:09.045|  ERROR| DBG| a long message that will not fit\n"},
        {"", 8192, "\n"}, {"100##", 8192, "100#\n"}, {"#%#L", 8192, "% ERROR\n"},
        {"abc#", 8192, "abc\n"},  // a lone trailing '#' expands to nothing
        {"abc", 2, "\n"}, {"abc", 3, "\n"}, {"abc", 4, "a\n"}, {"#M", 10, "a long \n"}, {"#D", 12, "2024-03-0\n"}};
    for (const auto& [format, size, expected] : cases) EXPECT_EQ(Line(format, record, size), expected) << format << " " << size;
    EXPECT_TRUE(std::regex_match(Line("#T", record), std::regex("0x[0-9a-f]+\n")));
    EXPECT_TRUE(std::regex_match(Line("#H", record), std::regex("\\d{6}\\.\\d{3}\\| +\\d+\\.\\d{4}kb\\| +-?\\d+\\.-?\\d{4}kb added\n")))
        << Line("#H", record);
    // A message that ends with a newline gets no second one; an odd record still formats.
    EXPECT_EQ(Line("#M", MakeRecord(kSeverityAlways, 1, "Global logging level set to  ERROR\n")), "Global logging level set to  ERROR\n");
    EXPECT_EQ(Line("#L|#M", MakeRecord(9, 0, nullptr)), "     ?|\n");
    const std::string longMessage(9000, 'm');
    EXPECT_EQ(Line("#M", MakeRecord(kSeverityError, 1, longMessage.c_str())), std::string(8189, 'm') + "\n");
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
    const std::pair<int, const char*> names[] = {{0, "  OKAY"}, {1, "  WARN"}, {2, " ERROR"}, {3, "ALWAYS"}, {-1, "     ?"}, {4, "     ?"}};
    for (const auto& [severity, name] : names) EXPECT_STREQ(GetSeverityName(severity), name);
    LogTime now{};
    CaptureTime(&now);
    EXPECT_GE(now.year, 2024u);
    EXPECT_LT(now.millisecond, 1000u);
}
