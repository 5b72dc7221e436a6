// Little-endian encoding of the fixed-width fields of the binary formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tarn::VELL::Writer {

inline void AppendU32(std::string& out, uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 24)};
    out.append(bytes, 4);
}

inline void AppendU64(std::string& out, uint64_t value)
{
    AppendU32(out, static_cast<uint32_t>(value));
    AppendU32(out, static_cast<uint32_t>(value >> 32));
}

// Overwrites the four bytes at offset (which must already exist).
inline void StoreU32(std::string& out, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace Tarn::VELL::Writer
