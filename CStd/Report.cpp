#include "CStd/Report.h"

#include <atomic>
#include <cstdlib>

#include "CStd/CStd.h"

namespace Tarn {

namespace {
std::atomic<ReportHandler> gInfoHandler{nullptr};
std::atomic<ReportHandler> gWarningHandler{nullptr};
std::atomic<ReportHandler> gErrorHandler{nullptr};
}  // namespace

void SetReportHandlers(ReportHandler info, ReportHandler warning, ReportHandler error)
{
    gInfoHandler = info;
    gWarningHandler = warning;
    gErrorHandler = error;
}

void ReportError(const char* text)
{
    if (ReportHandler handler = gErrorHandler.load()) handler(text);
}

void ReportAssertion(const char* expression, const char* description, const char* file, unsigned line,
                     const char* function)
{
    char text[2048];
    int n = FormatBounded(text, sizeof(text), "Assertion failed!\n\nFile: %s\nLine: %u\n\nFunction: %s\n\nExpression: %s",
                          file ? file : "", line, function ? function : "", expression ? expression : "");
    if (n >= 0 && description && *description)
        FormatBounded(text + n, sizeof(text) - static_cast<size_t>(n), "\n\nDescription: %s", description);
    ReportError(text);
    std::abort();
}

}  // namespace Tarn
