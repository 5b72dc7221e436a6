// C-runtime streams, file status and access tests, error texts and ASCII comparison.
#include <cerrno>
#include <cstring>

#include "PlatformTestSupport.h"

using namespace PlatformTest;

namespace {

// The numbering of the Microsoft C runtime, which the layer reports on every system.
constexpr int kEnoent = 2, kEacces = 13;

std::string SystemText(Win32::DWORD code, Win32::DWORD size = 100)
{
    std::string buffer(size, '#');
    Win32::DWORD n = Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                           code, Win32::LANG_NEUTRAL_DEFAULT, buffer.data(), size, nullptr);
    if (n == 0) return "<none " + std::to_string(Win32::GetLastError()) + ">";
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

namespace {

// A file written with content, opened by Windows-style paths in the mode: read whole with
// _fsopen and fread, then a line with fopen_s and fgets, and the line after a seek to at.
std::string ReadBack(const std::string& content, const char* mode, long at)
{
    TempDir dir;
    dir.Write("Config/Settings.TXT", content);
    std::FILE* stream = Win32::_fsopen(Backslashed(dir / "config/settings.txt").c_str(), mode, Win32::_SH_DENYNO);
    if (stream == nullptr) return "<not opened>";
    std::string read(100, '\0');
    read.resize(Win32::fread(read.data(), 1, read.size(), stream));
    EXPECT_EQ(Win32::ferror(stream), 0);
    EXPECT_EQ(Win32::fclose(stream), 0);
    if (Win32::fopen_s(&stream, (dir / "CONFIG\\SETTINGS.txt").c_str(), mode) != 0) return "<not opened>";
    char first[64] = {}, later[64] = {};
    EXPECT_NE(Win32::fgets(first, sizeof(first), stream), nullptr);
    EXPECT_EQ(Win32::fseek(stream, at, SEEK_SET), 0);
    EXPECT_NE(Win32::fgets(later, sizeof(later), stream), nullptr);
    EXPECT_EQ(Win32::fclose(stream), 0);
    return read + "|" + first + "|" + later;
}

}  // namespace

TEST(PlatformStreams, OpenWindowsStylePathsInTextAndBinaryMode)
{
    for (const char* mode : {"rt", "rb"}) EXPECT_EQ(ReadBack("one\ntwo\nthree", mode, 5), "one\ntwo\nthree|one\n|wo\n") << mode;
}

// The POSIX layer reads text mode as it reads binary mode; the Microsoft runtime turns CR LF
// into LF and ends the text at a Ctrl-Z. The library strips line ends itself.
TEST(PlatformStreams, PosixLayerReadsTextModeUnchanged)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    const std::string content = "one\r\ntwo\r\n\x1Athree\rfour";
    EXPECT_EQ(ReadBack(content, "rt", 6), content + "|one\r\n|wo\r\n");
}

TEST(PlatformStreams, FailedOpensSetErrnoAndTheLastError)
{
    TempDir dir;
    dir.Write("Folder/file.txt", "x");
    using namespace Win32;
    using Win32::SetLastError, Win32::GetLastError, Win32::_fsopen;  // not the system's own
    const std::tuple<std::string, int, DWORD> cases[] = {
        {dir / "Folder", kEacces, kErrorAccessDenied}, {dir / "FOLDER\\", kEacces, kErrorAccessDenied},  // as on Windows
        {dir.Path().string(), kEacces, kErrorAccessDenied}, {dir / "folder/missing.txt", kEnoent, kErrorFileNotFound},
        {dir / "FOLDER\\missing.txt", kEnoent, kErrorFileNotFound}, {dir / "nowhere/missing.txt", kEnoent, kErrorPathNotFound}};
    for (const auto& [path, error, lastError] : cases) {
        errno = 0;
        SetLastError(0);
        EXPECT_EQ(_fsopen(path.c_str(), "rb", _SH_DENYNO), nullptr) << path;
        EXPECT_EQ(errno, error) << path;
        EXPECT_EQ(GetLastError(), lastError) << path;
        std::FILE* stream = stdin;  // a failed open must overwrite it
        SetLastError(0);
        EXPECT_EQ(Win32::fopen_s(&stream, path.c_str(), "rt"), error) << path;
        EXPECT_EQ(stream, nullptr) << path;
        EXPECT_EQ(GetLastError(), lastError) << path;
    }
    // A file name followed by a separator names nothing.
    for (const char* path : {"Folder/file.txt\\", "FOLDER/FILE.TXT\\", "folder/file.txt/"}) {
        struct Win32::_stat64i32 status {};
        EXPECT_EQ(Win32::_fsopen((dir / path).c_str(), "rb", Win32::_SH_DENYNO), nullptr) << path;
        EXPECT_EQ(Win32::_stat64i32((dir / path).c_str(), &status), -1) << path;
        EXPECT_EQ(Win32::_access((dir / path).c_str(), 0), -1) << path;
    }
}

TEST(PlatformFileStatus, StatReportsTypeAndSizeBelowTwoGibibytesAndAccessChecksPermissions)
{
    TempDir dir;
    dir.Write("Data/File.bin", std::string(1234, 'x'));
    std::string readOnly = dir.Write("readonly.txt", "x");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    dir.Write("Data/empty.bin", "");
    MakeSparseFile(dir / "largest.bin", 0x7FFFFFFFu);
    MakeSparseFile(dir / "too-large.bin", 0x80000000u);
    MakeSparseFile(dir / "wraps.bin", k4GiB + 10);
    auto stat = [](const std::string& path) {
        struct Win32::_stat64i32 status {};
        errno = 0;
        if (int result = Win32::_stat64i32(path.c_str(), &status)) return std::to_string(result) + " errno " + std::to_string(errno);
        const int type = status.st_mode & Win32::_S_IFMT;
        return (type == Win32::_S_IFREG ? "file " : type == Win32::_S_IFDIR ? "directory " : "? ") + std::to_string(status.st_size);
    };
    const std::pair<std::string, std::string> cases[] = {
        {dir / "DATA\\file.BIN", "file 1234"}, {dir / "data/EMPTY.bin", "file 0"}, {Backslashed(dir / "data"), "directory 0"},
        {dir / "LARGEST.bin", "file 2147483647"}, {dir / "too-large.bin", "-1 errno 132"}, {dir / "wraps.bin", "-1 errno 132"},
        {dir / "data/missing.bin", "-1 errno 2"}, {dir / "nowhere/missing.bin", "-1 errno 2"}};  // EOVERFLOW, ENOENT
    for (const auto& [path, expected] : cases) EXPECT_EQ(stat(path), expected) << path;
    for (int mode : {0, 2, 4, 6}) {
        EXPECT_EQ(Win32::_access((dir / "data\\FILE.BIN").c_str(), mode), 0) << mode;
        EXPECT_EQ(Win32::_access((dir / "DATA").c_str(), mode), 0) << mode;
        errno = 0;
        EXPECT_EQ(Win32::_access((dir / "data\\missing.bin").c_str(), mode), -1) << mode;
        EXPECT_EQ(errno, kEnoent) << mode;
        // A read-only file refuses writing (unless this process writes whatever the permissions,
        // as the superuser does on POSIX).
        const bool refused = (mode & 2) && (!TarnTest::kPosixLayer || !CanStillWrite(readOnly));
        errno = 0;
        EXPECT_EQ(Win32::_access(readOnly.c_str(), mode), refused ? -1 : 0) << mode;
        EXPECT_EQ(errno, refused ? kEacces : 0) << mode;
    }
}

// Whatever goes wrong in this layer, the library can put the system's words to it, HRESULTs
// included; a text that does not fit is not given at all.
TEST(PlatformErrorTexts, SystemTextsExistForEveryCodeAndOnlyWhenTheyFit)
{
    using namespace Win32;
    for (DWORD code : {kErrorFileNotFound, kErrorPathNotFound, kErrorTooManyOpenFiles, kErrorAccessDenied, kErrorInvalidHandle,
                       kErrorNotEnoughMemory, kErrorNoMoreFiles, kErrorReadFault, kErrorGenFailure, kErrorSharingViolation,
                       kErrorHandleEof, kErrorFileExists, kErrorInvalidParameter, kErrorDiskFull, kErrorInsufficientBuffer,
                       kErrorDirNotEmpty, kErrorFilenameTooLong, kErrorIoIncomplete, kErrorIoPending, DWORD{298}}) {
        EXPECT_EQ(SystemText(code).find("<none"), std::string::npos) << "error " << code;
        EXPECT_EQ(SystemText(0x80070000u | code), SystemText(code)) << "error " << code;
    }
    const std::string eof = SystemText(38);
    EXPECT_EQ(SystemText(38, static_cast<Win32::DWORD>(eof.size() + 1)), eof);
    EXPECT_EQ(SystemText(38, static_cast<Win32::DWORD>(eof.size())), "<none 122>");  // ERROR_INSUFFICIENT_BUFFER
    for (DWORD code : {12345u, 0x80073039u, 0xC0000005u}) EXPECT_EQ(SystemText(code), "<none 317>") << code;  // ERROR_MR_MID_NOT_FOUND
}

// The POSIX layer answers in the words of Windows (Wine words some texts its own way).
TEST(PlatformErrorTexts, PosixLayerSystemTextsAreWindowsWords)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    const std::string eof = "Reached the end of the file.\r\n";
    const std::pair<Win32::DWORD, std::string> texts[] = {
        {2, "The system cannot find the file specified.\r\n"}, {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"}, {38, eof}, {0x80070026u, eof}, {0x80070005u, "Access is denied.\r\n"}};  // HRESULTs too
    for (const auto& [code, text] : texts) EXPECT_EQ(SystemText(code), text) << code;
}

TEST(PlatformErrorTexts, CrtTextsAreCutToTheBuffer)
{
    const std::string text = CrtText(2);
    EXPECT_EQ(text, "No such file or directory");
    EXPECT_EQ(CrtText(2, text.size() + 1), text);
    EXPECT_EQ(CrtText(2, text.size()), text.substr(0, text.size() - 1));
    EXPECT_EQ(CrtText(2, 5), "No s");
    EXPECT_EQ(CrtText(2, 1), "");
    char buffer[8];
    EXPECT_EQ(Win32::strerror_s(buffer, 0, 2), EINVAL);
    EXPECT_EQ(Win32::strerror_s(nullptr, 8, 2), EINVAL);
}

// The POSIX layer answers in the words of the Microsoft runtime (Wine's runtime uses the
// words of the C library under it).
TEST(PlatformErrorTexts, PosixLayerCrtTextsAreTheMicrosoftRuntimes)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    const std::pair<int, const char*> texts[] = {
        {0, "No error"},           {2, "No such file or directory"}, {12, "Not enough space"},
        {13, "Permission denied"}, {21, "Is a directory"},            {24, "Too many open files"},
        {38, "Filename too long"}, {41, "Directory not empty"},       {42, "Illegal byte sequence"},
        {43, "Unknown error"},     {999, "Unknown error"},            {-1, "Unknown error"}};
    for (const auto& [number, text] : texts) EXPECT_EQ(CrtText(number), text) << number;
}

// ASCII letters fold to lower case, so '_' (0x5F) and '[' (0x5B) sort before every letter;
// bytes above 0x7F compare unsigned and unfolded.
TEST(PlatformStrings, StricmpAndStrnicmpFoldOnlyAsciiLettersToLowerCase)
{
    // The sign of the comparison of a with b, by _strnicmp over that count; SIZE_MAX by _stricmp too.
    const std::tuple<const char*, const char*, int, std::size_t> cases[] = {
        {"Hello World", "hELLO wORLD", 0, SIZE_MAX}, {"", "", 0, SIZE_MAX},        {"abc", "ABD", -1, SIZE_MAX},
        {"ab", "ABC", -1, SIZE_MAX},                 {"_", "A", -1, SIZE_MAX},      {"[", "Z", -1, SIZE_MAX},
        {"\xE9", "\xC9", 1, SIZE_MAX},               {"\xC3\xA9", "\xC3\x89", 1, SIZE_MAX}, {"\x80", "z", 1, SIZE_MAX},
        {"\xFF", "\x7F", 1, SIZE_MAX},               {"a", "a\x80", -1, SIZE_MAX},  {"\xE9t\xE9", "\xE9T\xE9", 0, SIZE_MAX},
        {"abcX", "ABCy", 0, 3},                      {"abcX", "ABCy", -1, 4},       {"anything", "else", 0, 0},
        {"ab", "AB", 0, 10},                         {"ab", "abc", -1, 3},          {"_x", "Ax", -1, 1},
        {"\x90", "A", 1, 1}};
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const auto& [a, b, expected, count] : cases) {
        EXPECT_EQ(sign(Win32::_strnicmp(a, b, count)), expected) << a << " " << b << " " << count;
        EXPECT_EQ(sign(Win32::_strnicmp(b, a, count)), -expected) << b << " " << a << " " << count;
        if (count != SIZE_MAX) continue;
        EXPECT_EQ(sign(Win32::_stricmp(a, b)), expected) << a << " " << b;
        EXPECT_EQ(sign(Win32::_stricmp(b, a)), -expected) << b << " " << a;
    }
}
