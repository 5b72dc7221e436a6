// One-call forms of the archive entry encodings. Packing many files should use ZlibEncoder
// and LzmaEncoder directly (or ProjectRelease), which keep their state between files.
#pragma once

#include <cstdint>
#include <string>

namespace Tarn::VELL::Writer {

// A complete zlib stream (RFC 1950) of the data, as zlib's compress2 would give it.
std::string CompressZlib(const std::string& data, int level = 6);

// A complete LZMA record of the data (see LzmaEncoder.h): property byte, 8-byte size, raw
// LZMA2 stream with end marker.
std::string CompressLzmaRecord(const std::string& data, uint32_t dictionarySize = 1u << 20);

// The smallest LZMA2 dictionary-size property (0 to 40) whose dictionary holds at least
// dictionarySize bytes. Property p means (2 + (p & 1)) << (p / 2 + 11) bytes; 40 means
// 0xFFFFFFFF.
uint8_t LzmaDictionaryProperty(uint32_t dictionarySize);

// The dictionary size of a property (0 to 40; std::invalid_argument above 40).
uint32_t LzmaDictionarySize(uint8_t property);

}  // namespace Tarn::VELL::Writer
