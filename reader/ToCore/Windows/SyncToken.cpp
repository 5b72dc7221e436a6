#include "reader/ToCore/Windows/SyncToken.h"

#include <cstring>

#include "CStd/CStd.h"
#include "CStd/HResult.h"
#include "CStd/Report.h"
#include "logger/Log.h"
#include "reader/ToCore/Windows/SyncTokenWindows.h"

namespace Tarn::VELL::Reader {

SyncToken* SyncToken::GetAvailableSyncToken()
{
    SyncToken* token = SyncTokenPool::Instance().Acquire();
    if (token == nullptr)
        ReportAssertion("!\"Failed to get an available SyncToken.  Is the pool empty?\"", "", "SyncToken", 19,
                        "Tarn::VELL::Reader::SyncToken::GetAvailableSyncToken");
    return token;
}

SyncToken* AsyncRead(Win32::HANDLE file, std::uint32_t size, std::uint32_t offsetLow, std::uint32_t offsetHigh, void* buffer)
{
    SyncToken* token = SyncToken::GetAvailableSyncToken();
    if (size == 0) return token;
    token->overlapped->Offset = offsetLow;
    token->overlapped->OffsetHigh = offsetHigh;
    Win32::DWORD read = 0;
    if (Win32::ReadFile(file, buffer, size, &read, token->overlapped)) {
        token->bytesTransferred = read;
        return token;
    }
    const Win32::DWORD error = Win32::GetLastError();
    if (error == Win32::kErrorIoPending)
        token->pendingFile = file;
    else
        token->errorCode = HResultFromWin32(static_cast<std::int32_t>(error));
    return token;
}

bool SyncToken::Wait()
{
    if (pendingFile == nullptr) return true;
    for (;;) {
        const Win32::DWORD waited = Win32::WaitForSingleObjectEx(overlapped->hEvent, Win32::INFINITE, Win32::TRUE);
        if (waited == Win32::WAIT_IO_COMPLETION) continue;
        if (waited != Win32::WAIT_OBJECT_0) return false;
        break;
    }
    Win32::DWORD bytes = 0;
    if (!Win32::GetOverlappedResult(pendingFile, overlapped, &bytes, Win32::FALSE))
        errorCode = HResultFromWin32(static_cast<std::int32_t>(Win32::GetLastError()));
    bytesTransferred = bytes;
    pendingFile = nullptr;
    return true;
}

const char* SyncToken::GetErrorText()
{
    Wait();
    if (errorText[0] == '\0' &&
        Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              static_cast<Win32::DWORD>(errorCode), Win32::LANG_NEUTRAL_DEFAULT, errorText,
                              sizeof(errorText), nullptr) == 0)
        std_strncpy(errorText, sizeof(errorText), "Failed to get error text", TRUNCATE);
    return errorText;
}

void ReportReadError(std::int32_t errorCode, const char* errorText)
{
    Logger::LogErrorTagOnly("%s: AsyncRead or SyncToken::Wait failed with error \"%s\" (%d).", "Tarn::VELL::Reader::SyncRead",
                            errorText, errorCode);
}

bool SyncRead(Win32::HANDLE file, std::uint32_t size, std::uint32_t offsetLow, std::uint32_t offsetHigh,
              std::uint32_t* bytesRead, void* buffer)
{
    SyncToken* token = AsyncRead(file, size, offsetLow, offsetHigh, buffer);
    // A wait that fails leaves the read unfinished: never report that as a success.
    if (!token->Wait() && token->errorCode == 0) token->errorCode = kFail;
    if (bytesRead) *bytesRead = token->bytesTransferred;
    const bool succeeded = token->errorCode == 0;
    if (!succeeded) ReportReadError(token->errorCode, token->GetErrorText());
    SyncTokenPool::Instance().Release(token);
    return succeeded;
}

}  // namespace Tarn::VELL::Reader
