#include "reader/FieldReaders.h"

#include <climits>

#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/FileReads.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

void StripLineEnd(std::string& text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
}

// Reads one line of a number field into line (at most 255 characters). When the read
// returns nothing and the last operating-system error is 0, the line is taken as empty.
HRESULT ReadNumberLine(std::FILE* stream, char (&line)[256], const char* name)
{
    if (Win32::fgets(line, sizeof(line), stream) != nullptr) return kOk;
    const auto lastError = static_cast<std::int32_t>(Win32::GetLastError());
    LogSystemError(name, lastError);
    if (lastError != 0) {
        LogError("%s: fgets failed", name);
        return kFail;
    }
    line[0] = '\0';
    return kOk;
}

HRESULT ReadVersionField(std::FILE* stream, std::uint32_t& version, const char* name)
{
    char line[256];
    if (Failed(ReadNumberLine(stream, line, name))) return kFail;
    if (!ParseVersionString(line, &version)) {
        LogError("%s: Failed to convert version string \"%s\".", name, line);
        return kFail;
    }
    return kOk;
}

}  // namespace

std::uint32_t ConvertDWORD(const char* text, const char** end)
{
    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    const char* digits = p;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; DigitValue(*p) < base; ++p) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(*p));
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull;
        }
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow) return 0xFFFFFFFFu;
    const auto result = static_cast<std::uint32_t>(value);
    return negative ? 0u - result : result;
}

int ConvertInt(const char* text)
{
    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value <= INT_MAX) value = value * 10 + (*p - '0');
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

HRESULT ReadString(std::FILE* stream, std::string& text, bool* endOfFile)
{
    static constexpr char kName[] = "Tarn::VELL::Reader::ReadString";
    if (endOfFile) *endOfFile = false;
    char line[1024];
    if (Win32::fgets(line, sizeof(line), stream) == nullptr) {
        if (int error = Win32::ferror(stream)) {
            LogSystemError(kName, error);
            LogError("%s: fgets failed", kName);
            return kFail;
        }
        if (endOfFile) *endOfFile = true;
    } else {
        text = line;
    }
    StripLineEnd(text);
    return kOk;
}

HRESULT ReadDWORD(std::FILE* stream, std::uint32_t& value)
{
    static constexpr char kName[] = "Tarn::VELL::Reader::ReadDWORD";
    char line[256];
    if (Failed(ReadNumberLine(stream, line, kName))) return kFail;
    const char* end = line;
    value = ConvertDWORD(line, &end);
    if (end == line) {
        LogError("%s: Could not convert string to number", kName);
        return kFail;
    }
    return kOk;
}

HRESULT ReadVersion(std::FILE* stream, std::uint32_t& version)
{
    return ReadVersionField(stream, version, "Tarn::VELL::Reader::ReadVersion");
}

HRESULT ReadVellVersion(std::FILE* stream, std::uint32_t& version)
{
    return ReadVersionField(stream, version, "Tarn::VELL::Reader::ReadVellVersion");
}

}  // namespace Tarn::VELL::Reader
