// Bounded string helpers and text searches of the foundation.
//
// The string helpers check their preconditions and stop the process through ReportAssertion
// when one is broken (a null pointer, an explicit count that does not fit). All functions
// here keep no state and may run on any number of threads at once.
#pragma once

#include <cstddef>

// Asks for the memory at address ahead of its use; a hint that changes nothing else.
#if defined(__GNUC__)
#define TARN_PREFETCH(address) __builtin_prefetch(address)
#else
#define TARN_PREFETCH(address) ((void)(address))
#endif

namespace Tarn {

// Paths are built and normalised in buffers of this many characters, terminator included.
constexpr size_t kMaxPath = 260;

// The count for std_strncpy that copies all of the source, cut to fit the destination.
constexpr size_t TRUNCATE = static_cast<size_t>(-1);

// Result codes of the copies (the C runtime's numbers).
constexpr int kCopyOk = 0;
constexpr int kCopyInvalid = 22;    // EINVAL
constexpr int kCopyTooLong = 34;    // ERANGE
constexpr int kCopyTruncated = 80;  // STRUNCATE

// Length of text, at most limit.
size_t std_strnlen(const char* text, size_t limit);

// Copies at most count characters of source into destination (size characters, terminator
// included) and terminates it. An explicit count must be below size; TRUNCATE copies what
// fits. A size of 0 is refused without writing (kCopyInvalid).
int std_strncpy(char* destination, size_t size, const char* source, size_t count);

// Copies the whole source, which must be shorter than size. A source that does not fit
// leaves the destination empty and returns kCopyTooLong.
int std_strcpy(char* destination, size_t size, const char* source);

// printf into destination, never more than size bytes, always terminated (when size > 0).
// Returns the number of characters written, or -1 when the text was cut.
int FormatBounded(char* destination, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// A pointer as the Microsoft C runtime prints "%p": upper-case hexadecimal digits, zero-padded
// to the width of a pointer, without a prefix. Messages print handles this way on every
// platform.
struct PointerText {
    char text[2 * sizeof(void*) + 1];
    const char* c_str() const { return text; }
};
PointerText FormatPointer(const void* pointer);

// The last occurrence of needle in text (case-sensitive), or null; null when either is null
// or needle is longer than text. An empty needle gives the end of text.
const char* FindLast(const char* text, const char* needle);

// The first occurrence of needle in text ignoring ASCII case, or null; an empty needle
// gives text itself; null arguments give null.
const char* FindNoCase(const char* text, const char* needle);

}  // namespace Tarn
