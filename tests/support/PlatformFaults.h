// Fault injection through the platform layer's call table.
#pragma once

#include <atomic>

#include "platform/Win32.h"

namespace TarnTest {

// Restores every entry of the call table when it goes out of scope; change entries of
// Win32::gCalls freely while it lives.
class ScopedCalls {
public:
    ScopedCalls() = default;
    ~ScopedCalls() { Win32::RestoreDefaultCalls(); }
    ScopedCalls(const ScopedCalls&) = delete;
    ScopedCalls& operator=(const ScopedCalls&) = delete;
};

}  // namespace TarnTest
