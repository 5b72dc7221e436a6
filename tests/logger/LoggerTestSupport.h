// What the logger's tests share: a fixture that gives each test a freshly created built-in log
// manager and collects what reaches the debugger.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logger/LogManager.h"
#include "logger/LogTable.h"
#include "support/PlatformFaults.h"

namespace LoggerTesting {

inline const LogFunctionTable& BuiltIn() { return *Tarn::Logger::BuiltInLogTable(); }

inline std::mutex gDebuggerMutex;
inline std::vector<std::string> gDebuggerLines;

// Each test starts with a freshly created built-in log manager, the debugger's output
// collected, and ends by destroying the manager.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuiltIn().AddReference();
        BuiltIn().ReleaseReference();  // destroys whatever an earlier test left behind
        BuiltIn().AddReference();
        Win32::gCalls.OutputDebugStringA = [](Win32::LPCSTR text) {
            std::lock_guard<std::mutex> guard(gDebuggerMutex);
            gDebuggerLines.push_back(text);
        };
        gDebuggerLines.clear();
    }
    void TearDown() override { BuiltIn().ReleaseReference(); }

    template <typename Emit>
    static std::string StderrOf(Emit emit)
    {
        ::testing::internal::CaptureStderr();
        emit();
        return ::testing::internal::GetCapturedStderr();
    }

    TarnTest::ScopedCalls mCalls;
};

}  // namespace LoggerTesting
