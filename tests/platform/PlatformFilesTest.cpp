// Windows-style paths, CreateFileA, GetFileAttributesA and DeleteFileA.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"
#include "support/TempDir.h"

using namespace PlatformTest;
using TarnTest::TempDir;
namespace fs = std::filesystem;

TEST(PlatformPaths, BackslashesSeparateComponents)
{
    TempDir dir;
    std::string path = dir.Write("sub/inner/file.txt", "content");
    EXPECT_EQ(ReadWhole(Backslashed(path)), "content");
    EXPECT_EQ(ReadWhole(dir / "sub\\inner/file.txt"), "content");
    EXPECT_EQ(ReadWhole(dir / "sub\\\\inner\\file.txt"), "content");
    Win32::DWORD attributes = Win32::GetFileAttributesA(Backslashed(dir / "sub/inner").c_str());
    EXPECT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(PlatformPaths, DirectoryAndFileNamesIgnoreAsciiCase)
{
    TempDir dir;
    dir.Write("Data/Sub/File.Bin", "bytes");
    for (const char* variant : {"data/sub/file.bin", "DATA/SUB/FILE.BIN", "dAtA\\sUb\\FiLe.BiN", "Data/Sub/FILE.bin"})
        EXPECT_EQ(ReadWhole(dir / variant), "bytes") << variant;
    Win32::DWORD directory = Win32::GetFileAttributesA((dir / "DATA\\sub").c_str());
    EXPECT_NE(directory, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(directory & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
    Win32::DWORD attributes = Win32::GetFileAttributesA((dir / "data\\SUB\\file.BIN").c_str());
    EXPECT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(PlatformPaths, RelativePathsResolveFromTheCurrentDirectoryIgnoringCase)
{
    TempDir dir;
    dir.Write("Content/Manifest.TXT", "relative");
    ScopedCurrentDirectory current(dir.Path());
    EXPECT_EQ(ReadWhole("content\\manifest.txt"), "relative");
    EXPECT_EQ(ReadWhole("./CONTENT/Manifest.txt"), "relative");
    EXPECT_EQ(OpenError("content\\missing.txt"), Win32::kErrorFileNotFound);
    EXPECT_EQ(OpenError("missing.txt"), Win32::kErrorFileNotFound);
    EXPECT_EQ(OpenError("nowhere\\missing.txt"), Win32::kErrorPathNotFound);
}

// Only ASCII letters fold: other bytes are compared as they are, as the "C" locale does.
TEST(PlatformPaths, CaseFoldingLeavesBytesAboveAsciiAlone)
{
    TempDir dir;
    dir.Write("caf\xE9.txt", "latin");
    dir.Write("\xC3\xA9t\xC3\xA9.txt", "utf8");
    EXPECT_EQ(ReadWhole(dir / "CAF\xE9.TXT"), "latin");
    EXPECT_EQ(OpenError(dir / "caf\xC9.txt"), Win32::kErrorFileNotFound);
    EXPECT_EQ(ReadWhole(dir / "\xC3\xA9T\xC3\xA9.TXT"), "utf8");
    EXPECT_EQ(OpenError(dir / "\xC3\x89t\xC3\x89.txt"), Win32::kErrorFileNotFound);
}

TEST(PlatformPaths, AnExactNameWinsOverItsCaseVariants)
{
    TempDir dir;
    dir.Write("file.txt", "lower");
    dir.Write("FILE.TXT", "upper");
    dir.Write("File.txt", "mixed");
    EXPECT_EQ(ReadWhole(dir / "file.txt"), "lower");
    EXPECT_EQ(ReadWhole(dir / "FILE.TXT"), "upper");
    EXPECT_EQ(ReadWhole(dir / "File.txt"), "mixed");
}

// Names that differ only in case cannot exist together on Windows; here they can, and the
// answer must not depend on the order the directory happens to list them in. The variant
// taken is the one a directory search lists first.
TEST(PlatformPaths, CaseVariantsResolveToTheOneASearchListsFirst)
{
    const char* const fileVariants[] = {"name.dat", "Name.dat", "NAME.DAT"};
    const char* const dirVariants[] = {"dir", "Dir", "DIR"};
    for (bool reverse : {false, true}) {
        TempDir dir;
        for (int i = 0; i < 3; ++i) {
            int k = reverse ? 2 - i : i;
            dir.Write(fileVariants[k], fileVariants[k]);
            dir.Write(std::string(dirVariants[k]) + "/x.txt", dirVariants[k]);
        }
        std::vector<Found> files = FindAll(dir / "NAME.dat");
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(files[0].name, "NAME.DAT");
        EXPECT_EQ(ReadWhole(dir / "nAME.dAT"), files[0].name) << "reverse " << reverse;
        EXPECT_EQ(ReadWhole(dir / "dIR\\x.txt"), "DIR") << "reverse " << reverse;
        EXPECT_EQ(ReadWhole(dir / "dIR\\X.TXT"), "DIR") << "reverse " << reverse;
    }
}

TEST(PlatformPaths, ComponentsThatExistNowhereFailAsMissing)
{
    TempDir dir;
    dir.Write("sub/file.txt", "x");
    struct Case {
        const char* path;
        Win32::DWORD error;
    };
    const Case cases[] = {
        {"missing.txt", Win32::kErrorFileNotFound},
        {"SUB\\missing.txt", Win32::kErrorFileNotFound},
        {"sub/fil", Win32::kErrorFileNotFound},           // a prefix of a name is not the name
        {"sub/file.txt.bak", Win32::kErrorFileNotFound},  // nor is a longer one
        {"nowhere\\file.txt", Win32::kErrorPathNotFound},
        {"NOWHERE\\sub\\file.txt", Win32::kErrorPathNotFound},
        {"su/file.txt", Win32::kErrorPathNotFound},
        {"sub/file.txt/inner.txt", Win32::kErrorPathNotFound},  // a file is not a directory
        {"SUB\\FILE.TXT\\inner.txt", Win32::kErrorPathNotFound},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenError(dir / c.path), c.error) << c.path;
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::GetFileAttributesA((dir / c.path).c_str()), Win32::INVALID_FILE_ATTRIBUTES) << c.path;
        EXPECT_EQ(Win32::GetLastError(), c.error) << c.path;
    }
}

// A trailing separator asks for a directory, in the exact case and in any other.
TEST(PlatformPaths, ATrailingSeparatorNamesOnlyADirectory)
{
    TempDir dir;
    std::string file = dir.Write("Sub/File.txt", "x");
    for (const char* path : {"Sub/File.txt\\", "sub\\file.txt\\", "SUB/FILE.TXT/"}) {
        EXPECT_NE(OpenError(dir / path), 0u) << path;
        EXPECT_EQ(Win32::GetFileAttributesA((dir / path).c_str()), Win32::INVALID_FILE_ATTRIBUTES) << path;
        EXPECT_FALSE(Win32::DeleteFileA((dir / path).c_str())) << path;
        EXPECT_TRUE(fs::exists(file)) << path;
    }
    for (const char* path : {"Sub\\", "SUB\\", "sub/"}) {
        Win32::DWORD attributes = Win32::GetFileAttributesA((dir / path).c_str());
        EXPECT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES) << path;
        EXPECT_NE(attributes & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u) << path;
    }
}

TEST(PlatformFiles, CreateFileReportsWhyItCannotOpen)
{
    TempDir dir;
    dir.Write("Sub/file.txt", "x");
    Win32::SetLastError(0);
    EXPECT_EQ(OpenForReading(dir / "missing.bin"), Win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorFileNotFound);
    EXPECT_EQ(OpenError(dir / "nowhere/missing.bin"), Win32::kErrorPathNotFound);
    EXPECT_EQ(OpenError(dir / "Sub"), Win32::kErrorAccessDenied);
    EXPECT_EQ(OpenError(dir / "SUB"), Win32::kErrorAccessDenied);
    EXPECT_EQ(OpenError(dir.Path().string()), Win32::kErrorAccessDenied);
}

TEST(PlatformFiles, CreateFileRefusesAnUnreadableFile)
{
    TempDir dir;
    std::string path = dir.Write("locked.bin", "secret");
    fs::permissions(path, fs::perms::none);
    if (CanStillRead(path)) GTEST_SKIP() << "this process reads files whatever their permissions";
    EXPECT_EQ(OpenError(path), Win32::kErrorAccessDenied);
    EXPECT_EQ(OpenError(dir / "LOCKED.BIN"), Win32::kErrorAccessDenied);
}

TEST(PlatformFiles, GetFileAttributesTellsFilesFromDirectories)
{
    TempDir dir;
    std::string file = dir.Write("plain.bin", "x");
    std::string readOnly = dir.Write("sub/readonly.bin", "x");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    Win32::DWORD attributes = Win32::GetFileAttributesA(file.c_str());
    ASSERT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (Win32::FILE_ATTRIBUTE_DIRECTORY | Win32::FILE_ATTRIBUTE_READONLY), 0u);
    attributes = Win32::GetFileAttributesA((dir / "SUB\\READONLY.BIN").c_str());
    ASSERT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(attributes & Win32::FILE_ATTRIBUTE_READONLY, 0u);
    attributes = Win32::GetFileAttributesA((dir / "sub").c_str());
    ASSERT_NE(attributes, Win32::INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & Win32::FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(PlatformFiles, DeleteFileRemovesAFileNamedInAnyCase)
{
    TempDir dir;
    std::string path = dir.Write("Archive/Index.IDX", "index");
    std::string other = dir.Write("Archive/Data.DAT", "data");
    EXPECT_TRUE(Win32::DeleteFileA((dir / "archive\\index.idx").c_str()));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::is_directory(dir / "Archive"));

    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::DeleteFileA(path.c_str()));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorFileNotFound);
}

TEST(PlatformFiles, DeleteFileRefusesDirectoriesAndMissingPaths)
{
    TempDir dir;
    fs::create_directories(dir.Path() / "empty");
    dir.Write("full/file.txt", "x");
    for (const char* name : {"empty", "EMPTY", "full"}) {
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::DeleteFileA((dir / name).c_str())) << name;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorAccessDenied) << name;
    }
    EXPECT_TRUE(fs::is_directory(dir / "empty"));
    EXPECT_TRUE(fs::exists(dir / "full/file.txt"));

    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::DeleteFileA((dir / "missing.txt").c_str()));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorFileNotFound);
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::DeleteFileA((dir / "nowhere\\missing.txt").c_str()));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorPathNotFound);
}
