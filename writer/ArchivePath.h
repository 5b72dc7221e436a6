// The key and the order of archive index entries, and the name order of manifest siblings.
#pragma once

#include <cstdint>
#include <string>

namespace Tarn::VELL::Writer {

// The ELF hash of the path's bytes (up to the first NUL, if any), each byte taken as a signed
// char widened to 32 bits and 'A'-'Z' folded to lower case. Bytes 0x80-0xFF are therefore
// added as 0xFFFFFF80-0xFFFFFFFF and are not folded. "abc" and "ABC" give 0x00006783.
uint32_t HashArchivePath(const std::string& path);

// _stricmp order: ASCII letters folded to lower case, then bytes compared as unsigned values;
// a proper prefix comes first. Negative, zero or positive like strcmp. '_' sorts before
// every letter, unlike in a byte-wise comparison.
int CompareNoCase(const std::string& a, const std::string& b);

// True when a comes before b in CompareNoCase order.
inline bool LessNoCase(const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; }

// The path with 'A'-'Z' folded to lower case; two names are the same name when these match.
std::string FoldCase(const std::string& text);

}  // namespace Tarn::VELL::Writer
