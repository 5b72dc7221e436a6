// Path normalisation of any text gives the same result through every buffer size it fits, never writes past the buffer, and leaves no backslash, no doubled separator after the first character and no length other than the one it returns.
#include <cstring>
#include <string>

#include "CStd/PathNormalize.h"
#include "FuzzSupport.h"
#include "Public/VellExportsMain.h"

namespace {

constexpr std::size_t kLarge = 8192;

void CheckShape(const char* output, long length, std::size_t outputSize)
{
    if (length < 0) {
        FUZZ_CHECK(output[0] == '\0');
        return;
    }
    FUZZ_CHECK(static_cast<std::size_t>(length) < outputSize && std::strlen(output) == static_cast<std::size_t>(length));
    FUZZ_CHECK(std::strchr(output, '\\') == nullptr);
    FUZZ_CHECK(length < 2 || std::strstr(output + 1, "//") == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size >= kLarge) return 0;
    // Byte 0: the output buffer's size (1 to 256) and, in its low bit, whether to trim.
    const bool trim = data[0] & 1;
    const std::size_t outputSize = (data[0] >> 1) + (data[0] & 1 ? 129 : 1);
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);  // cut at a NUL like any C string

    static char large[kLarge], untrimmed[kLarge], again[kLarge];
    const long full = Tarn::NormalizeSeparators(input.c_str(), large, kLarge, trim);
    CheckShape(large, full, kLarge);
    FUZZ_CHECK(full >= 0);

    // A heap buffer of exactly the given size, so that a write past it is caught.
    std::string output(outputSize, '\x7F');
    const long small = Tarn::VELL::NormalizePath(input.c_str(), output.data(), outputSize, trim);
    CheckShape(output.c_str(), small, outputSize);
    if (static_cast<std::size_t>(full) < outputSize)
        FUZZ_CHECK(small == full && std::strcmp(output.c_str(), large) == 0);
    else
        FUZZ_CHECK(small == -1);

    // Trimming drops one final slash and nothing else; normalising again changes nothing.
    const long plain = Tarn::NormalizeSeparators(input.c_str(), untrimmed, kLarge, false);
    if (trim) {
        const bool dropped = plain > 0 && untrimmed[plain - 1] == '/';
        FUZZ_CHECK(full == plain - (dropped ? 1 : 0) && std::strncmp(untrimmed, large, static_cast<std::size_t>(full)) == 0);
    }
    FUZZ_CHECK(Tarn::NormalizeSeparators(untrimmed, again, kLarge, false) == plain && std::strcmp(again, untrimmed) == 0);
    return 0;
}
