#include "CStd/WildcardMatch.h"

#include <cstddef>

namespace Tarn {

namespace {

inline int FoldAscii(char c)
{
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

// Whether the n characters of run stand at text (text may be shorter).
bool RunAt(const char* text, const char* run, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (text[i] == '\0' || FoldAscii(text[i]) != FoldAscii(run[i])) return false;
    return true;
}

const char* FindRun(const char* text, const char* run, size_t n)
{
    for (; *text; ++text)
        if (RunAt(text, run, n)) return text;
    return nullptr;
}

}  // namespace

bool WildcardMatch(const char* text, const char* pattern)
{
    if (text == nullptr || pattern == nullptr) return false;
    if (*pattern == '\0') return *text == '\0';
    bool starPending = false;
    while (*pattern) {
        if (*pattern == '*') {
            starPending = true;
            ++pattern;
        } else if (*pattern == '?') {
            if (*text == '\0') return false;
            ++text;
            ++pattern;
        } else {
            size_t n = 0;
            while (pattern[n] && pattern[n] != '*' && pattern[n] != '?') ++n;
            if (!starPending) {
                if (!RunAt(text, pattern, n)) return false;
                text += n;
            } else {
                const char* found = FindRun(text, pattern, n);
                if (found == nullptr) return false;
                text = found + n;
                starPending = false;
            }
            pattern += n;
        }
    }
    return *text == '\0' || starPending;
}

}  // namespace Tarn
