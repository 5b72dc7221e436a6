// The XML event target: records that pass the built-in filters reach the host's native
// callback as one small XML document each, exactly as documented in TarnVellIO.h.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "logger/Log.h"
#include "logger/LogTable.h"
#include "support/PlatformFaults.h"

using namespace Tarn::Logger;

namespace {

std::vector<std::string> gDocuments, gDebuggerLines;

std::int32_t VELL_CALL Collect(const char* document)
{
    gDocuments.push_back(document);
    return 1;
}

std::string Document(const std::string& type, const std::string& tags, const std::string& messageLine)
{
    return "<?xml version=\"1.0\"?>\n<Event>\n   <Name>Log</Name>\n   <Params>\n      <Type>" + type + "</Type>\n      <Tags>" +
           tags + "</Tags>\n      <Message>" + messageLine + "</Message>\n   </Params>\n</Event>\n";
}

// Each test gets the target enabled, the callback installed and nothing collected yet; the
// callback is removed again at the end, since the target outlives the test.
class XmlEventTarget : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CurrentLogTable(), BuiltInLogTable()) << "these tests need the built-in log table";
        EnableEventXMLLogTarget();
        RegisterNativeEventCallback(Collect);
        gDocuments.clear();
        gDebuggerLines.clear();
    }
    void TearDown() override { RegisterNativeEventCallback(nullptr); }
};

}  // namespace

// One document per record that passes the filters (information is left out); a message that
// ends with a newline gets no second one, tags are joined by ';', markup and long messages
// pass unchanged, and the library's own refusals arrive the same way.
TEST_F(XmlEventTarget, DeliversTheExactDocumentOfEachRecord)
{
    EnableEventXMLLogTarget();  // registers once
    EnableEventXMLLogTarget();
    EXPECT_NE(BuiltInLogTable()->FindTarget("EventXMLLogTarget"), nullptr);
    const std::string longText(7000, 'L');  // far beyond one growth step of the document buffer
    LogMessage(kSeverityError, 1, 0, "%s: %s", "f", "x");
    LogMessage(kSeverityWarn, 3, 0, "%s\n", "two tags");
    LogMessage(kSeverityAlways, 0, 0, "no tags");
    LogMessage(kSeverityOkay, 2, 0, "%s", "information");
    LogMessage(kSeverityOkay, 1, 0, "%s", "trace");
    LogMessage(kSeverityError, 1, 0, "%s", "a<b & c>d \"q\" 'p'");
    LogMessage(kSeverityError, 1, 0, "%s", longText.c_str());
    EXPECT_EQ(VellGetFileSize(nullptr), -1);
    EXPECT_EQ(gDocuments, (std::vector<std::string>{
                               Document(" ERROR", "DBG", "f: x\n"), Document("  WARN", "DBG;GEN", "two tags\n"),
                               Document("ALWAYS", "", "no tags\n"), Document(" ERROR", "DBG", "a<b & c>d \"q\" 'p'\n"),
                               Document(" ERROR", "DBG", longText + "\n"),
                               Document(" ERROR", "DBG", "VellGetFileSize: VELL cannot get the file size the handle is null.\n")}));
}

TEST_F(XmlEventTarget, WithoutCallbackDeliversNothingWhileLoggingGoesOn)
{
    TarnTest::ScopedCalls calls;
    Win32::gCalls.OutputDebugStringA = [](Win32::LPCSTR text) { gDebuggerLines.push_back(text); };
    RegisterNativeEventCallback(nullptr);
    LogMessage(kSeverityError, 1, 0, "%s", "nobody listens");
    EXPECT_TRUE(gDocuments.empty());
    ASSERT_EQ(gDebuggerLines.size(), 1u);
    EXPECT_NE(gDebuggerLines[0].find(" ERROR| nobody listens\n"), std::string::npos) << gDebuggerLines[0];

    // A later callback receives what is logged from then on.
    RegisterNativeEventCallback(Collect);
    LogMessage(kSeverityError, 1, 0, "%s", "heard");
    EXPECT_EQ(gDocuments, std::vector<std::string>{Document(" ERROR", "DBG", "heard\n")});
}
