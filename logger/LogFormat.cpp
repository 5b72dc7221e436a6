#include "logger/LogFormat.h"

#include <atomic>
#include <cstring>

#include "CStd/CStd.h"
#include "CStd/ElapsedTime.h"
#include "logger/CategoryTable.h"
#include "logger/LogManager.h"
#include "platform/Win32.h"

namespace Tarn::Logger {

namespace {

constexpr const char* kSeverityNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};

// The working set seen by the previous memory statistics line, for its "added" column.
std::atomic<std::int64_t> gPreviousWorkingSet{0};

// Copies text into out (limit bytes, terminator included), cut to fit; the characters written.
size_t CopyCut(char* out, size_t limit, const char* text)
{
    if (limit == 0) return 0;
    std_strncpy(out, limit, text ? text : "", TRUNCATE);
    return std::strlen(out);
}

size_t Written(char* out, int n)
{
    // A cut print still leaves a terminated prefix behind.
    return n >= 0 ? static_cast<size_t>(n) : std::strlen(out);
}

size_t FormatMemoryLine(char* out, size_t limit)
{
    const double seconds = ElapsedSeconds();
    Win32::PROCESS_MEMORY_COUNTERS counters{};
    std::int64_t workingSet = 0;
    if (Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters)))
        workingSet = static_cast<std::int64_t>(counters.WorkingSetSize);
    const auto added = static_cast<std::int32_t>(workingSet - gPreviousWorkingSet.exchange(workingSet));
    const double kb = static_cast<double>(workingSet) / 1024.0;
    const double addedKb = static_cast<double>(added) / 1024.0;
    return Written(out, FormatBounded(out, limit, "%06d.%03d| %7d.%04dkb| %6d.%04dkb added", static_cast<int>(seconds),
                                      static_cast<int>(static_cast<std::int64_t>(seconds * 1000.0) % 1000),
                                      static_cast<int>(kb), static_cast<int>(static_cast<std::int64_t>(kb * 1000.0) % 1000),
                                      static_cast<int>(addedKb),
                                      static_cast<int>(static_cast<std::int64_t>(addedKb * 1000.0) % 1000)));
}

// Writes the expansion of one code into out (limit bytes, terminator included).
size_t ExpandCode(char code, char* out, size_t limit, const LogRecord* record)
{
    char text[64];
    switch (code) {
    case 'D': return Written(out, FormatTime(out, static_cast<uint32_t>(limit), &record->time));
    case 'E': return CopyCut(out, limit, LogManager::GetModuleName());
    case 'G': FormatTags(out, static_cast<uint32_t>(limit), record->tagsLow, record->tagsHigh); return std::strlen(out);
    case 'H': return FormatMemoryLine(out, limit);
    case 'L': return CopyCut(out, limit, GetSeverityName(record->severity));
    case 'M': return CopyCut(out, limit, record->message);
    case 'T':
        FormatBounded(text, sizeof(text), "%#x", static_cast<unsigned>(Win32::GetCurrentThreadId()));
        return CopyCut(out, limit, text);
    default:
        text[0] = code;
        text[1] = '\0';
        return CopyCut(out, limit, text);
    }
}

}  // namespace

const char* VELL_CALL GetSeverityName(int32_t severity)
{
    return (severity >= 0 && severity <= 3) ? kSeverityNames[severity] : "     ?";
}

void VELL_CALL CaptureTime(LogTime* time)
{
    if (time == nullptr) return;
    Win32::SYSTEMTIME now{};
    Win32::GetLocalTime(&now);
    *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

int32_t VELL_CALL FormatTime(char* destination, uint32_t size, const LogTime* time)
{
    if (time == nullptr) return -1;
    return FormatBounded(destination, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<int>(time->year),
                         static_cast<int>(time->month), static_cast<int>(time->day), static_cast<int>(time->hour),
                         static_cast<int>(time->minute), static_cast<int>(time->second), static_cast<int>(time->millisecond));
}

int32_t VELL_CALL FormatFileTime(char* destination, uint32_t size, const LogTime* time)
{
    if (time == nullptr) return -1;
    return FormatBounded(destination, size, "%04d-%02d-%02dT%02d-%02d-%02d", static_cast<int>(time->year),
                         static_cast<int>(time->month), static_cast<int>(time->day), static_cast<int>(time->hour),
                         static_cast<int>(time->minute), static_cast<int>(time->second));
}

void VELL_CALL FormatTags(char* destination, uint32_t size, uint32_t tagsLow, uint32_t tagsHigh)
{
    if (destination == nullptr || size == 0) return;
    destination[0] = '\0';
    const std::uint64_t tags = (static_cast<std::uint64_t>(tagsHigh) << 32) | tagsLow;
    size_t position = 0;
    for (unsigned bit = 0; bit < kCategoryCount; ++bit) {
        if ((tags & (std::uint64_t{1} << bit)) == 0) continue;
        if (size - position < 2) break;
        if (position > 0) {
            destination[position++] = ';';
            destination[position] = '\0';
            if (size - position < 2) break;
        }
        char code[4];
        CategoryCode(bit, code);
        position += CopyCut(destination + position, size - position, code);
    }
}

void VELL_CALL FormatLine(char* destination, uint32_t size, const char* format, const LogRecord* record)
{
    if (destination == nullptr || size == 0) return;
    if (size == 1) {
        destination[0] = '\0';
        return;
    }
    destination[0] = '\n';
    destination[1] = '\0';
    const char* f = format ? format : "";
    size_t position = 0;
    size_t room = size - 2;  // two bytes stay for the final newline and the terminator
    while (*f && room >= 2) {
        if (*f != '#') {
            destination[position++] = *f++;
            --room;
            continue;
        }
        // A lone '#' at the end of a format has no code to expand; it ends the line.
        if (f[1] == '\0' || record == nullptr) break;
        size_t n = ExpandCode(f[1], destination + position, room, record);
        position += n;
        room -= n;
        f += 2;
    }
    if (position > 0 && destination[position - 1] == '\n') {
        destination[position] = '\0';
    } else {
        destination[position] = '\n';
        destination[position + 1] = '\0';
    }
}

}  // namespace Tarn::Logger
