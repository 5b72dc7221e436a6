// Exports of the logging subsystem.
#include "TarnVellIO.h"
#include "logger/EventXMLLogTarget.h"
#include "logger/LogTable.h"

extern "C" VELL_API void VELL_CALL VellSetLogger(const LogFunctionTable* table)
{
    // A null table is outside the contract; refusing it keeps the library's messages flowing.
    if (table == nullptr) return;
    Tarn::Logger::SetLogger(table);
}

extern "C" VELL_API void VELL_CALL EnableEventXMLLogTarget(void)
{
    try {
        Tarn::Logger::EventXMLLogTarget::EnableInstance();
    } catch (...) {
    }
}

extern "C" VELL_API void VELL_CALL RegisterNativeEventCallback(NativeEventCallback callback)
{
    Tarn::Logger::EventXMLLogTarget::SetCallback(callback);
}
