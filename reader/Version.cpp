#include "reader/Version.h"

#include <cstdio>
#include <cstring>

namespace Tarn::VELL::Reader {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d" conversion; the value is only needed up to the point where it exceeds 255.
bool ScanNumber(const char*& p, std::int64_t& value)
{
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (*p < '0' || *p > '9') return false;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (magnitude <= 1000) magnitude = magnitude * 10 + (*p - '0');
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

bool ParseVersionString(const char* text, std::uint32_t* version)
{
    *version = 0;
    if (text == nullptr || std::strchr(text, ' ') != nullptr) return false;
    std::uint32_t packed = 0;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        std::int64_t value = 0;
        if (!ScanNumber(p, value)) return false;
        // Taken as unsigned 32-bit, a negative number is far above 255.
        if (value < 0 || value > 255) return false;
        packed = (packed << 8) | static_cast<std::uint32_t>(value);
        if (i < 3) {
            if (*p != '.') return false;
            ++p;
        }
    }
    *version = packed;
    return true;
}

VersionText FormatVersionString(std::uint32_t version)
{
    VersionText out{};
    std::snprintf(out.text, sizeof(out.text), "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFFu, (version >> 8) & 0xFFu,
                  version & 0xFFu);
    return out;
}

}  // namespace Tarn::VELL::Reader
