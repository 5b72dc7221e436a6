// Fails each platform call of a whole solution load, read and shutdown in turn, with the errors a
// real system gives for it, and checks what the library does about each failure.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "platform/Win32.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/Sample.h"

namespace {

namespace fs = std::filesystem;
using namespace Win32;
using Win32::SetLastError;  // not the system's own

// Every storage kind and codec, across both projects and both file versions of the sample.
const char* const kFiles[] = {
    "DATA/readme.txt",                    // zlib, from patch
    "DATA/shared.txt",                    // zlib, from client
    "DATA/Characters/Hero/hero.dds",      // LZMA, from patch
    "DATA/Characters/Hero/hero.skn",      // stored
    "DATA/Characters/Villain/villain.dds",  // zlib, an earlier file version
    "DATA/Levels/Forest/Deep/Cave/map.bin",  // LZMA, an earlier file version
    "DATA/legacy/old.txt",                // stored, an earlier file version
    "DATA/patch_notes.txt",               // stored, from patch
    "DATA/Sounds/ambient.wav",            // zlib over several input chunks and two blocks
    "DATA/Sounds/exact.bin",              // LZMA filling one block exactly
    "Config/settings.ini",                // managed
    "Config/defaults.ini",                // managed, an earlier file version
    "launcher.cfg",                       // naked
};

// What a run of the scenario got: the files read in full, the entries of DATA.
struct Outcome {
    bool initialized = false;
    std::map<std::string, std::string> files;
    unsigned listed = 0;
};

Outcome RunScenario(const std::string& deploy)
{
    Outcome outcome;
    outcome.initialized = VellInitialize(0, 0, 0, deploy.c_str()) == VELL_OK;
    if (!outcome.initialized) return outcome;
    for (const char* path : kFiles) {
        VellFileHandle file = VellOpenFile(path);
        if (file == nullptr) continue;
        std::string bytes(static_cast<std::size_t>(VellGetFileSize(file)), '\0');
        std::uint32_t read = 0;
        const bool complete = VellRead(file, 0, static_cast<std::uint32_t>(bytes.size()), &read, bytes.data()) == VELL_OK &&
                              read == bytes.size();
        VellCloseFile(file);
        if (complete) outcome.files[path] = bytes;
    }
    if (VellFindHandle search = VellFindFirstFile("DATA/*")) {
        while (VellFindNextFile(search, nullptr, nullptr, 0, nullptr) == VELL_OK) ++outcome.listed;
        VellFindClose(search);
    }
    VellShutdown();
    return outcome;
}

// The call table with every call that can fail wrapped: the failAt-th wrapped call of a run
// fails with one of the errors a real system gives for that call (taken in turn from step to
// step); the others go to the default calls. Events, the semaphore and the waits act only on
// the token pool's own handles, where no real system fails them (the library takes such a
// failure for a broken pool and stops); ferror, OutputDebugStringA and GetLocalTime cannot fail.
struct Injector {
    unsigned long calls = 0;
    unsigned long failAt = 0;
    const char* failed = nullptr;   // the entry that failed in this run
    std::size_t messagesBefore = 0;  // messages logged before the failure
    std::set<FILE*> brokenStreams;  // streams whose reads failed, as ferror tells
    const TarnTest::LogCapture* log = nullptr;
} gInjector;

bool Due(const char* entry)
{
    if (++gInjector.calls != gInjector.failAt) return false;
    gInjector.failed = entry;
    gInjector.messagesBefore = gInjector.log->Entries().size();
    return true;
}

// One of the errors, a different one from step to step.
template <typename T>
T Pick(std::initializer_list<T> errors)
{
    return errors.begin()[gInjector.failAt % errors.size()];
}

template <typename T>
T FailWin32(T result, std::initializer_list<DWORD> errors)
{
    SetLastError(Pick(errors));
    return result;
}

// C-runtime failures set errno and, as the Microsoft runtime does, the matching last error.
template <typename T>
T FailCrt(T result, std::initializer_list<int> errnos)
{
    errno = Pick(errnos);
    SetLastError(errno == ENOENT ? kErrorFileNotFound : errno == EACCES ? kErrorAccessDenied
                 : errno == EMFILE ? kErrorTooManyOpenFiles : errno == ENOMEM ? kErrorNotEnoughMemory : kErrorReadFault);
    return result;
}

const CallTable& D() { return DefaultCalls(); }

void InstallFailingCalls()
{
    CallTable& t = gCalls;
    t.CreateFileA = [](auto... a) {
        return Due("CreateFileA") ? FailWin32(INVALID_HANDLE_VALUE, {kErrorFileNotFound, kErrorAccessDenied, kErrorTooManyOpenFiles,
                                                                   kErrorSharingViolation, kErrorNotEnoughMemory})
                                  : D().CreateFileA(a...);
    };
    t.ReadFile = [](auto... a) {
        return Due("ReadFile") ? FailWin32(FALSE, {kErrorReadFault, kErrorHandleEof, kErrorNotEnoughMemory}) : D().ReadFile(a...);
    };
    t.GetOverlappedResult = [](auto... a) {
        return Due("GetOverlappedResult") ? FailWin32(FALSE, {kErrorReadFault, kErrorHandleEof}) : D().GetOverlappedResult(a...);
    };
    // A failed close still releases the handle, as a failed close on a real system does.
    t.CloseHandle = [](HANDLE h) { return D().CloseHandle(h) && !Due("CloseHandle") ? TRUE : FailWin32(FALSE, {kErrorInvalidHandle}); };
    t.GetFileAttributesA = [](auto... a) {
        return Due("GetFileAttributesA") ? FailWin32(INVALID_FILE_ATTRIBUTES, {kErrorFileNotFound, kErrorAccessDenied, kErrorPathNotFound})
                                         : D().GetFileAttributesA(a...);
    };
    t.DeleteFileA = [](auto... a) {
        return Due("DeleteFileA") ? FailWin32(FALSE, {kErrorAccessDenied, kErrorSharingViolation}) : D().DeleteFileA(a...);
    };
    t.GetFinalPathNameA = [](auto... a) {
        return Due("GetFinalPathNameA") ? FailWin32(DWORD{0}, {kErrorFileNotFound, kErrorAccessDenied}) : D().GetFinalPathNameA(a...);
    };
    t.GetCurrentDirectoryA = [](auto... a) { return Due("GetCurrentDirectoryA") ? FailWin32(DWORD{0}, {kErrorNotEnoughMemory}) : D().GetCurrentDirectoryA(a...); };
    t.GetModuleFileNameA = [](auto... a) { return Due("GetModuleFileNameA") ? FailWin32(DWORD{0}, {kErrorInsufficientBuffer}) : D().GetModuleFileNameA(a...); };
    t.FindFirstFileA = [](auto... a) {
        return Due("FindFirstFileA") ? FailWin32(INVALID_HANDLE_VALUE, {kErrorPathNotFound, kErrorAccessDenied, kErrorNotEnoughMemory})
                                     : D().FindFirstFileA(a...);
    };
    t.FindFirstFileExA = [](auto... a) {
        return Due("FindFirstFileExA") ? FailWin32(INVALID_HANDLE_VALUE, {kErrorPathNotFound, kErrorAccessDenied, kErrorNotEnoughMemory})
                                       : D().FindFirstFileExA(a...);
    };
    t.FindNextFileA = [](auto... a) { return Due("FindNextFileA") ? FailWin32(FALSE, {kErrorReadFault, kErrorNotEnoughMemory}) : D().FindNextFileA(a...); };
    t.FindClose = [](HANDLE h) { return D().FindClose(h) && !Due("FindClose") ? TRUE : FailWin32(FALSE, {kErrorInvalidHandle}); };
    t.FormatMessageA = [](auto... a) { return Due("FormatMessageA") ? FailWin32(DWORD{0}, {kErrorMessageNotFound}) : D().FormatMessageA(a...); };
    t.GetProcessMemoryInfo = [](auto... a) { return Due("GetProcessMemoryInfo") ? FailWin32(FALSE, {kErrorAccessDenied}) : D().GetProcessMemoryInfo(a...); };
    t.QueryPerformanceCounter = [](auto... a) { return Due("QueryPerformanceCounter") ? FailWin32(FALSE, {kErrorInvalidParameter}) : D().QueryPerformanceCounter(a...); };
    t.QueryPerformanceFrequency = [](auto... a) { return Due("QueryPerformanceFrequency") ? FailWin32(FALSE, {kErrorInvalidParameter}) : D().QueryPerformanceFrequency(a...); };
    t._fsopen = [](auto... a) { return Due("_fsopen") ? FailCrt<FILE*>(nullptr, {ENOENT, EACCES, EMFILE, ENOMEM}) : D()._fsopen(a...); };
    t.fopen_s = [](FILE** stream, const char* path, const char* mode) {
        if (!Due("fopen_s")) return D().fopen_s(stream, path, mode);
        *stream = nullptr;
        return FailCrt(0, {ENOENT, EACCES, EMFILE, ENOMEM}) + errno;
    };
    t.fclose = [](FILE* stream) {
        gInjector.brokenStreams.erase(stream);
        return D().fclose(stream) == 0 && !Due("fclose") ? 0 : FailCrt(EOF, {EIO});
    };
    t.fread = [](void* buffer, size_t size, size_t count, FILE* stream) {
        if (!Due("fread")) return D().fread(buffer, size, count, stream);
        gInjector.brokenStreams.insert(stream);
        return FailCrt(size_t{0}, {EIO});
    };
    t.fgets = [](char* buffer, int size, FILE* stream) {
        if (!Due("fgets")) return D().fgets(buffer, size, stream);
        gInjector.brokenStreams.insert(stream);
        return FailCrt<char*>(nullptr, {EIO});
    };
    t.fseek = [](auto... a) { return Due("fseek") ? FailCrt(-1, {EIO, EINVAL}) : D().fseek(a...); };
    t.ferror = [](FILE* stream) { return gInjector.brokenStreams.count(stream) ? EIO : D().ferror(stream); };
    t._stat64i32 = [](auto... a) { return Due("_stat64i32") ? FailCrt(-1, {ENOENT, EACCES}) : D()._stat64i32(a...); };
    t._access = [](auto... a) { return Due("_access") ? FailCrt(-1, {ENOENT, EACCES}) : D()._access(a...); };
}

bool IsRelease(const std::string& entry) { return entry == "CloseHandle" || entry == "FindClose" || entry == "fclose"; }

std::vector<std::string> IndexFiles(const fs::path& root)
{
    std::vector<std::string> indexes;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().extension() == ".olm") indexes.push_back(entry.path().string());
    return indexes;
}

TEST(FaultSweep, EveryFailedPlatformCallIsReportedAndHarmless)
{
    TarnSupport::TempDir dir;
    Tarn::VELL::Writer::WriteSampleLayout(dir.Path());
    const std::string deploy = (dir.Path() / "VELL/solutions/game/releases/1.0.0.0/deploy").string();
    const std::vector<std::string> indexes = IndexFiles(dir.Path());
    ASSERT_EQ(indexes.size(), 4u);

    TarnTest::LogCapture log;
    gInjector.log = &log;
    const Outcome reference = RunScenario(deploy);
    ASSERT_TRUE(reference.initialized);
    ASSERT_EQ(reference.files.size(), std::size(kFiles));
    ASSERT_EQ(reference.listed, 8u);  // Characters, Empty, legacy, Levels, Sounds and three files
    ASSERT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();

    std::map<std::string, unsigned> injected;  // per entry
    for (unsigned long step = 1;; ++step) {
        SCOPED_TRACE("failing platform call " + std::to_string(step));
        log.Clear();
        Outcome outcome;
        {
            TarnTest::ScopedCalls calls;
            gInjector = Injector{0, step, nullptr, 0, {}, &log};
            InstallFailingCalls();
            outcome = RunScenario(deploy);
        }
        if (gInjector.failed == nullptr) break;  // the scenario made fewer calls: it ran clean
        ++injected[gInjector.failed];
        SCOPED_TRACE(std::string("the call was ") + gInjector.failed);

        // Reported where it arose (or by the report it was part of), as an error or a warning;
        // a failed release of a handle or stream that was only read loses nothing.
        const std::vector<TarnTest::LogCapture::Entry> entries = log.Entries();
        bool reported = false;
        for (std::size_t i = gInjector.messagesBefore; i < entries.size(); ++i) reported |= entries[i].severity >= VELL_LOG_WARN;
        EXPECT_TRUE(reported || IsRelease(gInjector.failed)) << log.Dump();
        // Whatever was delivered is right; no good archive is lost.
        for (const auto& [path, bytes] : outcome.files) EXPECT_EQ(bytes, reference.files.at(path)) << path;
        for (const std::string& index : indexes) EXPECT_TRUE(fs::exists(index)) << index << " was deleted";
        // And the library starts anew: a clean run reads everything.
        const Outcome clean = RunScenario(deploy);
        EXPECT_TRUE(clean.initialized && clean.files == reference.files && clean.listed == reference.listed);
        if (HasFailure()) break;
    }
    unsigned total = 0;
    std::string perEntry;
    for (const auto& [entry, count] : injected) {
        total += count;
        perEntry += " " + entry + "=" + std::to_string(count);
    }
    std::printf("%u injected failures:%s\n", total, perEntry.c_str());
    RecordProperty("InjectedFailures", static_cast<int>(total));
    // Every kind of call the scenario makes has failed at least once.
    for (const char* entry : {"CreateFileA", "ReadFile", "CloseHandle", "GetFileAttributesA", "FindFirstFileA", "FindNextFileA",
                              "FindClose", "_fsopen", "fopen_s", "fclose", "fread", "fgets", "fseek", "_stat64i32"})
        EXPECT_GT(injected[entry], 0u) << entry;
}

}  // namespace
