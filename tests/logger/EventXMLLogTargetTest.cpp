// The XML event target: records that pass the built-in filters reach the host's native
// callback as one small XML document each, exactly as documented in TarnVellIO.h.
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "logger/Log.h"
#include "logger/LogTable.h"
#include "support/PlatformFaults.h"

using namespace Tarn::Logger;

namespace {

std::mutex gMutex;
std::vector<std::string> gDocuments;
std::vector<std::string> gDebuggerLines;

std::int32_t VELL_CALL Collect(const char* document)
{
    std::lock_guard<std::mutex> guard(gMutex);
    gDocuments.push_back(document);
    return 1;
}

void CollectDebuggerLine(Win32::LPCSTR text)
{
    std::lock_guard<std::mutex> guard(gMutex);
    gDebuggerLines.push_back(text);
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
        std::lock_guard<std::mutex> guard(gMutex);
        gDocuments.clear();
        gDebuggerLines.clear();
    }
    void TearDown() override { RegisterNativeEventCallback(nullptr); }
    static std::vector<std::string> Documents()
    {
        std::lock_guard<std::mutex> guard(gMutex);
        return gDocuments;
    }
};

}  // namespace

TEST_F(XmlEventTarget, DeliversTheExactDocumentOfARecord)
{
    LogMessage(kSeverityError, 1, 0, "%s: %s", "f", "x");
    EXPECT_EQ(Documents(), std::vector<std::string>{Document(" ERROR", "DBG", "f: x\n")});

    // A message that ends with a newline gets no second one; several tags are joined by ';'.
    LogMessage(kSeverityWarn, 3, 0, "%s\n", "two tags");
    LogMessage(kSeverityAlways, 0, 0, "no tags");
    const auto documents = Documents();
    ASSERT_EQ(documents.size(), 3u);
    EXPECT_EQ(documents[1], Document("  WARN", "DBG;GEN", "two tags\n"));
    EXPECT_EQ(documents[2], Document("ALWAYS", "", "no tags\n"));
}

TEST_F(XmlEventTarget, PassesMarkupCharactersAndLongMessagesThroughUnchanged)
{
    LogMessage(kSeverityError, 1, 0, "%s", "a<b & c>d \"q\" 'p'");
    // Far beyond one growth step of the document buffer.
    const std::string longText(7000, 'L');
    LogMessage(kSeverityError, 1, 0, "%s", longText.c_str());
    EXPECT_EQ(Documents(), (std::vector<std::string>{Document(" ERROR", "DBG", "a<b & c>d \"q\" 'p'\n"),
                                                     Document(" ERROR", "DBG", longText + "\n")}));
}

TEST_F(XmlEventTarget, RegistersOnceAndLeavesInformationOut)
{
    EnableEventXMLLogTarget();
    EnableEventXMLLogTarget();
    EXPECT_NE(BuiltInLogTable()->FindTarget("EventXMLLogTarget"), nullptr);

    LogMessage(kSeverityOkay, 2, 0, "%s", "information");
    LogMessage(kSeverityOkay, 1, 0, "%s", "trace");
    LogMessage(kSeverityWarn, 1, 0, "%s", "warning");
    EXPECT_EQ(Documents(), std::vector<std::string>{Document("  WARN", "DBG", "warning\n")});

    // The library's own refusals arrive the same way.
    EXPECT_EQ(VellGetFileSize(nullptr), -1);
    const auto documents = Documents();
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_EQ(documents[1], Document(" ERROR", "DBG", "VellGetFileSize: VELL cannot get the file size the handle is null.\n"));
}

TEST_F(XmlEventTarget, WithoutCallbackDeliversNothingWhileLoggingGoesOn)
{
    TarnTest::ScopedCalls calls;
    Win32::gCalls.OutputDebugStringA = CollectDebuggerLine;
    RegisterNativeEventCallback(nullptr);
    LogMessage(kSeverityError, 1, 0, "%s", "nobody listens");
    EXPECT_TRUE(Documents().empty());
    {
        std::lock_guard<std::mutex> guard(gMutex);
        ASSERT_EQ(gDebuggerLines.size(), 1u);
        EXPECT_NE(gDebuggerLines[0].find(" ERROR| nobody listens\n"), std::string::npos) << gDebuggerLines[0];
    }

    // A later callback receives what is logged from then on.
    RegisterNativeEventCallback(Collect);
    LogMessage(kSeverityError, 1, 0, "%s", "heard");
    EXPECT_EQ(Documents(), std::vector<std::string>{Document(" ERROR", "DBG", "heard\n")});
}
