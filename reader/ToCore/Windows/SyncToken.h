// Overlapped reads through a small process-wide pool of sync tokens. A token carries every
// per-read resource (event, OVERLAPPED record, result fields, error text), preallocated, so a
// read allocates nothing; the pool bounds the reads in flight to four, and a fifth reader
// waits until a token is returned.
//
// The library reads synchronously: start a read (AsyncRead), Wait for it, Release the token;
// SyncRead packages that. Every user holds at most one token at a time, so readers cannot
// deadlock on the pool. Any thread may read.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

namespace Tarn::VELL::Reader {

struct SyncToken {
    Win32::HANDLE pendingFile;    // the file of a read not yet waited for; null otherwise
    Win32::OVERLAPPED* overlapped;  // the pool's record for this token
    std::uint32_t bytesTransferred;
    std::int32_t errorCode;       // HRESULT of the last read; 0 for success
    char errorText[100];          // filled by GetErrorText

    // True once no read is pending any more (its results are final); false when the wait
    // itself failed. Idempotent.
    bool Wait();
    // The system's text for errorCode, produced on first use.
    const char* GetErrorText();

    // A free token, marked in use; a failure to get one is a programming error.
    static SyncToken* GetAvailableSyncToken();
};

// Starts a read of size bytes at the 64-bit offset (low, high) into buffer; the caller must
// Wait and then release the token (SyncTokenPool::Instance().Release).
SyncToken* AsyncRead(Win32::HANDLE file, std::uint32_t size, std::uint32_t offsetLow, std::uint32_t offsetHigh, void* buffer);

// Reads and waits. True when the read completed without error; fewer bytes than asked (the
// end of the file) is not an error here. *bytesRead (when given) receives the count.
bool SyncRead(Win32::HANDLE file, std::uint32_t size, std::uint32_t offsetLow, std::uint32_t offsetHigh,
              std::uint32_t* bytesRead, void* buffer);

// The report SyncRead gives for a failed read with this HRESULT.
void ReportReadError(std::int32_t errorCode, const char* errorText);

}  // namespace Tarn::VELL::Reader
