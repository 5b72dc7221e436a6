// The platform layer opens regular files only and never waits on anything else: a FIFO or a
// device given to CreateFileA, _fsopen or fopen_s fails at once as access denied, and the calls
// that only look at a path (attributes, status, final path) answer for a FIFO without opening
// it. GetFinalPathNameA resolves a path to the one absolute location that every spelling and
// every link of it reaches.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>

#include "PlatformTestSupport.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace PlatformTest;

namespace {

// Runs the call on another thread. Should it wait on the FIFO, a writer comes and goes so that
// it can end, and false is returned; in the good case nothing waits. (A Windows device such as
// NUL never holds a reader back, so there the call is only waited for.)
bool Prompt(const std::string& fifo, const std::function<void()>& call)
{
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
#if !defined(_WIN32)
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
#else
    (void)fifo;
#endif
    return false;
}

std::string Final(const std::string& path)
{
    char buffer[4096];
    const Win32::DWORD n = Win32::GetFinalPathNameA(path.c_str(), buffer, sizeof(buffer));
    return n == 0 ? "<error " + std::to_string(Win32::GetLastError()) + ">" : std::string(buffer, n);
}

}  // namespace

TEST(PlatformSpecialFiles, FifosAndDevicesAreRefusedAsAccessDeniedWithoutWaiting)
{
    TempDir dir;
#if defined(_WIN32)
    // Windows has no FIFOs; a device name opens the device, in any directory and with any
    // extension (Windows before 11, Wine).
    const std::string fifo = dir / "NUL";
    const std::string specials[] = {fifo, "NUL", Backslashed(dir / "nul.txt")};
#else
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string specials[] = {fifo, Backslashed(dir / "PIPE"), "/dev/null"};
#endif
    for (const std::string& path : specials) {
        SCOPED_TRACE(path);
        Win32::DWORD openError = 0, streamError = 0, secureError = 0;
        int streamErrno = 0, secureResult = 0;
        std::FILE* secure = reinterpret_cast<std::FILE*>(1);
        const bool finished = Prompt(fifo, [&] {
            openError = OpenError(path);
            errno = 0;
            std::FILE* stream = Win32::_fsopen(path.c_str(), "rb", Win32::_SH_DENYNO);
            streamErrno = errno;
            streamError = Win32::GetLastError();
            if (stream) Win32::fclose(stream);
            secureResult = Win32::fopen_s(&secure, path.c_str(), "rt");
            secureError = Win32::GetLastError();
            if (secure) Win32::fclose(secure);
        });
        EXPECT_TRUE(finished) << "an open waited on " << path;
        EXPECT_EQ(openError, Win32::kErrorAccessDenied);
        EXPECT_EQ(streamErrno, EACCES);
        EXPECT_EQ(streamError, Win32::kErrorAccessDenied);
        EXPECT_EQ(secureResult, EACCES);
        EXPECT_EQ(secure, nullptr);
        EXPECT_EQ(secureError, Win32::kErrorAccessDenied);
    }
    // Looking at the FIFO or the device opens nothing: it is no directory and no regular file.
    const bool finished = Prompt(fifo, [&] {
        EXPECT_EQ(Win32::GetFileAttributesA(fifo.c_str()) & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
        struct Win32::_stat64i32 status {};
        const int statResult = Win32::_stat64i32(fifo.c_str(), &status);
        EXPECT_TRUE(statResult != 0 || (status.st_mode & Win32::_S_IFMT) != Win32::_S_IFREG);
#if !defined(_WIN32)
        EXPECT_EQ(statResult, 0);  // a FIFO exists
        EXPECT_EQ(Final(fifo), fs::canonical(fifo).string());
#endif
    });
    EXPECT_TRUE(finished);
    // A regular file behind the same calls still opens and reads.
    const std::string file = dir.Write("f.bin", "bytes");
    EXPECT_EQ(ReadWhole(file), "bytes");
    std::FILE* stream = nullptr;
    ASSERT_EQ(Win32::fopen_s(&stream, file.c_str(), "rb"), 0);
    char buffer[8] = {};
    EXPECT_EQ(Win32::fread(buffer, 1, sizeof(buffer), stream), 5u);
    Win32::fclose(stream);
}

TEST(PlatformFinalPath, ResolvesEverySpellingAndLinkToOneAbsoluteLocation)
{
    TempDir dir;
    const std::string file = dir.Write("Real/Dir/File.txt", "x");
    const std::string real = fs::canonical(file).generic_string();
    EXPECT_EQ(Final(file), real);
    EXPECT_EQ(Final(Backslashed(dir / "real/DIR/../Dir/./file.TXT")), real);
    EXPECT_EQ(Final(dir / "Real/Dir"), fs::canonical(dir / "Real/Dir").generic_string());

    // Too small a buffer: the size needed, terminator included, and nothing written.
    char small[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(Win32::GetFinalPathNameA(file.c_str(), small, sizeof(small)), real.size() + 1);
    EXPECT_EQ(small[0], '#');
    // Nothing there: 0 and the error a search would give.
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::GetFinalPathNameA((dir / "Real/missing.txt").c_str(), small, sizeof(small)), 0u);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorFileNotFound);
    EXPECT_EQ(Win32::GetFinalPathNameA((dir / "none/missing.txt").c_str(), small, sizeof(small)), 0u);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorPathNotFound);
    EXPECT_EQ(Win32::GetFinalPathNameA("", small, sizeof(small)), 0u);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidParameter);

    try {
        fs::create_directory_symlink(dir / "Real", dir / "link");
        fs::create_symlink("Dir/File.txt", dir / "Real/file-link");
    } catch (const fs::filesystem_error& error) {
        GTEST_SKIP() << "symbolic links cannot be made here: " << error.what();
    }
    EXPECT_EQ(Final(dir / "link/Dir/File.txt"), real);
    EXPECT_EQ(Final(dir / "LINK/file-link"), real);
}
