// vell_compare's reference decoders, the limits of the small-file rows: zlib and liblzma on the
// stored bytes in memory, with nothing of the library around them.
#pragma once

#include <cstdint>
#include <string>

namespace TarnCompare {

// A zlib stream inflated into out (kSmallCapacity bytes); its size, or -1.
std::int64_t Uncompress(const std::string& stream, std::uint8_t* out);

// An LZMA record: property byte, 64-bit little-endian size, raw LZMA2 stream with end marker.
// The dictionary is sized as the library sizes it: the property's, but no larger than the file.
// Decoded into out; its size, or -1.
std::int64_t DecodeLzmaRecord(const std::string& record, std::uint8_t* out);

}  // namespace TarnCompare
