// The text manifests: the field readers they are parsed with, the solution manifest and the
// configuration manifest, what they load and how they refuse what they cannot read.
#include <cstdio>

#include "reader/ConfigurationManifest.h"
#include "reader/FieldReaders.h"
#include "reader/SolutionManifest.h"

#include "ReaderTestSupport.h"
#include "support/Platform.h"

using namespace Tarn;
using namespace Tarn::VELL::Reader;
using namespace ReaderTest;

namespace {

// A stream over the given text, for the field readers.
struct TextStream {
    TempDir dir;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file;
    explicit TextStream(const std::string& text) : file(std::fopen(dir.Write("field.txt", text).c_str(), "rb"), std::fclose) {}
    std::FILE* get() const { return file.get(); }
};

std::string SolutionText(const std::string& projects, const std::string& configurations)
{
    return "VELL Solution Manifest\n1.0.0.0\nGame\n1.2.3.4\n" + projects + configurations;
}

const std::string kLoad = "Tarn::VELL::Reader::SolutionManifest::Load: ";
const std::string kHeader = "Tarn::VELL::Reader::SolutionManifest::LoadHeader: ";
const std::string kProjects = "Tarn::VELL::Reader::SolutionManifest::LoadProjects: ";
const std::string kConfigurations = "Tarn::VELL::Reader::SolutionManifest::LoadConfigurations: ";
const std::string kConfiguration = "Tarn::VELL::Reader::ConfigurationManifest::Load: ";

}  // namespace

TEST(FieldReaders, ReadStringStripsLineEndsSplitsLongLinesAndKeepsTheTextAtTheEndOrOnAnError)
{
    std::string longLine(1500, 'x');
    longLine[1023] = 'Y';
    TextStream in("Name\r\n  padded  \nabc\r\r\n\n" + longLine + "\n");
    std::string text;
    for (const std::string& expected : std::vector<std::string>{"Name", "  padded  ", "abc", "", std::string(1023, 'x')}) {
        ASSERT_EQ(ReadString(in.get(), text), kOk);
        EXPECT_EQ(text, expected);
    }
    ASSERT_EQ(ReadString(in.get(), text), kOk);
    EXPECT_EQ(text, "Y" + std::string(476, 'x'));
    bool endOfFile = false;
    ASSERT_EQ(ReadString(in.get(), text, &endOfFile), kOk);
    EXPECT_TRUE(endOfFile);
    EXPECT_EQ(text, "Y" + std::string(476, 'x'));

    // A stream error is reported and leaves the text as it was.
    LogCapture log;
    TarnTest::ScopedCalls calls;
    Win32::gCalls.fgets = [](char*, int, std::FILE*) -> char* { return nullptr; };
    Win32::gCalls.ferror = [](std::FILE*) { return 32; };
    EXPECT_EQ(ReadString(in.get(), text), kFail);
    EXPECT_EQ(text, "Y" + std::string(476, 'x'));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadString: Broken pipe"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadString: fgets failed"));
}

TEST(FieldReaders, NumbersConvertLikeStrtoulInBaseZeroAndVersionsAsPackedFourPartNumbers)
{
    LogCapture log;
    TextStream in("0x10\n010\n12abc\n  7\n4294967296\n-1\n-2\n0xZ\nabc\n\n");
    uint32_t value = 1234;
    for (uint32_t want : {16u, 8u, 12u, 7u, 4294967295u, 4294967295u, 4294967294u, 0u}) {
        EXPECT_EQ(ReadDWORD(in.get(), value), kOk);
        EXPECT_EQ(value, want);
    }
    const std::string noNumber = "Tarn::VELL::Reader::ReadDWORD: Could not convert string to number";
    value = 99;
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_EQ(log.Count(noNumber), 2u);

    // At the end of the file with no operating-system error the line counts as empty.
    Win32::SetLastError(0);
    log.Clear();
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags, "Tarn::VELL::Reader::ReadDWORD: " + TarnTest::CrtText(0)));
    EXPECT_TRUE(LoggedError(log, noNumber));

    // With a stale error code the read itself is reported as failed.
    Win32::SetLastError(5);
    log.Clear();
    EXPECT_EQ(ReadDWORD(in.get(), value), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadDWORD: Input/output error"));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadDWORD: fgets failed"));
    Win32::SetLastError(0);

    // The version readers name themselves and quote the line as read.
    TextStream versions("1.0.0.0\r\n1.0\n1.0\n");
    EXPECT_EQ(ReadVersion(versions.get(), value), kOk);
    EXPECT_EQ(value, 0x01000000u);
    EXPECT_EQ(ReadVersion(versions.get(), value), kFail);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadVersion: Failed to convert version string \"1.0\n\"."));
    EXPECT_EQ(ReadVellVersion(versions.get(), value), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadVellVersion: Failed to convert version string \"1.0\n\"."));
}

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
    EXPECT_EQ(manifest.Projects()[0].name + manifest.Projects()[1].name + manifest.Projects()[2].name, "Abc");
    EXPECT_EQ(manifest.Projects()[1].flags, 1u);
    ASSERT_NE(manifest.FindProject("B"), nullptr);
    EXPECT_EQ(manifest.FindProject("B")->priority, 10u);
    EXPECT_EQ(manifest.FindProject("d"), nullptr);
    ASSERT_EQ(manifest.Configurations().size(), 2u);
    EXPECT_EQ(manifest.Configurations()[0].name, "All");
    EXPECT_EQ(manifest.Configurations()[0].projects, (std::vector<std::string>{"a", "B", "c"}));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kInfoTags, kLoad + "(\"" + path + "\")"));

    // The magic string ignores case, and a project count without digits means no projects.
    for (const std::string& text :
         std::vector<std::string>{"vell SOLUTION manifest\n1.0.0.0\nn\n1.0.0.0\n0\n0\n", SolutionText("abc\n", "0\n")}) {
        path = dir.Write("other", text);
        SolutionManifest other;
        EXPECT_EQ(other.Load(path.c_str()), kOk) << text << log.Dump();
        EXPECT_TRUE(other.Projects().empty());
    }
}

TEST(SolutionManifest, RefusalsNameTheFieldAndStopAtTheFirstBadRecord)
{
    const std::string header = kLoad + "Failed to load header", projects = kLoad + "Failed to load projects",
                      configurations = kLoad + "Failed to load configurations", oneProject = "1\nA\n0.0.0.1\n1\n0\n";
    const struct {
        std::string text;
        std::vector<std::string> messages;  // in order
        std::size_t projects;               // loaded before the refusal
    } cases[] = {
        {"VELL Solution Manifest \n1.0.0.0\n", {kHeader + "Magic string does not match", header}, 0},
        {"VELL Solution Manifest\n1.0.0.1\n", {kHeader + "File version mismatch", header}, 0},
        {"VELL Solution Manifest\nabc\n", {kHeader + "Invalid format for file version string \"abc\".", header}, 0},
        {"VELL Solution Manifest\n1.0.0.0\nn\n1.0\n", {kHeader + "Invalid format for solution version string \"1.0\".", header}, 0},
        {SolutionText("2\nClient\n0.0.0.1\n1\n0\nCLIENT\n0.0.0.1\n1\n0\n", "0\n"), {kProjects + "Failed to add project", projects}, 1},
        {SolutionText(oneProject, "1\nCfg\n0\n1\nNobody\n"),
         {"Tarn::VELL::Reader::SolutionManifest::AddConfiguration: Configuration references unknown project.  Add projects "
          "before configurations.",
          kConfigurations + "Failed to add configuration", configurations},
         1},
        {SolutionText(oneProject, "1\nCfg\n0\n2\nA\na\n"), {kConfigurations + "Duplicate project in configuration"}, 1},
        // Counts beyond the end of the file.
        {SolutionText("4294967295\nA\n0.0.0.1\n1\n0\n", ""), {kProjects + "Failed to read project version", projects}, 1},
        {SolutionText(oneProject, "1\nCfg\n0\n4294967295\nA\n"), {kConfigurations + "Duplicate project in configuration"}, 1},
    };
    for (const auto& c : cases) {
        LogCapture log;
        TempDir dir;
        Win32::SetLastError(0);
        const std::string path = dir.Write("solutionmanifest", c.text);
        SolutionManifest manifest;
        EXPECT_EQ(manifest.Load(path.c_str()), kFail) << c.text;
        EXPECT_TRUE(log.InOrder(c.messages)) << c.text << log.Dump();
        EXPECT_TRUE(LoggedError(log, c.messages.back()));
        EXPECT_EQ(manifest.Projects().size(), c.projects) << c.text;
    }
    LogCapture log;
    TempDir dir;
    const std::string missing = dir / "solutionmanifest";
    SolutionManifest manifest;
    EXPECT_EQ(manifest.Load(missing.c_str()), kFail);
    EXPECT_TRUE(LoggedError(log, kLoad + "Failed to open \"" + missing + "\"."));
}

TEST(ConfigurationManifest, LoadsNamesInFileOrderAndRepeatsTheLastNameAFewTimesAtMost)
{
    const std::string header = "VELL Configuration Manifest\n1.0.0.0\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"VELL CONFIGURATION MANIFEST\n1.0.0.0\nRetail\n0x3\nb\nA\nb\n", {"b", "A", "b"}},
        {header + "Cfg\n3\nA\nB\n", {"A", "B", "B"}},  // a short file repeats the last name read
        {header + "Cfg\n1\n", {"VELL Configuration Manifest"}},
        {header + "Cfg\n4294967295\nA\nB\n", {"A", "B", "B", "B", "B"}},  // two names read: at most three more
    };
    TempDir dir;
    for (const auto& [text, names] : cases) {
        LogCapture log;
        ConfigurationManifest manifest;
        ASSERT_EQ(manifest.Load(dir.Write("configurationmanifest", text).c_str()), kOk) << text << log.Dump();
        EXPECT_EQ(manifest.Projects(), names) << text;
    }
    ConfigurationManifest manifest;
    ASSERT_EQ(manifest.Load(dir.Write("configurationmanifest", cases[0].first).c_str()), kOk);
    EXPECT_EQ(manifest.Name(), "Retail");
}

TEST(ConfigurationManifest, RefusesWrongHeaderFieldsAndSaysWhatItCannotRead)
{
    const std::pair<std::string, std::string> cases[] = {
        {"VELL Configuration Manifest\n1.0.0.1\n", "File version mismatch"},
        {"VELL Configuration Manifest\n1.0\n", "Failed to read version"},
        {"VELL Configuration\n1.0.0.0\n", "Magic string does not match"},
        {"VELL Configuration Manifest\n1.0.0.0\nName\nmany\n", "Failed to read project count"},
    };
    TempDir dir;
    for (const auto& [text, message] : cases) {
        LogCapture log;
        ConfigurationManifest manifest;
        EXPECT_EQ(manifest.Load(dir.Write("configurationmanifest", text).c_str()), kFail) << text;
        EXPECT_TRUE(LoggedError(log, kConfiguration + message)) << text;
    }
    {
        LogCapture log;
        const std::string missing = dir / "missing";
        ConfigurationManifest manifest;
        EXPECT_EQ(manifest.Load(missing.c_str()), kFail);
        EXPECT_EQ(log.Count(kConfiguration + "No such file or directory"), 2u) << log.Dump();
        EXPECT_TRUE(LoggedError(log, kConfiguration + "Failed to open configuration file \"" + missing + "\"."));
    }
    LogCapture log;
    TarnTest::ScopedCalls calls;
    const std::string path = dir.Write("d", "VELL Configuration Manifest\n1.0.0.0\nCfg\n3\nA\nB\nC\n");
    static int lines;
    lines = 0;
    Win32::gCalls.fgets = [](char* b, int n, std::FILE* f) -> char* { return ++lines == 6 ? nullptr : std::fgets(b, n, f); };
    Win32::gCalls.ferror = [](std::FILE*) { return lines >= 6 ? 32 : 0; };
    ConfigurationManifest manifest;
    EXPECT_EQ(manifest.Load(path.c_str()), kFail);
    EXPECT_TRUE(LoggedError(log, kConfiguration + "Failed to read project name 1 of 3")) << log.Dump();
}
