// _stricmp and _strnicmp, the same on every system: the library orders and finds names by
// them (sorted manifests and archive indexes, written on any system), so the order must not
// depend on the C runtime at hand or on the host's locale. The Microsoft runtime's "C"
// locale folds exactly so; Wine's, and any other locale, fold more letters.
#include "Win32.h"

namespace Win32 {

namespace {
inline int FoldAscii(int c) { return static_cast<unsigned>(c - 'A') < 26u ? c + ('a' - 'A') : c; }
}  // namespace

// Bytes that are equal need no folding; only where they differ is ASCII case looked at.
int _stricmp(const char* a, const char* b)
{
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (*x == *y) {
            if (*x == 0) return 0;
            continue;
        }
        const int cx = FoldAscii(*x), cy = FoldAscii(*y);
        if (cx != cy) return cx - cy;
    }
}

int _strnicmp(const char* a, const char* b, size_t count)
{
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (; count > 0; --count, ++x, ++y) {
        if (*x == *y) {
            if (*x == 0) return 0;
            continue;
        }
        const int cx = FoldAscii(*x), cy = FoldAscii(*y);
        if (cx != cy) return cx - cy;
    }
    return 0;
}

}  // namespace Win32
