// The capturing log table: the quiet table of the support library with a category and a LogV
// that keep what the library sends.
#include "support/LogCapture.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "logger/Log.h"
#include "logger/LogTable.h"
#include "support/QuietLogTable.h"

namespace TarnTest {

namespace {

std::mutex gMutex;
std::vector<LogCapture::Entry> gEntries;
std::vector<std::string> gCodes;

uint64_t VELL_CALL RegisterCategory(uint64_t* mask, const char* code)
{
    std::lock_guard<std::mutex> guard(gMutex);
    gCodes.push_back(code ? code : "");
    if (mask) *mask = LogCapture::kCategoryMask;
    return LogCapture::kCategoryMask;
}

void VELL_CALL LogV(int32_t severity, uint32_t low, uint32_t high, const char* format, va_list args)
{
    char text[16384];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    if (n < 0) text[0] = '\0';
    std::lock_guard<std::mutex> guard(gMutex);
    gEntries.push_back({severity, (static_cast<uint64_t>(high) << 32) | low, text});
}

// The quiet table, with the two entries the library's messages come through.
const LogFunctionTable kCaptureTable = [] {
    LogFunctionTable table = TarnSupport::QuietLogTable();
    table.RegisterCategory = RegisterCategory;
    table.LogV = LogV;
    return table;
}();

}  // namespace

LogCapture::LogCapture()
    : mPreviousTable(Tarn::Logger::CurrentLogTable()), mPreviousCategory(Tarn::Logger::CategoryHandle())
{
    Clear();
    VellSetLogger(&kCaptureTable);
}

LogCapture::~LogCapture() { Tarn::Logger::RestoreLogger(mPreviousTable, mPreviousCategory); }

std::vector<LogCapture::Entry> LogCapture::Entries() const
{
    std::lock_guard<std::mutex> guard(gMutex);
    return gEntries;
}

std::vector<std::string> LogCapture::Texts(std::int32_t minSeverity) const
{
    std::vector<std::string> texts;
    for (const Entry& e : Entries())
        if (e.severity >= minSeverity) texts.push_back(e.text);
    return texts;
}

size_t LogCapture::Count(const std::string& text) const
{
    auto entries = Entries();
    return static_cast<size_t>(std::count_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.text == text; }));
}

bool LogCapture::Contains(std::int32_t severity, std::uint64_t tags, const std::string& text) const
{
    for (const Entry& e : Entries())
        if (e.severity == severity && e.tags == tags && e.text == text) return true;
    return false;
}

bool LogCapture::InOrder(const std::vector<std::string>& texts) const
{
    auto entries = Entries();
    size_t next = 0;
    for (const Entry& e : entries)
        if (next < texts.size() && e.text == texts[next]) ++next;
    return next == texts.size();
}

std::vector<std::string> LogCapture::RegisteredCodes() const
{
    std::lock_guard<std::mutex> guard(gMutex);
    return gCodes;
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> guard(gMutex);
    gEntries.clear();
    gCodes.clear();
}

std::string LogCapture::Dump() const
{
    std::string out;
    for (const Entry& e : Entries()) {
        char head[64];
        std::snprintf(head, sizeof(head), "[%d tags=0x%llx] ", e.severity, static_cast<unsigned long long>(e.tags));
        out += head + e.text + "\n";
    }
    return out;
}

::testing::AssertionResult Logged(const LogCapture& log, std::int32_t severity, std::uint64_t tags, const std::string& text)
{
    if (log.Contains(severity, tags, text)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not logged (severity " << severity << ", tags 0x" << std::hex << tags
                                         << "): \"" << text << "\"\nlog:\n" << log.Dump();
}

::testing::AssertionResult LoggedError(const LogCapture& log, const std::string& text)
{
    return Logged(log, VELL_LOG_ERROR, LogCapture::kErrorTags, text);
}

::testing::AssertionResult NotLogged(const LogCapture& log, const std::string& text)
{
    if (!log.Contains(text)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "logged although it should not be: \"" << text << "\"\nlog:\n" << log.Dump();
}

}  // namespace TarnTest
