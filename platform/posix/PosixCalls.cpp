// The default call table of the POSIX build.
#include "PosixInternal.h"

namespace Win32 {

namespace {
using namespace Posix;
constexpr CallTable kDefaultCalls = {
    CreateFileImpl,
    ReadFileImpl,
    GetOverlappedResultImpl,
    CloseHandleImpl,
    GetFileAttributesImpl,
    DeleteFileImpl,
    GetFinalPathNameImpl,
    GetCurrentDirectoryImpl,
    GetModuleFileNameImpl,
    CreateEventImpl,
    SetEventImpl,
    ResetEventImpl,
    CreateSemaphoreImpl,
    ReleaseSemaphoreImpl,
    WaitForSingleObjectImpl,
    WaitForSingleObjectExImpl,
    FindFirstFileImpl,
    FindFirstFileExImpl,
    FindNextFileImpl,
    FindCloseImpl,
    FormatMessageImpl,
    OutputDebugStringImpl,
    GetLocalTimeImpl,
    GetProcessMemoryInfoImpl,
    QueryPerformanceCounterImpl,
    QueryPerformanceFrequencyImpl,
    FsopenImpl,
    FopenSImpl,
    FcloseImpl,
    FreadImpl,
    FgetsImpl,
    FseekImpl,
    FerrorImpl,
    StatImpl,
    AccessImpl,
};
}  // namespace

constinit CallTable gCalls = kDefaultCalls;

const CallTable& DefaultCalls() { return kDefaultCalls; }

}  // namespace Win32
