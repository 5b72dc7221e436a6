// Result codes of the HRESULT kind, used inside the library and at its boundary.
#pragma once

#include <cstdint>

namespace Tarn {

using HRESULT = std::int32_t;

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0x80070006u);

inline bool Succeeded(HRESULT result) { return result >= 0; }
inline bool Failed(HRESULT result) { return result < 0; }

// A Win32 error above 0 becomes 0x8007xxxx; 0 and values that are already codes stay.
inline HRESULT HResultFromWin32(std::int32_t error)
{
    return error > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu)) : error;
}

}  // namespace Tarn
