// Overlapped ReadFile, GetOverlappedResult, CloseHandle and the replaceable call table.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using namespace PlatformTest;
using TarnTest::TempDir;

namespace {

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

std::string Text(const char* buffer, Win32::DWORD size) { return std::string(buffer, size); }

}  // namespace

TEST(PlatformReads, OverlappedReadCompletesAtOnceAndSignalsItsEvent)
{
    TempDir dir;
    const std::string content = Pattern(1000);
    ScopedHandle file(OpenForReading(dir.Write("data.bin", content)));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    ASSERT_NE(event.get(), nullptr);

    Win32::OVERLAPPED overlapped = At(100, event.get());
    overlapped.Internal = Win32::STATUS_PENDING;  // whatever a record held before is replaced
    overlapped.InternalHigh = 12345;
    char buffer[200];
    Win32::DWORD bytes = 0xDEADu;
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped));
    EXPECT_EQ(bytes, sizeof(buffer));
    EXPECT_EQ(Text(buffer, bytes), content.substr(100, 200));
    EXPECT_EQ(overlapped.Internal, 0u);
    EXPECT_EQ(overlapped.InternalHigh, sizeof(buffer));
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_OBJECT_0);

    Win32::DWORD result = 0;
    EXPECT_TRUE(Win32::GetOverlappedResult(file.get(), &overlapped, &result, Win32::FALSE));
    EXPECT_EQ(result, sizeof(buffer));
    EXPECT_TRUE(Win32::GetOverlappedResult(file.get(), &overlapped, &result, Win32::TRUE));
    EXPECT_EQ(result, sizeof(buffer));

    // Without a count pointer the record still carries the count.
    overlapped = At(990);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), nullptr, &overlapped));
    EXPECT_EQ(overlapped.InternalHigh, 10u);
    EXPECT_EQ(Text(buffer, 10), content.substr(990));
}

TEST(PlatformReads, ReadAtOrPastTheEndFailsWithHandleEof)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    ScopedHandle empty(OpenForReading(dir.Write("empty.bin", "")));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    ASSERT_NE(empty.get(), Win32::INVALID_HANDLE_VALUE);
    struct Case {
        Win32::HANDLE file;
        std::uint64_t offset;
    };
    const Case cases[] = {{file.get(), 10}, {file.get(), 11}, {file.get(), 1u << 20}, {file.get(), k4GiB + 5}, {empty.get(), 0}};
    for (const Case& c : cases) {
        Win32::OVERLAPPED overlapped = At(c.offset);
        char buffer[4];
        Win32::DWORD bytes = 77;
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::ReadFile(c.file, buffer, sizeof(buffer), &bytes, &overlapped)) << c.offset;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorHandleEof) << c.offset;
        EXPECT_EQ(bytes, 0u) << c.offset;
        EXPECT_EQ(overlapped.Internal, Win32::kErrorHandleEof) << c.offset;
        EXPECT_EQ(overlapped.InternalHigh, 0u) << c.offset;

        Win32::DWORD result = 77;
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::GetOverlappedResult(c.file, &overlapped, &result, Win32::FALSE)) << c.offset;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorHandleEof) << c.offset;
        EXPECT_EQ(result, 0u) << c.offset;
    }
}

TEST(PlatformReads, ReadCrossingTheEndReturnsTheBytesUpToIt)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    char buffer[100];
    Win32::DWORD bytes = 0;
    Win32::OVERLAPPED overlapped = At(8);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "89");
    EXPECT_EQ(overlapped.InternalHigh, 2u);
    overlapped = At(0);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "0123456789");
    overlapped = At(9);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "9");
}

TEST(PlatformReads, OffsetHighAddressesBytesBeyondFourGibibytes)
{
    TempDir dir;
    std::string path = dir / "huge.bin";
    MakeSparseFile(path, k4GiB + 20);
    WriteAt(path, 16, "LOW!");
    WriteAt(path, k4GiB - 2, "EDGE");
    WriteAt(path, k4GiB + 16, "HIGH");
    ScopedHandle file(OpenForReading(path));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);

    char buffer[8];
    Win32::DWORD bytes = 0;
    Win32::OVERLAPPED overlapped = At(16);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "LOW!");
    overlapped = At(k4GiB + 16);
    ASSERT_EQ(overlapped.OffsetHigh, 1u);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "HIGH");
    overlapped = At(k4GiB - 2);  // Offset 0xFFFFFFFE: the read crosses into the high half
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "EDGE");
    overlapped = At(k4GiB + 18);
    ASSERT_TRUE(Win32::ReadFile(file.get(), buffer, 8, &bytes, &overlapped));
    EXPECT_EQ(Text(buffer, bytes), "GH");
    overlapped = At(k4GiB + 20);
    EXPECT_FALSE(Win32::ReadFile(file.get(), buffer, 8, &bytes, &overlapped));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorHandleEof);
}

TEST(PlatformReads, ZeroByteReadSucceedsWithoutTransferring)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    for (std::uint64_t offset : {0u, 5u, 10u}) {
        Win32::ResetEvent(event.get());
        char buffer[1] = {'?'};
        Win32::DWORD bytes = 77;
        Win32::OVERLAPPED overlapped = At(offset, event.get());
        overlapped.InternalHigh = 77;
        EXPECT_TRUE(Win32::ReadFile(file.get(), buffer, 0, &bytes, &overlapped)) << offset;
        EXPECT_EQ(bytes, 0u) << offset;
        EXPECT_EQ(overlapped.Internal, 0u) << offset;
        EXPECT_EQ(overlapped.InternalHigh, 0u) << offset;
        EXPECT_EQ(buffer[0], '?') << offset;
        EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_OBJECT_0) << offset;
    }
}

TEST(PlatformReads, ManyThreadsReadOneHandleAtOnce)
{
    TempDir dir;
    const std::string content = Pattern(1 << 20);
    ScopedHandle file(OpenForReading(dir.Write("shared.bin", content)));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            std::minstd_rand random(t + 1);
            Win32::HANDLE event = Win32::CreateEventA(nullptr, Win32::FALSE, Win32::FALSE, nullptr);
            std::vector<char> buffer(8192);
            for (int i = 0; i < 400; ++i) {
                std::uint64_t offset = random() % (content.size() + 100);
                Win32::DWORD size = static_cast<Win32::DWORD>(1 + random() % buffer.size());
                Win32::OVERLAPPED overlapped = At(offset, event);
                Win32::DWORD bytes = 0;
                Win32::BOOL ok = Win32::ReadFile(file.get(), buffer.data(), size, &bytes, &overlapped);
                if (offset >= content.size()) {
                    if (ok || Win32::GetLastError() != Win32::kErrorHandleEof) ++wrong;
                    continue;
                }
                std::size_t expected = std::min<std::size_t>(size, content.size() - offset);
                if (!ok || bytes != expected || overlapped.InternalHigh != expected ||
                    std::memcmp(buffer.data(), content.data() + offset, expected) != 0 ||
                    Win32::WaitForSingleObject(event, 0) != Win32::WAIT_OBJECT_0)
                    ++wrong;
            }
            Win32::CloseHandle(event);
        });
    }
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PlatformReads, GetOverlappedResultWithoutWaitingReportsAPendingRecordAsIncomplete)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    Win32::OVERLAPPED overlapped = At(0, event.get());
    overlapped.Internal = Win32::STATUS_PENDING;
    Win32::DWORD bytes = 0;
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::FALSE));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorIoIncomplete);
    EXPECT_EQ(overlapped.Internal, Win32::STATUS_PENDING);
}

TEST(PlatformReads, GetOverlappedResultWaitsForAnotherThreadToFinishTheRecord)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    struct Finish {
        Win32::BOOL manualReset;
        Win32::DWORD error;
        Win32::DWORD bytes;
    };
    for (const Finish& finish : {Finish{Win32::TRUE, 0, 7}, Finish{Win32::FALSE, 0, 3}, Finish{Win32::FALSE, Win32::kErrorReadFault, 0}}) {
        ScopedHandle event(Win32::CreateEventA(nullptr, finish.manualReset, Win32::FALSE, nullptr));
        Win32::OVERLAPPED overlapped = At(0, event.get());
        overlapped.Internal = Win32::STATUS_PENDING;
        std::thread finisher([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            overlapped.InternalHigh = finish.bytes;
            overlapped.Internal = finish.error;
            Win32::SetEvent(overlapped.hEvent);
        });
        Win32::DWORD bytes = 99;
        Win32::SetLastError(0);
        Win32::BOOL ok = Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::TRUE);
        finisher.join();
        EXPECT_EQ(ok, finish.error == 0 ? Win32::TRUE : Win32::FALSE);
        EXPECT_EQ(bytes, finish.bytes);
        if (finish.error != 0) {
            EXPECT_EQ(Win32::GetLastError(), finish.error);
        }
    }
}

TEST(PlatformHandles, ClosingAHandleTwiceFailsWithInvalidHandle)
{
    TempDir dir;
    Win32::HANDLE handles[] = {
        OpenForReading(dir.Write("file.bin", "x")),
        Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr),
        Win32::CreateSemaphoreA(nullptr, 0, 1, nullptr),
    };
    for (Win32::HANDLE handle : handles) {
        ASSERT_NE(handle, nullptr);
        ASSERT_NE(handle, Win32::INVALID_HANDLE_VALUE);
        EXPECT_TRUE(Win32::CloseHandle(handle));
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::CloseHandle(handle));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
    for (Win32::HANDLE never : {static_cast<Win32::HANDLE>(nullptr), Win32::INVALID_HANDLE_VALUE}) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::CloseHandle(never));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
}

TEST(PlatformHandles, ReadFileRefusesAHandleThatIsNotAFile)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    for (Win32::HANDLE handle : {event.get(), Win32::INVALID_HANDLE_VALUE, static_cast<Win32::HANDLE>(nullptr)}) {
        char buffer[4];
        Win32::OVERLAPPED overlapped = At(0);
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::ReadFile(handle, buffer, sizeof(buffer), nullptr, &overlapped));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    }
}

// --- The call table -------------------------------------------------------------------

namespace {

std::atomic<int> gReadCalls{0};

Win32::BOOL FailTheThirdRead(Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD* bytesRead,
                             Win32::OVERLAPPED* overlapped)
{
    if (++gReadCalls == 3) {
        Win32::SetLastError(Win32::kErrorReadFault);
        return Win32::FALSE;
    }
    return Win32::DefaultCalls().ReadFile(file, buffer, size, bytesRead, overlapped);
}

// A read that is left pending and finished by another thread once gRelease is set, as a
// real system may do.
std::thread gFinisher;
Win32::HANDLE gRelease = nullptr;

Win32::BOOL ReadLater(Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD* bytesRead,
                      Win32::OVERLAPPED* overlapped)
{
    if (bytesRead) *bytesRead = 0;
    overlapped->Internal = Win32::STATUS_PENDING;
    overlapped->InternalHigh = 0;
    Win32::ResetEvent(overlapped->hEvent);
    gFinisher = std::thread([=] {
        Win32::WaitForSingleObject(gRelease, Win32::INFINITE);
        Win32::OVERLAPPED record = *overlapped;
        record.hEvent = nullptr;
        Win32::DWORD bytes = 0;
        Win32::BOOL ok = Win32::DefaultCalls().ReadFile(file, buffer, size, &bytes, &record);
        overlapped->InternalHigh = bytes;
        overlapped->Internal = ok ? 0 : Win32::GetLastError();
        Win32::SetEvent(overlapped->hEvent);
    });
    Win32::SetLastError(Win32::kErrorIoPending);
    return Win32::FALSE;
}

Win32::HANDLE FindFailsWithAnIoError(Win32::LPCSTR, Win32::WIN32_FIND_DATAA*)
{
    Win32::SetLastError(Win32::kErrorReadFault);
    return Win32::INVALID_HANDLE_VALUE;
}

std::string gDebugOutput;
void CaptureDebugOutput(Win32::LPCSTR text) { gDebugOutput += text; }

}  // namespace

TEST(PlatformCallTable, AReplacedReadFileIsTheOneCalledUntilTheTableIsRestored)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    ASSERT_NE(file.get(), Win32::INVALID_HANDLE_VALUE);
    char buffer[4];
    Win32::DWORD bytes = 0;
    gReadCalls = 0;
    {
        TarnTest::ScopedCalls calls;
        Win32::gCalls.ReadFile = FailTheThirdRead;
        for (int call = 1; call <= 4; ++call) {
            Win32::OVERLAPPED overlapped = At(2);
            Win32::SetLastError(0);
            Win32::BOOL ok = Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped);
            if (call == 3) {
                EXPECT_FALSE(ok);
                EXPECT_EQ(Win32::GetLastError(), Win32::kErrorReadFault);
            } else {
                EXPECT_TRUE(ok) << call;
                EXPECT_EQ(Text(buffer, bytes), "2345") << call;
            }
        }
    }
    EXPECT_EQ(gReadCalls.load(), 4);
    EXPECT_EQ(Win32::gCalls.ReadFile, Win32::DefaultCalls().ReadFile);
    Win32::OVERLAPPED overlapped = At(0);
    EXPECT_TRUE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped));
    EXPECT_EQ(gReadCalls.load(), 4);
}

TEST(PlatformCallTable, AReplacedReadFileMayFinishLaterOnAnotherThread)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("data.bin", "0123456789abcdef")));
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::TRUE, nullptr));
    ScopedHandle release(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    gRelease = release.get();
    TarnTest::ScopedCalls calls;
    Win32::gCalls.ReadFile = ReadLater;

    char buffer[8] = {};
    Win32::DWORD bytes = 0;
    Win32::OVERLAPPED overlapped = At(4, event.get());
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::ReadFile(file.get(), buffer, 6, &bytes, &overlapped));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorIoPending);
    EXPECT_EQ(Win32::WaitForSingleObjectEx(event.get(), 0, Win32::TRUE), Win32::WAIT_TIMEOUT);
    EXPECT_FALSE(Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::FALSE));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorIoIncomplete);

    Win32::SetEvent(release.get());
    EXPECT_EQ(Win32::WaitForSingleObjectEx(event.get(), Win32::INFINITE, Win32::TRUE), Win32::WAIT_OBJECT_0);
    EXPECT_TRUE(Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::FALSE));
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(Text(buffer, 6), "456789");
    gFinisher.join();
}

TEST(PlatformCallTable, RestoreDefaultCallsPutsEveryOriginalBack)
{
    TempDir dir;
    dir.Write("a.olm", "x");
    TarnTest::ScopedCalls calls;
    Win32::gCalls.FindFirstFileA = FindFailsWithAnIoError;
    Win32::gCalls.OutputDebugStringA = CaptureDebugOutput;
    Win32::gCalls.ReadFile = FailTheThirdRead;

    Win32::WIN32_FIND_DATAA data{};
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::FindFirstFileA((dir / "*.olm").c_str(), &data), Win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorReadFault);
    gDebugOutput.clear();
    Win32::OutputDebugStringA("to the debugger\n");
    EXPECT_EQ(gDebugOutput, "to the debugger\n");

    Win32::RestoreDefaultCalls();
    EXPECT_EQ(std::memcmp(&Win32::gCalls, &Win32::DefaultCalls(), sizeof(Win32::CallTable)), 0);
    EXPECT_EQ(Names(FindAll(dir / "*.olm")), std::vector<std::string>{"a.olm"});
    Win32::OutputDebugStringA("unseen");
    EXPECT_EQ(gDebugOutput, "to the debugger\n");
}
