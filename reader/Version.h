// Packed versions: four numbers of 0 to 255 in one 32-bit word, the first in the most
// significant byte; text form "a.b.c.d". They name release and version directories.
#pragma once

#include <cstdint>

namespace Tarn::VELL::Reader {

// The text form of a version, held without allocating.
struct VersionText {
    char text[16];
    const char* c_str() const { return text; }
};

// Parses "a.b.c.d" as sscanf("%d.%d.%d.%d") would: white space other than a blank and a
// sign may precede each number, the dots follow the numbers directly, whatever follows the
// fourth number is ignored. A text holding a blank, fewer than four numbers or a number
// above 255 (negative numbers included) fails. The output is 0 unless parsing succeeds.
bool ParseVersionString(const char* text, std::uint32_t* version);

VersionText FormatVersionString(std::uint32_t version);

}  // namespace Tarn::VELL::Reader
