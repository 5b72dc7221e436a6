#include "CStd/CStd.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "CStd/Report.h"

namespace Tarn {

namespace {
inline int FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
}  // namespace

size_t std_strnlen(const char* text, size_t limit)
{
    if (text == nullptr) ReportAssertion("pStr", "", "CStd", 102, "Tarn::std_strnlen");
    size_t n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

int std_strncpy(char* destination, size_t size, const char* source, size_t count)
{
    if (destination == nullptr) ReportAssertion("pDest", "", "CStd", 249, "Tarn::std_strncpy");
    if (source == nullptr) ReportAssertion("pSrc", "", "CStd", 250, "Tarn::std_strncpy");
    if (count != TRUNCATE && !(count < size))
        ReportAssertion("count != TRUNCATE ? count < num : true", "String operation causes truncation.", "CStd", 253,
                        "Tarn::std_strncpy");
    if (size == 0) return kCopyInvalid;  // outside the contract; nothing can be written
    int result = kCopyOk;
    size_t n;
    if (count == TRUNCATE) {
        n = std_strnlen(source, size);
        if (n == size) {
            n = size - 1;
            result = kCopyTruncated;
        }
    } else {
        n = std_strnlen(source, count);
    }
    std::memcpy(destination, source, n);
    destination[n] = '\0';
    return result;
}

int std_strcpy(char* destination, size_t size, const char* source)
{
    if (source == nullptr) ReportAssertion("pStr", "", "CStd", 131, "Tarn::std_strcpy");
    if (destination == nullptr) ReportAssertion("pDest", "", "CStd", 132, "Tarn::std_strcpy");
    if (size == 0) return kCopyInvalid;
    size_t n = std_strnlen(source, size);
    if (n == size) {
        destination[0] = '\0';
        return kCopyTooLong;
    }
    std::memcpy(destination, source, n + 1);
    return kCopyOk;
}

int FormatBounded(char* destination, size_t size, const char* format, ...)
{
    if (destination == nullptr || size == 0) return -1;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(destination, size, format, args);
    va_end(args);
    if (n < 0) {
        destination[0] = '\0';
        return -1;
    }
    return static_cast<size_t>(n) < size ? n : -1;
}

PointerText FormatPointer(const void* pointer)
{
    PointerText out{};
    std::snprintf(out.text, sizeof(out.text), "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return out;
}

const char* FindLast(const char* text, const char* needle)
{
    if (text == nullptr || needle == nullptr) return nullptr;
    size_t textLength = std::strlen(text), needleLength = std::strlen(needle);
    if (needleLength > textLength) return nullptr;
    for (size_t i = textLength - needleLength + 1; i-- > 0;)
        if (std::memcmp(text + i, needle, needleLength) == 0) return text + i;
    return nullptr;
}

const char* FindNoCase(const char* text, const char* needle)
{
    if (text == nullptr || needle == nullptr) return nullptr;
    if (*needle == '\0') return text;
    const auto first = FoldAscii(static_cast<unsigned char>(*needle));
    for (const char* t = text; *t; ++t) {
        if (FoldAscii(static_cast<unsigned char>(*t)) != first) continue;
        size_t i = 1;
        while (needle[i] && FoldAscii(static_cast<unsigned char>(t[i])) == FoldAscii(static_cast<unsigned char>(needle[i])))
            ++i;
        if (needle[i] == '\0') return t;
    }
    return nullptr;
}

}  // namespace Tarn
