// Windows-style paths, CreateFileA, GetFileAttributesA and DeleteFileA.
#include "PlatformTestSupport.h"

using namespace PlatformTest;

// Paths take '\\' or '/' and ignore the case of ASCII letters, from the root or from the
// current directory. What ReadWhole gives: the content, or "<error N>" from CreateFileA.
TEST(PlatformPaths, NamesResolveIgnoringAsciiCase)
{
    TempDir dir;
    dir.Write("Data/Sub/File.Bin", "bytes");
    ScopedCurrentDirectory current(dir.Path());
    const std::pair<std::string, std::string> cases[] = {
        {Backslashed(dir / "Data/Sub/File.Bin"), "bytes"}, {dir / "Data\\Sub/File.Bin", "bytes"},
        {dir / "Data\\\\Sub\\File.Bin", "bytes"},        {Backslashed(dir / "data/sub/file.bin"), "bytes"},
        {dir / "dAtA\\sUb\\FiLe.BiN", "bytes"},         {"data\\sub\\file.bin", "bytes"},
        {"./DATA/Sub/File.bin", "bytes"},                 {"missing.txt", "<error 2>"},
        {"data\\missing.txt", "<error 2>"},               {"nowhere\\missing.txt", "<error 3>"}};
    for (const auto& [path, expected] : cases) EXPECT_EQ(ReadWhole(path), expected) << path;
}

// The POSIX layer folds ASCII letters only (Windows folds the letters of its code page), and
// where names differing in case exist together, which Windows does not allow, the exact one wins.
TEST(PlatformPaths, PosixLayerFoldsAsciiOnlyAndPrefersTheExactName)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    TempDir dir;
    dir.Write("caf\xE9.txt", "latin");
    dir.Write("\xC3\xA9t\xC3\xA9.txt", "utf8");
    for (const char* name : {"exact/file.txt", "exact/FILE.TXT", "exact/File.txt"}) dir.Write(name, name);
    const std::pair<std::string, std::string> cases[] = {
        {dir / "CAF\xE9.TXT", "latin"},                   {dir / "caf\xC9.txt", "<error 2>"},
        {dir / "\xC3\xA9T\xC3\xA9.TXT", "utf8"},            {dir / "\xC3\x89t\xC3\x89.txt", "<error 2>"},
        {dir / "exact/file.txt", "exact/file.txt"},       {dir / "exact/File.txt", "exact/File.txt"}};
    for (const auto& [path, expected] : cases) EXPECT_EQ(ReadWhole(path), expected) << path;
}

// Names that differ only in case cannot exist together on Windows; here they can, and the
// answer must not depend on the order the directory happens to list them in. The variant
// taken is the one a directory search lists first.
TEST(PlatformPaths, CaseVariantsResolveToTheOneASearchListsFirst)
{
    TARN_SKIP_UNLESS_POSIX_LAYER();
    const char* const variants[] = {"name", "Name", "NAME"};
    for (bool reverse : {false, true}) {
        TempDir dir;
        for (int i = 0; i < 3; ++i) {
            const std::string name = variants[reverse ? 2 - i : i];
            dir.Write(name + ".dat", name);
            dir.Write(name + "/x.txt", name);
        }
        EXPECT_EQ(Names(FindAll(dir / "NAME.dat")), (std::vector<std::string>{"NAME.dat", "Name.dat", "name.dat"}));
        EXPECT_EQ(ReadWhole(dir / "nAME.dAT"), "NAME") << "reverse " << reverse;
        EXPECT_EQ(ReadWhole(dir / "nAMe\\X.TXT"), "NAME") << "reverse " << reverse;
    }
}

TEST(PlatformFiles, OpenAndAttributesTellWhatAPathNames)
{
    TempDir dir;
    dir.Write("sub/file.txt", "x");
    std::string readOnly = dir.Write("sub/readonly.bin", "x");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    constexpr Win32::DWORD kAny = ~0u, kDir = Win32::FILE_ATTRIBUTE_DIRECTORY, kInvalid = Win32::INVALID_FILE_ATTRIBUTES;
    // The error of CreateFileA (kAny: any), and the directory and read-only bits of the
    // attributes, or INVALID_FILE_ATTRIBUTES with the open's error as the last error.
    using namespace Win32;
    using Win32::SetLastError, Win32::GetLastError, Win32::GetFileAttributesA;  // not the system's own
    const std::tuple<std::string, DWORD, DWORD> cases[] = {
        {dir / "SUB\\FILE.txt", 0, 0},                           {dir / "SUB\\READONLY.BIN", 0, FILE_ATTRIBUTE_READONLY},
        {dir / "Sub", kErrorAccessDenied, kDir},                 {dir / "SUB\\", kErrorAccessDenied, kDir},  // not to be opened
        {dir.Path().string(), kErrorAccessDenied, kDir},         {dir / "missing.txt", kErrorFileNotFound, kInvalid},
        {dir / "SUB\\missing.txt", kErrorFileNotFound, kInvalid}, {dir / "sub/fil", kErrorFileNotFound, kInvalid},  // a prefix
        {dir / "sub/file.txt.bak", kErrorFileNotFound, kInvalid}, {dir / "nowhere\\file.txt", kErrorPathNotFound, kInvalid},
        {dir / "NOWHERE\\sub\\file.txt", kErrorPathNotFound, kInvalid}, {dir / "su/file.txt", kErrorPathNotFound, kInvalid},
        {dir / "sub/file.txt/inner.txt", kErrorPathNotFound, kInvalid},  // a file is not a directory
        {dir / "SUB\\FILE.TXT\\inner.txt", kErrorPathNotFound, kInvalid},
        {dir / "sub/file.txt\\", kAny, kInvalid}, {dir / "SUB/FILE.TXT/", kAny, kInvalid}};  // asks for a directory
    for (const auto& [path, expectedError, expectedAttributes] : cases) {
        const DWORD openError = OpenError(path);
        EXPECT_TRUE(expectedError == kAny ? openError != 0 : openError == expectedError) << path << ": " << openError;
        SetLastError(0);
        const DWORD attributes = GetFileAttributesA(path.c_str());
        EXPECT_EQ(attributes == kInvalid ? kInvalid : attributes & (kDir | FILE_ATTRIBUTE_READONLY), expectedAttributes) << path;
        // (Windows words the failures of a path that ends in a separator differently for each call.)
        if (expectedError != kAny) {
            EXPECT_EQ(GetLastError(), attributes == kInvalid ? openError : 0) << path;
        }
    }
    fs::permissions(readOnly, fs::perms::none);
    if (!CanStillWrite(readOnly)) {  // else this process reads whatever the permissions
        EXPECT_EQ(OpenError(dir / "SUB/READONLY.BIN"), Win32::kErrorAccessDenied);
    }
}

TEST(PlatformFiles, DeleteFileRemovesOnlyAFileNamedInAnyCase)
{
    TempDir dir;
    std::string path = dir.Write("Archive/Index.IDX", "index");
    std::string other = dir.Write("Archive/Data.DAT", "data");
    fs::create_directories(dir.Path() / "empty");
    EXPECT_TRUE(Win32::DeleteFileA((dir / "archive\\index.idx").c_str()));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(other));
    const std::pair<std::string, Win32::DWORD> refused[] = {
        {path, Win32::kErrorFileNotFound},           {dir / "nowhere\\missing.txt", Win32::kErrorPathNotFound},
        {dir / "empty", Win32::kErrorAccessDenied},  {dir / "EMPTY", Win32::kErrorAccessDenied},
        {dir / "archive", Win32::kErrorAccessDenied}};
    for (const auto& [target, error] : refused) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::DeleteFileA(target.c_str())) << target;
        EXPECT_EQ(Win32::GetLastError(), error) << target;
    }
    EXPECT_FALSE(Win32::DeleteFileA((dir / "ARCHIVE\\DATA.DAT\\").c_str()));
    EXPECT_TRUE(fs::is_directory(dir / "empty"));
    EXPECT_TRUE(fs::exists(other));
}
