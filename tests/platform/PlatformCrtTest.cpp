// C-runtime streams, file status and access tests, error texts and ASCII comparison.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"
#include "support/TempDir.h"

using namespace PlatformTest;
using TarnTest::TempDir;
namespace fs = std::filesystem;

namespace {

// The numbering of the Microsoft C runtime, which the layer reports on every system.
constexpr int kEnoent = 2;
constexpr int kEacces = 13;
constexpr int kEoverflow = 132;

// A stream result that a failed open must overwrite with null.
std::FILE* NotNull()
{
    static char placeholder;
    return reinterpret_cast<std::FILE*>(&placeholder);
}

std::string ReadStream(std::FILE* stream)
{
    std::string content;
    char buffer[256];
    std::size_t n;
    while ((n = Win32::fread(buffer, 1, sizeof(buffer), stream)) > 0) content.append(buffer, n);
    return content;
}

std::string SystemText(Win32::DWORD code, Win32::DWORD size = 100)
{
    std::string buffer(size, '\0');
    Win32::DWORD n = Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                           code, Win32::LANG_NEUTRAL_DEFAULT, buffer.data(), size, nullptr);
    if (n == 0) return "<none>";
    EXPECT_EQ(std::strlen(buffer.c_str()), n) << code;
    return buffer.substr(0, n);
}

std::string CrtText(int number, std::size_t size = 1024)
{
    std::string buffer(size, '#');
    EXPECT_EQ(Win32::strerror_s(buffer.data(), size, number), 0) << number;
    return buffer.c_str();
}

}  // namespace

TEST(PlatformStreams, OpenAcceptsWindowsStylePaths)
{
    TempDir dir;
    dir.Write("Config/Settings.TXT", "hello\nworld\n");
    std::FILE* stream = Win32::_fsopen(Backslashed(dir / "config/settings.txt").c_str(), "rb", Win32::_SH_DENYNO);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadStream(stream), "hello\nworld\n");
    EXPECT_EQ(Win32::ferror(stream), 0);
    EXPECT_EQ(Win32::fclose(stream), 0);

    stream = nullptr;
    ASSERT_EQ(Win32::fopen_s(&stream, (dir / "CONFIG\\SETTINGS.txt").c_str(), "rt"), 0);
    ASSERT_NE(stream, nullptr);
    char line[64];
    ASSERT_NE(Win32::fgets(line, sizeof(line), stream), nullptr);
    EXPECT_STREQ(line, "hello\n");
    EXPECT_EQ(Win32::fseek(stream, 8, SEEK_SET), 0);
    ASSERT_NE(Win32::fgets(line, sizeof(line), stream), nullptr);
    EXPECT_STREQ(line, "rld\n");
    EXPECT_EQ(Win32::fclose(stream), 0);
}

TEST(PlatformStreams, TextModeReadsTheBytesUnchanged)
{
    TempDir dir;
    const std::string content = "one\r\ntwo\r\n\x1Athree\rfour";
    std::string path = dir.Write("text.txt", content);
    std::FILE* stream = Win32::_fsopen(path.c_str(), "rt", Win32::_SH_DENYNO);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadStream(stream), content);
    EXPECT_EQ(Win32::fseek(stream, 0, SEEK_SET), 0);
    char line[64];
    ASSERT_NE(Win32::fgets(line, sizeof(line), stream), nullptr);
    EXPECT_STREQ(line, "one\r\n");
    Win32::fclose(stream);
}

TEST(PlatformStreams, OpeningADirectoryFailsWithEaccesAndAccessDenied)
{
    TempDir dir;
    dir.Write("Folder/file.txt", "x");
    for (const std::string& path : {dir / "Folder", dir / "FOLDER\\", dir.Path().string()}) {
        errno = 0;
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::_fsopen(path.c_str(), "rb", Win32::_SH_DENYNO), nullptr) << path;
        EXPECT_EQ(errno, kEacces) << path;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorAccessDenied) << path;

        std::FILE* stream = NotNull();
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::fopen_s(&stream, path.c_str(), "rt"), kEacces) << path;
        EXPECT_EQ(stream, nullptr) << path;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorAccessDenied) << path;
    }
}

TEST(PlatformStreams, OpeningAMissingFileFailsWithEnoent)
{
    TempDir dir;
    dir.Write("sub/file.txt", "x");
    struct Case {
        const char* path;
        Win32::DWORD lastError;
    };
    for (const Case& c : {Case{"sub/missing.txt", Win32::kErrorFileNotFound}, Case{"SUB\\missing.txt", Win32::kErrorFileNotFound},
                          Case{"nowhere/missing.txt", Win32::kErrorPathNotFound}}) {
        errno = 0;
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::_fsopen((dir / c.path).c_str(), "rb", Win32::_SH_DENYNO), nullptr) << c.path;
        EXPECT_EQ(errno, kEnoent) << c.path;
        EXPECT_EQ(Win32::GetLastError(), c.lastError) << c.path;

        std::FILE* stream = NotNull();
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::fopen_s(&stream, (dir / c.path).c_str(), "rt"), kEnoent) << c.path;
        EXPECT_EQ(stream, nullptr) << c.path;
        EXPECT_EQ(Win32::GetLastError(), c.lastError) << c.path;
    }
}

TEST(PlatformStreams, AFileNameFollowedByASeparatorDoesNotOpen)
{
    TempDir dir;
    dir.Write("Notes.txt", "x");
    for (const char* path : {"Notes.txt\\", "NOTES.TXT\\", "notes.txt/"}) {
        EXPECT_EQ(Win32::_fsopen((dir / path).c_str(), "rb", Win32::_SH_DENYNO), nullptr) << path;
        struct Win32::_stat64i32 status {};
        EXPECT_EQ(Win32::_stat64i32((dir / path).c_str(), &status), -1) << path;
        EXPECT_EQ(Win32::_access((dir / path).c_str(), 0), -1) << path;
    }
}

TEST(PlatformFileStatus, StatReportsTypeAndSize)
{
    TempDir dir;
    dir.Write("Data/File.bin", std::string(1234, 'x'));
    dir.Write("Data/empty.bin", "");
    struct Win32::_stat64i32 status {};
    ASSERT_EQ(Win32::_stat64i32((dir / "DATA\\file.BIN").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & Win32::_S_IFMT, Win32::_S_IFREG);
    EXPECT_EQ(status.st_size, 1234);
    ASSERT_EQ(Win32::_stat64i32((dir / "data/EMPTY.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & Win32::_S_IFMT, Win32::_S_IFREG);
    EXPECT_EQ(status.st_size, 0);
    ASSERT_EQ(Win32::_stat64i32(Backslashed(dir / "data").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & Win32::_S_IFMT, Win32::_S_IFDIR);

    errno = 0;
    EXPECT_EQ(Win32::_stat64i32((dir / "data/missing.bin").c_str(), &status), -1);
    EXPECT_EQ(errno, kEnoent);
    errno = 0;
    EXPECT_EQ(Win32::_stat64i32((dir / "nowhere/missing.bin").c_str(), &status), -1);
    EXPECT_EQ(errno, kEnoent);
}

TEST(PlatformFileStatus, StatRefusesFilesOfTwoGibibytesOrMore)
{
    TempDir dir;
    MakeSparseFile(dir / "largest.bin", 0x7FFFFFFFu);
    MakeSparseFile(dir / "too-large.bin", 0x80000000u);
    MakeSparseFile(dir / "wraps.bin", (std::uint64_t{1} << 32) + 10);
    struct Win32::_stat64i32 status {};
    ASSERT_EQ(Win32::_stat64i32((dir / "largest.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 0x7FFFFFFF);
    for (const char* name : {"too-large.bin", "wraps.bin"}) {
        errno = 0;
        EXPECT_EQ(Win32::_stat64i32((dir / name).c_str(), &status), -1) << name;
        EXPECT_EQ(errno, kEoverflow) << name;
    }
}

TEST(PlatformFileStatus, AccessChecksExistenceReadingAndWriting)
{
    TempDir dir;
    dir.Write("Sub/File.txt", "x");
    for (int mode : {0, 2, 4, 6}) {
        EXPECT_EQ(Win32::_access((dir / "sub\\FILE.TXT").c_str(), mode), 0) << mode;
        EXPECT_EQ(Win32::_access((dir / "SUB").c_str(), mode), 0) << mode;
        errno = 0;
        EXPECT_EQ(Win32::_access((dir / "sub\\missing.txt").c_str(), mode), -1) << mode;
        EXPECT_EQ(errno, kEnoent) << mode;
    }
}

TEST(PlatformFileStatus, AccessRefusesWritingAReadOnlyFile)
{
    TempDir dir;
    std::string path = dir.Write("readonly.txt", "x");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(Win32::_access(path.c_str(), 0), 0);
    EXPECT_EQ(Win32::_access(path.c_str(), 4), 0);
    if (CanStillWrite(path)) GTEST_SKIP() << "this process writes files whatever their permissions";
    for (int mode : {2, 6}) {
        errno = 0;
        EXPECT_EQ(Win32::_access(path.c_str(), mode), -1) << mode;
        EXPECT_EQ(errno, kEacces) << mode;
    }
}

TEST(PlatformErrorTexts, SystemTextsAreWordedAsWindowsWordsThem)
{
    EXPECT_EQ(SystemText(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(SystemText(3), "The system cannot find the path specified.\r\n");
    EXPECT_EQ(SystemText(5), "Access is denied.\r\n");
    EXPECT_EQ(SystemText(38), "Reached the end of the file.\r\n");
    EXPECT_EQ(SystemText(0x80070026u), "Reached the end of the file.\r\n");
    EXPECT_EQ(SystemText(0x80070005u), "Access is denied.\r\n");
}

TEST(PlatformErrorTexts, TextThatDoesNotFitTheBufferIsNotGiven)
{
    const std::string text = "Reached the end of the file.\r\n";
    const auto size = static_cast<Win32::DWORD>(text.size());
    EXPECT_EQ(SystemText(38, size + 1), text);
    std::string buffer(size, '#');
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 38,
                                    Win32::LANG_NEUTRAL_DEFAULT, buffer.data(), size, nullptr),
              0u);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInsufficientBuffer);
}

TEST(PlatformErrorTexts, UnknownCodesHaveNoText)
{
    for (Win32::DWORD code : {Win32::DWORD{12345}, Win32::DWORD{0x80073039u}, Win32::DWORD{0xC0000005u}}) {
        char buffer[100] = "untouched";
        EXPECT_EQ(Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        Win32::LANG_NEUTRAL_DEFAULT, buffer, sizeof(buffer), nullptr),
                  0u)
            << code;
    }
}

// Whatever goes wrong in this layer, the library can put the system's words to it.
TEST(PlatformErrorTexts, EveryErrorTheLayerReportsHasASystemText)
{
    TempDir dir;
    std::string file = dir.Write("ten.bin", "0123456789");
    std::vector<Win32::DWORD> codes;
    auto record = [&codes] { codes.push_back(Win32::GetLastError()); };

    OpenForReading(dir / "missing.bin");
    record();
    OpenForReading(dir / "nowhere/missing.bin");
    record();
    OpenForReading(dir.Path().string());
    record();
    Win32::CloseHandle(nullptr);
    record();
    {
        ScopedHandle handle(OpenForReading(file));
        Win32::OVERLAPPED overlapped = At(10);
        char buffer[4];
        Win32::ReadFile(handle.get(), buffer, sizeof(buffer), nullptr, &overlapped);
        record();
        overlapped.Internal = Win32::STATUS_PENDING;
        Win32::GetOverlappedResult(handle.get(), &overlapped, nullptr, Win32::FALSE);
        record();
    }
    {
        Win32::WIN32_FIND_DATAA data{};
        Win32::HANDLE search = Win32::FindFirstFileA((dir / "ten.*").c_str(), &data);
        Win32::FindNextFileA(search, &data);
        record();
        Win32::FindClose(search);
    }
    {
        ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 1, 1, nullptr));
        Win32::ReleaseSemaphore(semaphore.get(), 1, nullptr);
        record();
        Win32::CreateSemaphoreA(nullptr, 2, 1, nullptr);
        record();
    }
    {
        char small[4];
        Win32::GetModuleFileNameA(nullptr, small, sizeof(small));
        record();
    }
    for (Win32::DWORD code : codes) {
        EXPECT_NE(code, 0u);
        EXPECT_NE(SystemText(code), "<none>") << "error " << code;
    }
}

TEST(PlatformErrorTexts, CrtTextsAreTheMicrosoftRuntimes)
{
    EXPECT_EQ(CrtText(0), "No error");
    EXPECT_EQ(CrtText(2), "No such file or directory");
    EXPECT_EQ(CrtText(12), "Not enough space");
    EXPECT_EQ(CrtText(13), "Permission denied");
    EXPECT_EQ(CrtText(21), "Is a directory");
    EXPECT_EQ(CrtText(24), "Too many open files");
    EXPECT_EQ(CrtText(38), "Filename too long");
    EXPECT_EQ(CrtText(41), "Directory not empty");
    EXPECT_EQ(CrtText(42), "Illegal byte sequence");
    EXPECT_EQ(CrtText(43), "Unknown error");
    EXPECT_EQ(CrtText(999), "Unknown error");
    EXPECT_EQ(CrtText(-1), "Unknown error");
}

TEST(PlatformErrorTexts, CrtTextIsCutToTheBuffer)
{
    EXPECT_EQ(CrtText(2, 5), "No s");
    EXPECT_EQ(CrtText(2, 1), "");
    EXPECT_EQ(CrtText(2, 26), "No such file or directory");
    EXPECT_EQ(CrtText(2, 25), "No such file or director");
    char buffer[8];
    EXPECT_EQ(Win32::strerror_s(buffer, 0, 2), EINVAL);
    EXPECT_EQ(Win32::strerror_s(nullptr, 8, 2), EINVAL);
}

TEST(PlatformStrings, StricmpFoldsAsciiLettersToLowerCase)
{
    EXPECT_EQ(Win32::_stricmp("Hello World", "hELLO wORLD"), 0);
    EXPECT_EQ(Win32::_stricmp("", ""), 0);
    EXPECT_LT(Win32::_stricmp("abc", "ABD"), 0);
    EXPECT_GT(Win32::_stricmp("ABD", "abc"), 0);
    EXPECT_LT(Win32::_stricmp("ab", "ABC"), 0);  // a proper prefix comes first
    EXPECT_GT(Win32::_stricmp("ABC", "ab"), 0);
    // Letters fold to lower case, so '_' (0x5F) and '[' (0x5B) sort before every letter.
    EXPECT_LT(Win32::_stricmp("_", "a"), 0);
    EXPECT_LT(Win32::_stricmp("_", "A"), 0);
    EXPECT_LT(Win32::_stricmp("[", "Z"), 0);
    EXPECT_GT(Win32::_stricmp("z", "_"), 0);
}

TEST(PlatformStrings, StricmpComparesBytesAboveAsciiUnsignedAndUnfolded)
{
    EXPECT_NE(Win32::_stricmp("\xE9", "\xC9"), 0);  // Latin-1 letters are not folded
    EXPECT_NE(Win32::_stricmp("\xC3\xA9", "\xC3\x89"), 0);
    EXPECT_GT(Win32::_stricmp("\x80", "z"), 0);
    EXPECT_GT(Win32::_stricmp("\xFF", "\x7F"), 0);
    EXPECT_LT(Win32::_stricmp("a", "a\x80"), 0);
    EXPECT_EQ(Win32::_stricmp("\xE9t\xE9", "\xE9T\xE9"), 0);
}

TEST(PlatformStrings, StrnicmpComparesAtMostCountBytes)
{
    EXPECT_EQ(Win32::_strnicmp("abcX", "ABCy", 3), 0);
    EXPECT_LT(Win32::_strnicmp("abcX", "ABCy", 4), 0);
    EXPECT_EQ(Win32::_strnicmp("anything", "else", 0), 0);
    EXPECT_EQ(Win32::_strnicmp("ab", "AB", 10), 0);
    EXPECT_LT(Win32::_strnicmp("ab", "abc", 3), 0);
    EXPECT_LT(Win32::_strnicmp("_x", "Ax", 1), 0);
    EXPECT_GT(Win32::_strnicmp("\x90", "A", 1), 0);
}
