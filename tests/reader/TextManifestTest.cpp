#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "reader/ConfigurationManifest.h"
#include "reader/FieldReaders.h"
#include "reader/FileReads.h"
#include "reader/SolutionManifest.h"
#include "reader/Version.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using namespace Tarn;
using namespace Tarn::VELL::Reader;
using TarnTest::LogCapture;
using TarnTest::LoggedError;
using TarnTest::TempDir;

namespace {

uint32_t Parse(const char* text, bool* ok = nullptr)
{
    uint32_t version = 0xDEADBEEF;
    bool result = ParseVersionString(text, &version);
    if (ok) *ok = result;
    return version;
}

// A stream over the given text, for the field readers.
class TextStream {
public:
    explicit TextStream(const std::string& text) : mPath(mDir.Write("field.txt", text))
    {
        mStream = std::fopen(mPath.c_str(), "rb");
    }
    ~TextStream() { std::fclose(mStream); }
    std::FILE* get() const { return mStream; }

private:
    TempDir mDir;
    std::string mPath;
    std::FILE* mStream;
};

std::string SolutionText(const std::string& projects, const std::string& configurations)
{
    return "VELL Solution Manifest\n1.0.0.0\nGame\n1.2.3.4\n" + projects + configurations;
}

const char kLoad[] = "Tarn::VELL::Reader::SolutionManifest::Load";
const char kHeader[] = "Tarn::VELL::Reader::SolutionManifest::LoadHeader";
const char kProjects[] = "Tarn::VELL::Reader::SolutionManifest::LoadProjects";
const char kConfigurations[] = "Tarn::VELL::Reader::SolutionManifest::LoadConfigurations";
const char kConfiguration[] = "Tarn::VELL::Reader::ConfigurationManifest::Load";

std::string Msg(const char* name, const std::string& rest) { return std::string(name) + ": " + rest; }

}  // namespace

// ---- packed versions ----------------------------------------------------------------------

TEST(VersionString, ParsesFourNumbersUpTo255)
{
    bool ok = false;
    EXPECT_EQ(Parse("1.0.0.0", &ok), 0x01000000u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("255.255.255.255", &ok), 0xFFFFFFFFu);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("1.0.0.0xyz", &ok), 0x01000000u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("1.0.0.0\r\n", &ok), 0x01000000u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("\t1.2.3.4", &ok), 0x01020304u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("+1.\t2.3.4", &ok), 0x01020304u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Parse("-0.0.0.7", &ok), 7u);
    EXPECT_TRUE(ok);
}

TEST(VersionString, RefusesBlanksShortFormsAndLargeOrNegativeNumbers)
{
    for (const char* bad : {"1.0.0.256", "-1.0.0.0", "1.0.0", "1. 0.0.0", "1.0.0.0 ", "1..0.0", "a.b.c.d", "",
                            "99999999999999999999.0.0.0", "1.0.0.4294967297"}) {
        bool ok = true;
        EXPECT_EQ(Parse(bad, &ok), 0u) << bad;
        EXPECT_FALSE(ok) << bad;
    }
    bool ok = true;
    EXPECT_EQ(Parse(nullptr, &ok), 0u);
    EXPECT_FALSE(ok);
}

TEST(VersionString, FormatsWithoutPadding)
{
    EXPECT_STREQ(FormatVersionString(0x00000076).c_str(), "0.0.0.118");
    EXPECT_STREQ(FormatVersionString(0x01000000).c_str(), "1.0.0.0");
    EXPECT_STREQ(FormatVersionString(0xFFFFFFFF).c_str(), "255.255.255.255");
}

// ---- field readers ------------------------------------------------------------------------

TEST(FieldReaders, ReadStringStripsLineEndsAndSplitsLongLines)
{
    std::string longLine(1500, 'x');
    longLine[1023] = 'Y';
    TextStream in("Name\r\n  padded  \nabc\r\r\n\n" + longLine + "\n");
    std::string text;
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "Name");
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "  padded  ");
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "abc");
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "");
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, std::string(1023, 'x'));
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "Y" + std::string(476, 'x'));
}

TEST(FieldReaders, ReadStringAtTheEndKeepsWhatTheTextHeld)
{
    TextStream in("last\n");
    std::string held;
    ASSERT_EQ(ReadString(in.get(), held), kOk);
    bool endOfFile = false;
    ASSERT_EQ(ReadString(in.get(), held, &endOfFile), kOk);
    EXPECT_TRUE(endOfFile);
    EXPECT_EQ(held, "last");
    std::string fresh;
    ASSERT_EQ(ReadString(in.get(), fresh), kOk);
    EXPECT_EQ(fresh, "");
}

TEST(FieldReaders, ReadDWORDConvertsLikeStrtoulInBaseZero)
{
    TextStream in("0x10\n010\n12abc\n  7\n4294967296\n-1\n-2\n0xZ\n");
    std::vector<uint32_t> expected = {16, 8, 12, 7, 4294967295u, 4294967295u, 4294967294u, 0};
    for (uint32_t want : expected) {
        uint32_t value = 1234;
        EXPECT_EQ(ReadDWORD(in.get(), value), kOk);
        EXPECT_EQ(value, want);
    }
}

TEST(FieldReaders, ReadDWORDRefusesLinesWithoutDigits)
{
    LogCapture log;
    TextStream in("abc\n\n");
    uint32_t value = 99;
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_EQ(log.Count("Tarn::VELL::Reader::ReadDWORD: Could not convert string to number"), 2u);

    // At the end of the file with no operating-system error the line counts as empty.
    Win32::SetLastError(0);
    log.Clear();
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags, "Tarn::VELL::Reader::ReadDWORD: No error"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadDWORD: Could not convert string to number"));

    // With a stale error code the read itself is reported as failed.
    Win32::SetLastError(5);
    log.Clear();
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadDWORD: Input/output error"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadDWORD: fgets failed"));
    Win32::SetLastError(0);
}

TEST(FieldReaders, VersionReadersNameThemselvesAndQuoteTheLineAsRead)
{
    LogCapture log;
    TextStream in("1.0.0.0\r\n1.0\n1.0\n");
    uint32_t version = 0;
    EXPECT_EQ(ReadVersion(in.get(), version), kOk);
    EXPECT_EQ(version, 0x01000000u);
    EXPECT_EQ(ReadVersion(in.get(), version), kFail);
    EXPECT_EQ(version, 0u);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadVersion: Failed to convert version string \"1.0\n\"."));
    EXPECT_EQ(ReadVellVersion(in.get(), version), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadVellVersion: Failed to convert version string \"1.0\n\"."));
}

TEST(FieldReaders, ReadStringReportsAStreamError)
{
    LogCapture log;
    TarnTest::ScopedCalls calls;
    Win32::gCalls.fgets = [](char*, int, std::FILE*) -> char* { return nullptr; };
    Win32::gCalls.ferror = [](std::FILE*) { return 32; };
    TextStream in("x\n");
    std::string text = "kept";
    EXPECT_EQ(ReadString(in.get(), text), kFail);
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadString: Broken pipe"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadString: fgets failed"));
}

// ---- whole-file reads ----------------------------------------------------------------------

TEST(FileReads, ReadsWholeFilesAndBlocks)
{
    TempDir dir;
    std::vector<uint8_t> data{1, 2, 3};
    std::string empty = dir.Write("empty.bin", "");
    EXPECT_EQ(ReadFileIntoBuffer(empty.c_str(), data), kOk);
    EXPECT_TRUE(data.empty());

    std::string content("abc\0def", 7);
    std::string file = dir.Write("file.bin", content);
    EXPECT_EQ(ReadFileIntoBuffer(file.c_str(), data), kOk);
    EXPECT_EQ(std::string(data.begin(), data.end()), content);
    EXPECT_EQ(ReadFileBlockIntoBuffer(file.c_str(), 3, data), kOk);
    EXPECT_EQ(std::string(data.begin(), data.end()), "abc");
}

TEST(FileReads, RefusesDirectoriesAndMissingFilesAtTheStatusStep)
{
    LogCapture log;
    TempDir dir;
    std::vector<uint8_t> data;
    std::string directory = dir.Path().string();
    EXPECT_EQ(ReadFileIntoBuffer(directory.c_str(), data), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to get size of \"" + directory + "\"."));
    std::string missing = dir / "missing.bin";
    EXPECT_EQ(ReadFileIntoBuffer(missing.c_str(), data), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to get size of \"" + missing + "\"."));
    EXPECT_FALSE(log.Contains("Tarn::VELL::Reader::vell_fopen_s: (\"" + missing + "\", \"rb\") failed: No such file or directory"));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags,
                                 "Tarn::VELL::Reader::ReadFileIntoBuffer: (" + missing + ")"));
}

TEST(FileReads, AShortReadFailsWithFreadFailed)
{
    LogCapture log;
    TarnTest::ScopedCalls calls;
    TempDir dir;
    std::string file = dir.Write("shrinks.bin", "0123456789");
    Win32::gCalls.fread = [](void* b, size_t s, size_t n, std::FILE* f) { return std::fread(b, s, n > 0 ? n - 1 : 0, f); };
    std::vector<uint8_t> data;
    EXPECT_EQ(ReadFileIntoBuffer(file.c_str(), data), kFail);
    EXPECT_TRUE(log.InOrder({"Tarn::VELL::Reader::ReadFileBlockIntoBuffer: No error",
                             "Tarn::VELL::Reader::ReadFileBlockIntoBuffer: fread failed",
                             "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to read \"" + file + "\"."}))
        << log.Dump();
}

TEST(FileReads, OpenFailureReportsBothErrorTexts)
{
    LogCapture log;
    TempDir dir;
    std::string missing = dir / "missing.bin";
    std::FILE* stream = reinterpret_cast<std::FILE*>(1);
    EXPECT_EQ(vell_fopen_s(&stream, missing.c_str(), "rb"), 2);
    EXPECT_EQ(stream, nullptr);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::vell_fopen_s: No such file or directory"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::vell_fopen_s: (\"" + missing + "\", \"rb\") failed: No such file or directory"));

    std::vector<uint8_t> data;
    EXPECT_EQ(ReadFileBlockIntoBuffer(missing.c_str(), 4, data), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadFileBlockIntoBuffer: Failed to open \"" + missing + "\"."));
}

TEST(FileReads, LogSystemErrorReportsZeroAsInformation)
{
    LogCapture log;
    EXPECT_EQ(LogSystemError("Fn", 0), kOk);
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags, "Fn: No error"));
    EXPECT_EQ(LogSystemError("Fn", 13), kFail);
    EXPECT_TRUE(LoggedError(log, "Fn: Permission denied"));
}

// ---- solution manifest ---------------------------------------------------------------------

TEST(SolutionManifest, LoadsProjectsAndConfigurationsInNameOrder)
{
    LogCapture log;
    TempDir dir;
    std::string path = dir.Write("solutionmanifest", SolutionText("3\nb\n0.0.0.2\n10\n0x1\nA\n0.0.0.1\n20\n0\nc\n1.0.0.0\n5\n0\n",
                                                                  "2\nLow\n0\n1\nc\nAll\n7\n3\nc\nB\na\n"));
    SolutionManifest manifest;
    EXPECT_EQ(manifest.Version(), 0xFFFFFFFFu);
    ASSERT_EQ(manifest.Load(path.c_str()), kOk) << log.Dump();
    EXPECT_EQ(manifest.Name(), "Game");
    EXPECT_EQ(manifest.Version(), 0x01020304u);
    ASSERT_EQ(manifest.Projects().size(), 3u);
    EXPECT_EQ(manifest.Projects()[0].name, "A");
    EXPECT_EQ(manifest.Projects()[1].name, "b");
    EXPECT_EQ(manifest.Projects()[1].flags, 1u);
    EXPECT_EQ(manifest.Projects()[2].name, "c");
    ASSERT_NE(manifest.FindProject("B"), nullptr);
    EXPECT_EQ(manifest.FindProject("B")->priority, 10u);
    EXPECT_EQ(manifest.FindProject("d"), nullptr);
    ASSERT_EQ(manifest.Configurations().size(), 2u);
    EXPECT_EQ(manifest.Configurations()[0].name, "All");
    EXPECT_EQ(manifest.Configurations()[0].projects, (std::vector<std::string>{"a", "B", "c"}));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags, Msg(kLoad, "(\"" + path + "\")")));
}

TEST(SolutionManifest, HeaderChecksNameTheField)
{
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"vell SOLUTION manifest\n1.0.0.0\nn\n1.0.0.0\n0\n0\n", ""},
        {"VELL Solution Manifest \n1.0.0.0\n", Msg(kHeader, "Magic string does not match")},
        {"VELL Solution Manifest\n1.0.0.1\n", Msg(kHeader, "File version mismatch")},
        {"VELL Solution Manifest\nabc\n", Msg(kHeader, "Invalid format for file version string \"abc\".")},
        {"VELL Solution Manifest\n1.0.0.0\nn\n1.0\n", Msg(kHeader, "Invalid format for solution version string \"1.0\".")},
    };
    for (const Case& c : cases) {
        LogCapture log;
        TempDir dir;
        std::string path = dir.Write("solutionmanifest", c.text);
        SolutionManifest manifest;
        HRESULT result = manifest.Load(path.c_str());
        if (c.message.empty()) {
            EXPECT_EQ(result, kOk) << c.text << log.Dump();
            continue;
        }
        EXPECT_EQ(result, kFail) << c.text;
        EXPECT_TRUE(log.InOrder({c.message, Msg(kLoad, "Failed to load header")})) << log.Dump();
    }
}

TEST(SolutionManifest, UnconvertibleProjectCountMeansNoProjects)
{
    LogCapture log;
    TempDir dir;
    // "abc" counts as 0, so the next line is the configuration count.
    std::string path = dir.Write("solutionmanifest", SolutionText("abc\n", "0\n"));
    SolutionManifest manifest;
    EXPECT_EQ(manifest.Load(path.c_str()), kOk) << log.Dump();
    EXPECT_TRUE(manifest.Projects().empty());
}

TEST(SolutionManifest, RefusesDuplicateAndUnknownNames)
{
    {
        LogCapture log;
        TempDir dir;
        std::string path = dir.Write("solutionmanifest", SolutionText("2\nClient\n0.0.0.1\n1\n0\nCLIENT\n0.0.0.1\n1\n0\n", "0\n"));
        SolutionManifest manifest;
        EXPECT_EQ(manifest.Load(path.c_str()), kFail);
        EXPECT_TRUE(log.InOrder({Msg(kProjects, "Failed to add project"), Msg(kLoad, "Failed to load projects")}))
            << log.Dump();
        EXPECT_EQ(manifest.Projects().size(), 1u);
    }
    {
        LogCapture log;
        TempDir dir;
        std::string path = dir.Write("solutionmanifest", SolutionText("1\nA\n0.0.0.1\n1\n0\n", "1\nCfg\n0\n1\nNobody\n"));
        SolutionManifest manifest;
        EXPECT_EQ(manifest.Load(path.c_str()), kFail);
        EXPECT_TRUE(log.InOrder({"Tarn::VELL::Reader::SolutionManifest::AddConfiguration: Configuration references unknown "
                                 "project.  Add projects before configurations.",
                                 Msg(kConfigurations, "Failed to add configuration"), Msg(kLoad, "Failed to load configurations")}))
            << log.Dump();
    }
    {
        LogCapture log;
        TempDir dir;
        std::string path = dir.Write("solutionmanifest", SolutionText("1\nA\n0.0.0.1\n1\n0\n", "1\nCfg\n0\n2\nA\na\n"));
        SolutionManifest manifest;
        EXPECT_EQ(manifest.Load(path.c_str()), kFail);
        EXPECT_TRUE(LoggedError(log, Msg(kConfigurations, "Duplicate project in configuration")));
    }
}

TEST(SolutionManifest, CountsBeyondTheFileEndAtTheFirstMissingRecord)
{
    LogCapture log;
    TempDir dir;
    Win32::SetLastError(0);
    std::string path = dir.Write("solutionmanifest", SolutionText("4294967295\nA\n0.0.0.1\n1\n0\n", ""));
    SolutionManifest manifest;
    EXPECT_EQ(manifest.Load(path.c_str()), kFail);
    EXPECT_TRUE(log.InOrder({Msg(kProjects, "Failed to read project version"), Msg(kLoad, "Failed to load projects")}))
        << log.Dump();
    EXPECT_EQ(manifest.Projects().size(), 1u);

    LogCapture log2;
    path = dir.Write("solutionmanifest2", SolutionText("1\nA\n0.0.0.1\n1\n0\n", "1\nCfg\n0\n4294967295\nA\n"));
    EXPECT_EQ(manifest.Load(path.c_str()), kFail);
    EXPECT_TRUE(LoggedError(log2, Msg(kConfigurations, "Duplicate project in configuration")));
}

TEST(SolutionManifest, MissingFileFailsToOpen)
{
    LogCapture log;
    TempDir dir;
    std::string missing = dir / "solutionmanifest";
    SolutionManifest manifest;
    EXPECT_EQ(manifest.Load(missing.c_str()), kFail);
    EXPECT_TRUE(LoggedError(log, Msg(kLoad, "Failed to open \"" + missing + "\".")));
}

// ---- configuration manifest ----------------------------------------------------------------

TEST(ConfigurationManifest, LoadsNamesInFileOrderWithDuplicates)
{
    LogCapture log;
    TempDir dir;
    std::string path = dir.Write("configurationmanifest", "VELL CONFIGURATION MANIFEST\n1.0.0.0\nRetail\n0x3\nb\nA\nb\n");
    ConfigurationManifest manifest;
    ASSERT_EQ(manifest.Load(path.c_str()), kOk) << log.Dump();
    EXPECT_EQ(manifest.Name(), "Retail");
    EXPECT_EQ(manifest.Projects(), (std::vector<std::string>{"b", "A", "b"}));
}

TEST(ConfigurationManifest, RefusesWrongHeaderFields)
{
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"VELL Configuration Manifest\n1.0.0.1\n", "File version mismatch"},
        {"VELL Configuration Manifest\n1.0\n", "Failed to read version"},
        {"VELL Configuration\n1.0.0.0\n", "Magic string does not match"},
        {"VELL Configuration Manifest\n1.0.0.0\nName\nmany\n", "Failed to read project count"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        TempDir dir;
        std::string path = dir.Write("configurationmanifest", c.text);
        ConfigurationManifest manifest;
        EXPECT_EQ(manifest.Load(path.c_str()), kFail) << c.text;
        EXPECT_TRUE(LoggedError(log, Msg(kConfiguration, c.message))) << c.text;
    }
}

TEST(ConfigurationManifest, AShortFileRepeatsTheLastNameRead)
{
    TempDir dir;
    ConfigurationManifest manifest;
    std::string path = dir.Write("a", "VELL Configuration Manifest\n1.0.0.0\nCfg\n3\nA\nB\n");
    ASSERT_EQ(manifest.Load(path.c_str()), kOk);
    EXPECT_EQ(manifest.Projects(), (std::vector<std::string>{"A", "B", "B"}));

    path = dir.Write("b", "VELL Configuration Manifest\n1.0.0.0\nCfg\n1\n");
    ASSERT_EQ(manifest.Load(path.c_str()), kOk);
    EXPECT_EQ(manifest.Projects(), (std::vector<std::string>{"VELL Configuration Manifest"}));
}

TEST(ConfigurationManifest, ACountFarBeyondTheFileIsBoundedByWhatTheFileHolds)
{
    TempDir dir;
    ConfigurationManifest manifest;
    std::string path = dir.Write("c", "VELL Configuration Manifest\n1.0.0.0\nCfg\n4294967295\nA\nB\n");
    ASSERT_EQ(manifest.Load(path.c_str()), kOk);
    // Two names read, so at most three taken past the end.
    EXPECT_EQ(manifest.Projects(), (std::vector<std::string>{"A", "B", "B", "B", "B"}));
}

TEST(ConfigurationManifest, ReportsWhichNameCouldNotBeRead)
{
    LogCapture log;
    TarnTest::ScopedCalls calls;
    TempDir dir;
    std::string path = dir.Write("d", "VELL Configuration Manifest\n1.0.0.0\nCfg\n3\nA\nB\nC\n");
    static int lines;
    lines = 0;
    Win32::gCalls.fgets = [](char* b, int n, std::FILE* f) -> char* { return ++lines == 6 ? nullptr : std::fgets(b, n, f); };
    Win32::gCalls.ferror = [](std::FILE*) { return lines >= 6 ? 32 : 0; };
    ConfigurationManifest manifest;
    EXPECT_EQ(manifest.Load(path.c_str()), kFail);
    EXPECT_TRUE(LoggedError(log, Msg(kConfiguration, "Failed to read project name 1 of 3"))) << log.Dump();
}

TEST(ConfigurationManifest, MissingFileGivesTheOpenFailure)
{
    LogCapture log;
    TempDir dir;
    std::string missing = dir / "configurationmanifest";
    ConfigurationManifest manifest;
    EXPECT_EQ(manifest.Load(missing.c_str()), kFail);
    EXPECT_EQ(log.Count(Msg(kConfiguration, "No such file or directory")), 2u) << log.Dump();
    EXPECT_TRUE(LoggedError(log, Msg(kConfiguration, "Failed to open configuration file \"" + missing + "\".")));
}
