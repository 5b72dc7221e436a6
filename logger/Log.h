// The library's log call. Every message of the library goes through the current log
// function table (the built-in one unless the host installed its own with VellSetLogger).
//
// Tags follow one rule: errors and warnings carry the library's category and bit 0 ("DBG"),
// information the category and bit 1 ("GEN"), traces of a function's entry the category and
// bits 0 and 2 ("DBG", "XTR"). The category is the mask the host's table returned for "VEL";
// it is 0 until VellSetLogger.
//
// Most messages begin with a qualified function name ("Tarn::VELL::Reader::ArchiveFile::Read:
// ..."). These prefixes are a fixed contract, not derived from the code: hosts filter on
// them, so each is a hand-typed string literal (never __func__) that keeps its text when the
// code is renamed or moved to another namespace. Some of them name a namespace or class the
// code no longer uses; they stay as they are.
#pragma once

#include <cstdarg>
#include <cstdint>

#if defined(__GNUC__)
#define TARN_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define TARN_PRINTF(formatIndex, firstArgument)
#endif

namespace Tarn::Logger {

constexpr std::int32_t kSeverityOkay = 0;
constexpr std::int32_t kSeverityWarn = 1;
constexpr std::int32_t kSeverityError = 2;
constexpr std::int32_t kSeverityAlways = 3;

constexpr std::uint64_t kTagDebug = 1;    // "DBG"
constexpr std::uint64_t kTagGeneral = 2;  // "GEN"
constexpr std::uint64_t kTagExtra = 4;    // "XTR"

// The mask the current table gave for "VEL"; 0 before VellSetLogger.
std::uint64_t CategoryHandle();

// Calls entry LogV of the current table.
void LogMessage(std::int32_t severity, std::uint32_t tagsLow, std::uint32_t tagsHigh, const char* format, ...)
    TARN_PRINTF(4, 5);
void LogMessageV(std::int32_t severity, std::uint64_t tags, const char* format, va_list args);

// ERROR with the category and "DBG".
void LogError(const char* format, ...) TARN_PRINTF(1, 2);
// WARN with the category and "DBG".
void LogWarning(const char* format, ...) TARN_PRINTF(1, 2);
// OKAY with the category and "GEN".
void LogInfo(const char* format, ...) TARN_PRINTF(1, 2);
// OKAY with the category, "DBG" and "XTR": a function's entry or a step.
void LogTrace(const char* format, ...) TARN_PRINTF(1, 2);
// ERROR with "DBG" alone, without the category (the read machinery's two messages).
void LogErrorTagOnly(const char* format, ...) TARN_PRINTF(1, 2);

}  // namespace Tarn::Logger
