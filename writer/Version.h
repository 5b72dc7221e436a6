// Packed release and file versions: four numbers of 0 to 255 in one 32-bit word, the first in
// the most significant byte; text form "a.b.c.d". The text form names release and version
// directories on disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Tarn::VELL::Writer {

// Packs a.b.c.d; each number must be 0 to 255 (std::invalid_argument otherwise).
uint32_t PackVersion(int a, int b, int c, int d);

// "a.b.c.d" in decimal, first number from the most significant byte.
std::string FormatVersion(uint32_t version);

// Parses exactly "a.b.c.d": four decimal numbers of 0 to 255 (at most three digits each)
// joined by dots, nothing before or after. Stricter than the library's reader on purpose:
// what the writer accepts, every reader accepts.
std::optional<uint32_t> ParseVersion(const std::string& text);

}  // namespace Tarn::VELL::Writer
