// Overlapped ReadFile, GetOverlappedResult, CloseHandle and the replaceable call table.
#include <algorithm>
#include <cstring>

#include "PlatformTestSupport.h"
#include "support/PlatformFaults.h"

using namespace PlatformTest;

namespace {

// One overlapped read as the library makes it: the bytes read, or "<error N>" with everything
// the failure must show. A read the system answers as pending is waited for.
std::string Read(Win32::HANDLE file, std::uint64_t offset, Win32::DWORD size, bool countPointer = true)
{
    ScopedHandle event = Event(true);
    std::string buffer(size + 1, '?');
    Win32::OVERLAPPED overlapped = At(offset, event.get());
    overlapped.Internal = Win32::STATUS_PENDING;  // whatever a record held before is replaced
    overlapped.InternalHigh = 12345;
    Win32::DWORD bytes = 77, result = 77;
    Win32::BOOL ok = Win32::ReadFile(file, buffer.data(), size, countPointer ? &bytes : nullptr, &overlapped);
    Win32::DWORD error = ok ? 0 : Win32::GetLastError();
    const bool waited = error == Win32::kErrorIoPending;
    if (waited) {
        EXPECT_FALSE(TarnTest::kPosixLayer) << "the POSIX layer completes every read at once";
        EXPECT_EQ(Win32::WaitForSingleObject(event.get(), Win32::INFINITE), Win32::WAIT_OBJECT_0);
        ok = Win32::GetOverlappedResult(file, &overlapped, &bytes, Win32::FALSE);
        error = ok ? 0 : Win32::GetLastError();
    }
    // The record keeps the outcome: asking again gives the same answer.
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::GetOverlappedResult(file, &overlapped, &result, Win32::FALSE), ok);
    if (!ok) {
        EXPECT_EQ(Win32::GetLastError(), error);
    }
    EXPECT_EQ(result, overlapped.InternalHigh);
    EXPECT_EQ(countPointer || waited ? bytes : result, overlapped.InternalHigh);
    if (overlapped.InternalHigh > size) return "<count " + std::to_string(overlapped.InternalHigh) + ">";
    EXPECT_EQ(buffer[overlapped.InternalHigh], '?') << "read past the count";
    if (!ok) return "<error " + std::to_string(error) + (result == 0 ? ">" : " with bytes>");
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_OBJECT_0) << "the event is signalled";
    EXPECT_TRUE(Win32::GetOverlappedResult(file, &overlapped, &result, Win32::TRUE));
    return buffer.substr(0, overlapped.InternalHigh);
}

}  // namespace

// On POSIX a read completes at once (a real system may answer "pending" and finish later); at
// or past the end it fails with ERROR_HANDLE_EOF, and one that crosses the end returns the
// bytes up to it.
TEST(PlatformReads, OverlappedReadsReturnTheBytesUpToTheEnd)
{
    TempDir dir;
    const std::string content = Pattern(1000);
    ScopedHandle file(OpenForReading(dir.Write("data.bin", content)));
    ScopedHandle empty(OpenForReading(dir.Write("empty.bin", "")));
    MakeSparseFile(dir / "huge.bin", k4GiB + 20, {{16, "LOW!"}, {k4GiB - 2, "EDGE"}, {k4GiB + 16, "HIGH"}});
    ScopedHandle huge(OpenForReading(dir / "huge.bin"));  // OffsetHigh addresses bytes beyond 4 GiB
    const std::string eof = "<error 38>";
    const std::tuple<Win32::HANDLE, std::uint64_t, Win32::DWORD, std::string> cases[] = {
        {file.get(), 100, 200, content.substr(100, 200)}, {file.get(), 0, 1000, content}, {file.get(), 0, 4096, content},
        {file.get(), 990, 200, content.substr(990)}, {file.get(), 999, 4, content.substr(999)},
        {file.get(), 0, 0, ""}, {file.get(), 500, 0, ""}, {file.get(), 1000, 0, ""},  // a zero-byte read succeeds anywhere
        {file.get(), 1000, 4, eof}, {file.get(), 1001, 4, eof}, {file.get(), 1u << 20, 4, eof}, {file.get(), k4GiB + 5, 4, eof},
        {empty.get(), 0, 4, eof}, {huge.get(), 16, 4, "LOW!"}, {huge.get(), k4GiB + 16, 4, "HIGH"},
        {huge.get(), k4GiB - 2, 4, "EDGE"},  // Offset 0xFFFFFFFE: the read crosses into the high half
        {huge.get(), k4GiB + 18, 8, "GH"}, {huge.get(), k4GiB + 20, 8, eof}};
    for (const auto& [handle, offset, size, expected] : cases) {
        EXPECT_EQ(Read(handle, offset, size), expected) << offset << "+" << size;
        EXPECT_EQ(Read(handle, offset, size, false), expected) << offset << "+" << size;
    }
}

TEST(PlatformHandles, HandlesCloseOnceAndReadFileTakesOnlyFiles)
{
    TempDir dir;
    ScopedHandle event = Event(true);
    char buffer[4];
    Win32::OVERLAPPED overlapped = At(0);
    for (Win32::HANDLE notAFile : {event.get(), Win32::INVALID_HANDLE_VALUE, static_cast<Win32::HANDLE>(nullptr)}) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::ReadFile(notAFile, buffer, sizeof(buffer), nullptr, &overlapped));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
    for (Win32::HANDLE handle : {OpenForReading(dir.Write("file.bin", "x")), Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr),
                                 Win32::CreateSemaphoreA(nullptr, 0, 1, nullptr), static_cast<Win32::HANDLE>(nullptr)}) {
        EXPECT_EQ(Win32::CloseHandle(handle), handle != nullptr ? Win32::TRUE : Win32::FALSE);
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::CloseHandle(handle));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
    // On Windows INVALID_HANDLE_VALUE is also the current process, which closes without effect.
    if (TarnTest::kPosixLayer) {
        EXPECT_FALSE(Win32::CloseHandle(Win32::INVALID_HANDLE_VALUE));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
}

// Calls go through a table that a test may change entry by entry.
namespace {
int gReadCalls = 0;
std::string gDebugOutput;
}  // namespace

TEST(PlatformCallTable, ReplacedCallsAreTheOnesCalledUntilTheTableIsRestored)
{
    TempDir dir;
    dir.Write("a.olm", "x");
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    gReadCalls = 0;
    gDebugOutput.clear();
    {
        TarnTest::ScopedCalls calls;
        // The third read fails as a device error would.
        Win32::gCalls.ReadFile = [](Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD* bytes, Win32::OVERLAPPED* at) {
            if (++gReadCalls != 3) return Win32::DefaultCalls().ReadFile(file, buffer, size, bytes, at);
            *bytes = 0;
            Win32::CompleteOverlapped(at, Win32::kErrorReadFault, 0);
            Win32::SetLastError(Win32::kErrorReadFault);
            return Win32::FALSE;
        };
        Win32::gCalls.FindFirstFileA = [](Win32::LPCSTR, Win32::WIN32_FIND_DATAA*) {
            Win32::SetLastError(Win32::kErrorReadFault);
            return Win32::INVALID_HANDLE_VALUE;
        };
        Win32::gCalls.OutputDebugStringA = [](Win32::LPCSTR text) { gDebugOutput += text; };
        for (int call = 1; call <= 4; ++call) EXPECT_EQ(Read(file.get(), 2, 4), call == 3 ? "<error 30>" : "2345") << call;
        EXPECT_EQ(Names(FindAll(dir / "*.olm")), std::vector<std::string>{"<error 30>"});
        Win32::OutputDebugStringA("to the debugger\n");
        EXPECT_EQ(gDebugOutput, "to the debugger\n");
        Win32::RestoreDefaultCalls();
        EXPECT_EQ(std::memcmp(&Win32::gCalls, &Win32::DefaultCalls(), sizeof(Win32::CallTable)), 0);
        EXPECT_EQ(Names(FindAll(dir / "*.olm")), std::vector<std::string>{"a.olm"});
        Win32::gCalls.ReadFile = nullptr;
    }
    EXPECT_EQ(Read(file.get(), 0, 4), "0123");  // ScopedCalls restored the table too
    Win32::OutputDebugStringA("unseen");
    EXPECT_EQ(gDebugOutput, "to the debugger\n");
    EXPECT_EQ(gReadCalls, 4);
}
