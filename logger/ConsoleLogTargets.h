// Targets that write one formatted line per record: to standard error, to standard output,
// and to the debugger's output channel. The log manager owns one of each.
#pragma once

#include "logger/LogTarget.h"

namespace Tarn::Logger {

class BaseConsoleLogTarget : public LogTarget {
public:
    // Leaves the log manager before the settings that its dispatch reads are gone.
    ~BaseConsoleLogTarget() override { Detach(); }

protected:
    BaseConsoleLogTarget();
    // Expands the target's format for record and hands the line to output under the
    // target's lock, so that lines of one target never interleave.
    template <typename Output>
    bool WriteLine(const LogRecord& record, Output output);

    LogTargetSettings mSettings;
};

class StdErrLogTarget : public BaseConsoleLogTarget {
public:
    StdErrLogTarget();
    bool Write(const LogRecord& record) override;
};

class StdOutLogTarget : public BaseConsoleLogTarget {
public:
    StdOutLogTarget();
    bool Write(const LogRecord& record) override;
};

class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
public:
    DebuggerConsoleLogTarget();
    bool Write(const LogRecord& record) override;
};

}  // namespace Tarn::Logger
