// The shared library as a host meets it: loaded with dlopen, reached only through its thirteen
// exports, its messages received by a log table of the host's own.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "support/TempDir.h"
#include "writer/Sample.h"

namespace fs = std::filesystem;
using namespace Tarn::VELL::Writer;

namespace {

// ---- the host's log table: it keeps every message; the library uses only two entries ----

constexpr std::uint64_t kHostCategory = std::uint64_t{1} << 40;
std::mutex gLogMutex;
std::vector<std::pair<std::int32_t, std::string>> gMessages;  // severity, text
std::vector<std::string> gCodes;
std::uint64_t gLastTags = 0;

const LogFunctionTable kHostTable = {
    [](auto...) -> int32_t { return 1; }, [](auto...) {}, [](auto...) {}, [](auto...) {},
    [](auto...) -> int32_t { return 0; }, [](auto...) {}, [](auto...) -> uint64_t { return 0; },
    [](auto...) {}, [](auto...) {}, [](auto...) {}, [](auto...) {}, [](auto...) {}, [](auto...) {},
    [](auto...) -> ITarnLogTarget* { return nullptr; }, [](auto...) -> ITarnLogTarget* { return nullptr; },
    [](auto...) -> ITarnLogTarget* { return nullptr; }, [](auto...) -> ITarnLogTarget* { return nullptr; },
    [](uint64_t* mask, const char* code) -> uint64_t {
        std::lock_guard<std::mutex> guard(gLogMutex);
        gCodes.push_back(code);
        return *mask = kHostCategory;
    },
    [](auto...) {}, [](auto...) {}, [](auto...) -> const char* { return ""; }, [](auto...) -> const char* { return ""; },
    [](auto...) {}, [](auto...) -> int32_t { return 0; }, [](auto...) -> int32_t { return 0; },
    [](int32_t severity, uint32_t low, uint32_t high, const char* format, va_list args) {
        char text[16384];
        if (std::vsnprintf(text, sizeof(text), format, args) < 0) text[0] = '\0';
        std::lock_guard<std::mutex> guard(gLogMutex);
        gMessages.emplace_back(severity, text);
        gLastTags = (std::uint64_t{high} << 32) | low;
    },
};

// The texts logged at or above a severity, in order.
std::vector<std::string> Logged(std::int32_t severity = VELL_LOG_OKAY)
{
    std::lock_guard<std::mutex> guard(gLogMutex);
    std::vector<std::string> texts;
    for (const auto& [level, text] : gMessages)
        if (level >= severity) texts.push_back(text);
    return texts;
}
std::size_t Count(const std::string& text)
{
    const auto texts = Logged();
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}
// Whether these texts were logged in this order (others may stand between them).
bool InOrder(const std::vector<std::string>& expected)
{
    std::size_t next = 0;
    for (const std::string& text : Logged()) next += next < expected.size() && text == expected[next];
    return next == expected.size();
}
std::string Dump()
{
    std::string out;
    for (const std::string& text : Logged()) out += text + "\n";
    return out;
}

// ---- the library ------------------------------------------------------------------------

#define VELL_EXPORTS(X)                                                                                                 \
    X(VellInitialize) X(VellShutdown) X(VellFileExists) X(VellFindFirstFile) X(VellFindNextFile) X(VellFindClose)       \
    X(VellOpenFile) X(VellRead) X(VellGetFileSize) X(VellCloseFile) X(VellSetLogger) X(EnableEventXMLLogTarget)         \
    X(RegisterNativeEventCallback)

struct Library {
#define VELL_DECLARE(name) decltype(&::name) name = nullptr;
    VELL_EXPORTS(VELL_DECLARE)
    bool complete = true;

    explicit Library(const std::string& path)
    {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << dlerror();
            complete = false;
            return;
        }
#define VELL_BIND(name)                                                  \
    name = reinterpret_cast<decltype(name)>(dlsym(handle, #name));       \
    EXPECT_NE(name, nullptr) << #name " is not exported";                \
    complete = complete && name != nullptr;
        VELL_EXPORTS(VELL_BIND)
    }
};

// The library of this process, the host's table installed once.
Library& Vell()
{
    static Library library = [] {
        Library loaded(TARNVELLIO_LIBRARY);
        if (loaded.complete) loaded.VellSetLogger(&kHostTable);
        return loaded;
    }();
    return library;
}

// ---- content: the sample layout and, of our own, a project "extra" and two solutions ------
//   trio 0.0.0.3    patch (priority 30), extra (20), client (10), named in another order
//   broken 0.0.0.1  client and "ghost", a project that was never written
struct Content {
    TarnTest::TempDir dir;
    fs::path root = dir.Path() / "VELL";
    std::vector<ProjectRelease> trio;  // in lookup order
    std::string client = (root / "projects/client/releases/0.0.0.2/deploy").string();
    std::string trioDeploy = (root / "solutions/trio/releases/0.0.0.3/deploy").string();
    std::string broken = (root / "solutions/broken/releases/0.0.0.1/deploy").string();

    Content()
    {
        WriteSampleLayout(dir.Path());
        ProjectRelease extra("extra", 1);
        extra.Add("DATA/readme.txt", SampleContent("extra", 1, "readme", 2500), Storage::Archived, Compression::Zlib)
            .Add("DATA/Characters/Hero/hero.skn", SampleContent("extra", 1, "skn", 4000), Storage::Archived, Compression::Lzma)
            .Add("DATA/extra/notes.txt", SampleContent("extra", 1, "notes.txt", 333), Storage::Naked)
            .Add("DATA/Zeta.bin", SampleContent("extra", 1, "zeta", 90000), Storage::Archived, Compression::Stored)
            .Write(root);
        SolutionRelease("trio", 3)
            .AddProject("client", kSampleClientVersion, 10)
            .AddProject("extra", 1, 20)
            .AddProject("patch", kSamplePatchVersion, 30)
            .SetConfigurationManifest("default", {"extra", "client", "patch"})
            .Write(root);
        SolutionRelease("broken", 1).AddProject("client", kSampleClientVersion, 10).AddProject("ghost", 1, 20).Write(root);
        trio = {SamplePatchRelease(), extra, SampleClientRelease()};
    }
};

const Content& Layout()
{
    static const Content content;
    return content;
}

struct Found {
    std::string name;
    std::uint32_t isDirectory;
    std::uint64_t size;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Found& f) { return out << f.name << "/" << f.isDirectory << "/" << f.size; }
Found Dir(const std::string& name) { return {name, 1, 0}; }
Found File(const std::string& name, std::uint64_t size) { return {name, 0, size}; }

std::optional<std::vector<Found>> List(const std::string& pattern)
{
    Library& vell = Vell();
    VellFindHandle search = vell.VellFindFirstFile(pattern.c_str());
    if (search == nullptr) return std::nullopt;
    std::vector<Found> found;
    Found f{"", 7, 7};
    char name[260];
    while (vell.VellFindNextFile(search, &f.isDirectory, &f.size, sizeof(name), name) == VELL_OK) {
        f.name = name;
        found.push_back(f);
    }
    EXPECT_EQ(vell.VellFindNextFile(search, nullptr, nullptr, 0, nullptr), VELL_E_FAIL);
    vell.VellFindClose(search);
    return found;
}

// Reads the file whole and in pieces that cross the decompressed blocks' boundaries.
void ExpectContent(const std::string& path, const std::string& expected)
{
    SCOPED_TRACE(path);
    Library& vell = Vell();
    VellFileHandle file = vell.VellOpenFile(path.c_str());
    ASSERT_NE(file, nullptr) << Dump();
    EXPECT_EQ(vell.VellGetFileSize(file), static_cast<std::int64_t>(expected.size()));
    for (std::size_t piece : {expected.size(), std::size_t{65536 + 13}}) {
        for (std::size_t offset = 0; offset < expected.size(); offset += piece) {
            std::string bytes(std::min(piece, expected.size() - offset), '\0');
            std::uint32_t got = 0;
            ASSERT_EQ(vell.VellRead(file, offset, static_cast<std::uint32_t>(bytes.size()), &got, bytes.data()), VELL_OK);
            EXPECT_EQ(got, bytes.size());
            EXPECT_TRUE(bytes == expected.substr(offset, bytes.size())) << "bytes differ at " << offset;
        }
    }
    vell.VellCloseFile(file);
}

class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        Layout();
        ASSERT_TRUE(Vell().complete);
        Vell().VellShutdown();
        std::lock_guard<std::mutex> guard(gLogMutex);
        gMessages.clear();
    }
    void TearDown() override { Vell().VellShutdown(); }
};

std::vector<std::string> gDocuments;

std::string Document(const std::string& type, const std::string& message)
{
    return "<?xml version=\"1.0\"?>\n<Event>\n   <Name>Log</Name>\n   <Params>\n      <Type>" + type +
           "</Type>\n      <Tags>DBG</Tags>\n      <Message>" + message + "\n</Message>\n   </Params>\n</Event>\n";
}

}  // namespace

TEST_F(SharedLibrary, ReadsEveryStorageKindAndCodecOfAProject)
{
    ASSERT_EQ(Vell().VellInitialize(0, 0, 0, Layout().client.c_str()), VELL_OK) << Dump();
    const ProjectRelease client = SampleClientRelease();
    for (const FileSpec& file : client.Files()) ExpectContent(file.path, file.content);
    ExpectContent("data\\sounds\\\\EXACT.BIN/", SampleContent("client", kSampleClientVersion, "DATA/Sounds/exact.bin", 262144));
    EXPECT_EQ(List("DATA/Sounds/*"),
              (std::vector<Found>{File("ambient.wav", 300000), File("exact.bin", 262144), File("music.ogg", 400000)}));
    EXPECT_EQ(List("*"), (std::vector<Found>{Dir("Config"), Dir("DATA"), Dir("Tools"), File("launcher.cfg", 120)}));
    EXPECT_TRUE(Logged(VELL_LOG_WARN).empty()) << Dump();
}

TEST_F(SharedLibrary, SolutionServesEachPathFromItsHighestPriorityProject)
{
    ASSERT_EQ(Vell().VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_OK) << Dump();
    std::vector<std::string> served;
    for (const ProjectRelease& release : Layout().trio)
        for (const FileSpec& file : release.Files())
            if (std::find(served.begin(), served.end(), file.path) == served.end()) {
                ExpectContent(file.path, file.content);
                served.push_back(file.path);
            }
    EXPECT_EQ(served.size(), 17u);  // 3 + 4 + 14 files less four repetitions
    EXPECT_EQ(List("DATA/*"), (std::vector<Found>{Dir("Characters"), Dir("Empty"), Dir("extra"), Dir("legacy"), Dir("Levels"),
                                                  Dir("Sounds"), File("patch_notes.txt", 600), File("readme.txt", 1800),
                                                  File("shared.txt", 1500), File("Zeta.bin", 90000)}));
    EXPECT_EQ(List("DATA/Characters/Hero/*"), (std::vector<Found>{File("hero.dds", 15000), File("hero.skn", 4000)}));
    EXPECT_EQ(List("DATA/Characters/*"), (std::vector<Found>{Dir("Hero"), Dir("Villain")}));
    EXPECT_EQ(List("DATA/Empty/*"), std::vector<Found>{});
    EXPECT_TRUE(Logged(VELL_LOG_WARN).empty()) << Dump();
}

TEST_F(SharedLibrary, CreatesLazilyFromTheCurrentDirectoryAndAgainAfterShutdown)
{
    Library& vell = Vell();
    struct Restore {
        fs::path saved = fs::current_path();
        ~Restore() { fs::current_path(saved); }
    } restore;
    fs::create_directories(Layout().dir.Path() / "elsewhere");
    fs::current_path(Layout().dir.Path() / "elsewhere");
    const std::string failed =
        "Tarn::VELL::Reader::VellExportsMain::Initialize: VELL library initialization failed to create the runtime environment.";

    EXPECT_FALSE(vell.VellFileExists("DATA/readme.txt"));
    EXPECT_EQ(vell.VellOpenFile("DATA/readme.txt"), nullptr);
    EXPECT_EQ(vell.VellFindFirstFile("DATA/*"), nullptr);
    EXPECT_EQ(Count(failed), 3u) << Dump();
    EXPECT_EQ(Count("VellOpenFile: VELL cannot open file \"DATA/readme.txt\" because VELL has not been successfully "
                    "initialized."),
              1u);

    fs::current_path(Layout().client);
    ExpectContent("DATA/readme.txt", SampleContent("client", kSampleClientVersion, "DATA/readme.txt", 2000));
    EXPECT_EQ(vell.VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_E_FAIL);
    EXPECT_TRUE(vell.VellFileExists("Tools/notes.txt"));

    vell.VellShutdown();
    ASSERT_EQ(vell.VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_OK) << Dump();
    ExpectContent("DATA/readme.txt", SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 1800));
    vell.VellShutdown();
    EXPECT_EQ(List("DATA/Sounds/exact*"), std::vector<Found>{File("exact.bin", 262144)});
    EXPECT_EQ(Count(failed), 3u);
}

TEST_F(SharedLibrary, SolutionWithAMissingProjectFailsToInitialise)
{
    EXPECT_EQ(Vell().VellInitialize(0, 0, 0, Layout().broken.c_str()), VELL_E_FAIL);
    const std::string ghost = Layout().root.string() + "/projects/ghost/releases/0.0.0.1";
    EXPECT_TRUE(InOrder({
        "Tarn::VELL::Reader::`anonymous-namespace'::CreateListing: Failure to load project manifest \"" + ghost +
            "/releasemanifest\".",
        "Tarn::VELL::Reader::`anonymous-namespace'::LoadSolution: VELL runtime environment load solution failed to create "
        "project listing: projectPath=\"" + ghost + "\".",
        "Tarn::VELL::Reader::VellExportsMain::Initialize: VELL library initialization failed to create the runtime "
        "environment.",
    })) << Dump();
    // The library registered its category with the host's table and tags its errors with it.
    EXPECT_EQ(gCodes, std::vector<std::string>{"VEL"});
    EXPECT_EQ(gLastTags, kHostCategory | 1);
    EXPECT_EQ(Vell().VellInitialize(0, 0, 0, Layout().client.c_str()), VELL_OK) << Dump();
    EXPECT_TRUE(Vell().VellFileExists("launcher.cfg"));
}

TEST_F(SharedLibrary, ManyThreadsOpenReadAndCloseAtOnce)
{
    Library& vell = Vell();
    ASSERT_EQ(vell.VellInitialize(0, 0, 0, Layout().client.c_str()), VELL_OK) << Dump();
    const ProjectRelease client = SampleClientRelease();
    const std::vector<FileSpec>& files = client.Files();
    constexpr int kThreads = 8, kRounds = 300, kReads = 4;
    std::atomic<int> failures{0}, reads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1u);
            std::vector<char> buffer(70000);
            for (int round = 0; round < kRounds; ++round) {
                const FileSpec& file = files[random() % files.size()];
                VellFileHandle handle = vell.VellOpenFile(file.path.c_str());
                if (handle == nullptr || vell.VellGetFileSize(handle) != static_cast<std::int64_t>(file.content.size())) ++failures;
                for (int i = 0; handle != nullptr && i < kReads; ++i, ++reads) {
                    const std::size_t offset = random() % file.content.size();
                    const std::size_t size = 1 + random() % std::min(buffer.size(), file.content.size() - offset);
                    std::uint32_t got = 0;
                    if (vell.VellRead(handle, offset, static_cast<std::uint32_t>(size), &got, buffer.data()) != VELL_OK ||
                        got != size || std::memcmp(buffer.data(), file.content.data() + offset, size) != 0)
                        ++failures;
                }
                vell.VellCloseFile(handle);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0) << Dump();
    EXPECT_EQ(reads.load(), kThreads * kRounds * kReads);
    EXPECT_TRUE(Logged(VELL_LOG_WARN).empty()) << Dump();
}

// A copy of the library loaded under another name has state of its own: its built-in log
// table is still current, so its records reach the XML target.
TEST(SharedLibraryEvents, DeliversRecordsAsXmlDocumentsToTheNativeCallback)
{
    TarnTest::TempDir dir;
    const fs::path copy = dir.Path() / "libtarnvellio-events.so";
    fs::copy_file(TARNVELLIO_LIBRARY, copy);
    Library vell(copy.string());
    ASSERT_TRUE(vell.complete);

    vell.EnableEventXMLLogTarget();
    vell.EnableEventXMLLogTarget();
    vell.RegisterNativeEventCallback([](const char* document) -> int32_t {
        gDocuments.push_back(document);
        return 1;
    });
    EXPECT_EQ(vell.VellGetFileSize(nullptr), -1);
    EXPECT_EQ(vell.VellInitialize(0, 0, 0, "/x/<&>/nowhere"), VELL_E_FAIL);
    vell.RegisterNativeEventCallback(nullptr);
    EXPECT_EQ(vell.VellRead(nullptr, 0, 1, nullptr, nullptr), VELL_E_HANDLE);

    EXPECT_EQ(gDocuments,
              (std::vector<std::string>{
                  Document(" ERROR", "VellGetFileSize: VELL cannot get the file size the handle is null."),
                  Document("  WARN", "Tarn::VELL::Reader::RuntimeEnvironment::GetProjectTypeNameAndVersion: Did not find "
                                     "keywords \"projects\" or \"solutions\" in path /x/<&>/nowhere"),
                  Document(" ERROR", "Tarn::VELL::Reader::RuntimeEnvironment::Create: VELL runtime environment creation failed "
                                     "because it was unable to get the project information."),
                  Document(" ERROR", "Tarn::VELL::Reader::VellExportsMain::Initialize: VELL library initialization failed to "
                                     "create the runtime environment."),
              }));
}
