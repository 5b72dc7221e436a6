// Readers of one field per line from a text stream opened by the caller. Each returns kOk or
// kFail (after logging) and never opens, rewinds or closes the stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "CStd/HResult.h"

namespace Tarn::VELL::Reader {

// One line of at most 1023 characters (a longer line is split; the rest is the next read),
// trailing carriage returns and line feeds removed. At the end of the file the read
// succeeds and text keeps what it held; endOfFile (when given) tells that this happened.
HRESULT ReadString(std::FILE* stream, std::string& text, bool* endOfFile = nullptr);

// One line of at most 255 characters converted as strtoul in base 0 (decimal, 0x
// hexadecimal, leading-0 octal; beyond 32 bits 4294967295; a minus sign negates modulo
// 2^32). The value is stored in every case; a line without a digit fails.
HRESULT ReadDWORD(std::FILE* stream, std::uint32_t& value);

// One line of at most 255 characters parsed as a packed version; 0 on failure.
HRESULT ReadVersion(std::FILE* stream, std::uint32_t& version);
HRESULT ReadVellVersion(std::FILE* stream, std::uint32_t& version);

// strtoul in base 0 for 32-bit values, as above. *end is text when nothing was converted.
std::uint32_t ConvertDWORD(const char* text, const char** end);

// atoi: decimal, leading white space and a sign allowed, 0 when nothing converts; values
// beyond the range of int are clamped to it.
int ConvertInt(const char* text);

}  // namespace Tarn::VELL::Reader
