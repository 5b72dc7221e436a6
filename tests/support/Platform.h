// What tests need to know of the platform layer under them: whether it is the POSIX layer,
// which imitates Windows, or a real Windows (or Wine) answering for itself; and the system's
// words for errors, which the library puts into its messages as it receives them.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/Win32.h"

namespace TarnTest {

#if defined(_WIN32)
constexpr bool kPosixLayer = false;
#else
constexpr bool kPosixLayer = true;
#endif

// The system's text for a Win32 code or an HRESULT, as FormatMessageA gives it; empty when it
// has none.
inline std::string SystemText(Win32::DWORD code)
{
    char text[512] = {};
    const Win32::DWORD n = Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                                 code, Win32::LANG_NEUTRAL_DEFAULT, text, sizeof(text), nullptr);
    return std::string(text, n);
}

// The C runtime's text for an error number (strerror_s).
inline std::string CrtText(int errorNumber)
{
    char text[256] = {};
    Win32::strerror_s(text, sizeof(text), errorNumber);
    return text;
}

}  // namespace TarnTest

// Skips the rest of a test that checks how the POSIX layer imitates Windows: on Windows the
// system itself answers, in its own words and by its own rules.
#define TARN_SKIP_UNLESS_POSIX_LAYER()                                                                                        \
    if (!TarnTest::kPosixLayer)                                                                                             \
    GTEST_SKIP() << "checks the POSIX layer's imitation of Windows; on Windows the system answers for itself"
