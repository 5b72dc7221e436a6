#include "CStd/ElapsedTime.h"

#include "platform/Win32.h"

namespace Tarn {

namespace {
struct Clock {
    Clock()
    {
        Win32::QueryPerformanceFrequency(&frequency);
        Win32::QueryPerformanceCounter(&start);
        if (frequency.QuadPart <= 0) frequency.QuadPart = 1;
    }
    Win32::LARGE_INTEGER frequency{};
    Win32::LARGE_INTEGER start{};
};
}  // namespace

double ElapsedSeconds()
{
    static const Clock clock;  // initialised once, safely, on first use
    Win32::LARGE_INTEGER now{};
    Win32::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - clock.start.QuadPart) / static_cast<double>(clock.frequency.QuadPart);
}

}  // namespace Tarn
