#include "CStd/PathNormalize.h"

#include <cstring>

namespace Tarn {

long NormalizeSeparators(const char* input, char* output, size_t outputSize, bool trimTrailingSlash)
{
    if (output == nullptr || outputSize == 0) return -1;
    output[0] = '\0';
    if (input == nullptr) return -1;
    // Most paths need no change: no backslash and no doubled slash after the first character.
    const size_t length = std::strlen(input);
    if (length < outputSize && std::memchr(input, '\\', length) == nullptr &&
        (length < 2 || std::strstr(input + 1, "//") == nullptr)) {
        std::memcpy(output, input, length + 1);
        const bool trim = trimTrailingSlash && length > 0 && output[length - 1] == '/';
        if (trim) output[length - 1] = '\0';
        return static_cast<long>(trim ? length - 1 : length);
    }
    size_t n = 0;
    for (const char* p = input; *p; ++p) {
        const char c = (*p == '\\') ? '/' : *p;
        if (c == '/' && n >= 2 && output[n - 1] == '/') continue;
        if (n + 1 >= outputSize) {
            // Final separators that are trimmed away need no room of their own.
            if (trimTrailingSlash && c == '/' && std::strspn(p, "/\\") == std::strlen(p)) break;
            output[0] = '\0';
            return -1;
        }
        output[n++] = c;
    }
    if (trimTrailingSlash && n > 0 && output[n - 1] == '/') --n;
    output[n] = '\0';
    return static_cast<long>(n);
}

}  // namespace Tarn
