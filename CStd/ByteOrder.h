// Little-endian fields of stored data, decoded byte by byte so that no pointer into a
// buffer of unknown alignment is ever cast to a wider type.
#pragma once

#include <cstdint>

namespace Tarn {

inline std::uint32_t LoadLE32(const void* at)
{
    const auto* p = static_cast<const std::uint8_t*>(at);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreLE32(void* at, std::uint32_t value)
{
    auto* p = static_cast<std::uint8_t*>(at);
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace Tarn
