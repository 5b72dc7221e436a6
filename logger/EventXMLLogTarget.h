// A target that hands every record it receives to the host's native event callback as a
// small XML document: the event name "Log" and the severity, tags and message. One instance
// exists, created by the first EnableEventXMLLogTarget and destroyed at process exit.
#pragma once

#include "TarnVellIO.h"
#include "logger/LogTarget.h"

namespace Tarn::Logger {

class EventXMLLogTarget final : public LogTarget {
public:
    EventXMLLogTarget();
    // Leaves the log manager before the settings that its dispatch reads are gone.
    ~EventXMLLogTarget() override { Detach(); }
    // Builds the document and calls the callback; true when one is installed and took it.
    bool Write(const LogRecord& record) override;

    // Creates the instance on first use and registers it with the built-in log manager.
    static void EnableInstance();
    static void SetCallback(NativeEventCallback callback);

private:
    LogTargetSettings mSettings;
};

}  // namespace Tarn::Logger
