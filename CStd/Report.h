// The error-report channel of the foundation: three replaceable handlers, the error report
// and the assertion report. The log manager installs handlers that turn reports into log
// messages; until then reports go nowhere.
#pragma once

namespace Tarn {

using ReportHandler = void (*)(const char* text);

void SetReportHandlers(ReportHandler info, ReportHandler warning, ReportHandler error);
// Calls the error handler with the text when one is installed.
void ReportError(const char* text);
// Builds the assertion report, hands it to ReportError and stops the process: a broken
// internal precondition is a programming error, never a condition stored data can cause.
[[noreturn]] void ReportAssertion(const char* expression, const char* description, const char* file, unsigned line,
                                  const char* function);

}  // namespace Tarn
