// The shared library as a host meets it: loaded with dlopen (LoadLibraryA on Windows), reached
// only through its thirteen exports, its messages received by a log table of the host's own.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Enumeration.h"
#include "TarnVellIO.h"
#include "logger/LogTable.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "writer/Sample.h"

namespace fs = std::filesystem;
using namespace Tarn::VELL::Writer;
using TarnTest::LogCapture;

namespace {

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
#if defined(_WIN32)
        HMODULE handle = LoadLibraryA(path.c_str());
        if (handle == nullptr) {
            ADD_FAILURE() << "LoadLibraryA failed with error " << GetLastError();
            complete = false;
            return;
        }
        // Through a plain function type: the exported addresses are of many types.
        auto symbol = [handle](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(handle, name)); };
#else
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << dlerror();
            complete = false;
            return;
        }
        auto symbol = [handle](const char* name) { return dlsym(handle, name); };
#endif
#define VELL_BIND(name)                                                  \
    name = reinterpret_cast<decltype(name)>(symbol(#name));              \
    EXPECT_NE(name, nullptr) << #name " is not exported";                \
    complete = complete && name != nullptr;
        VELL_EXPORTS(VELL_BIND)
    }
};

// The library of this process. The host's table, a capture's, is installed once: every
// LogCapture then records what the library sends.
Library& Vell()
{
    static Library library = [] {
        Library loaded(TARNVELLIO_LIBRARY);
        LogCapture capture;  // its table is the current one while it lives
        if (loaded.complete) loaded.VellSetLogger(Tarn::Logger::CurrentLogTable());
        return loaded;
    }();
    return library;
}

// ---- content: the sample layout and, of our own, a project "extra" and two solutions ------
//   trio 0.0.0.3    patch (priority 30), extra (20), client (10), named in another order
//   broken 0.0.0.1  client and "ghost", a project that was never written
struct Content {
    TarnSupport::TempDir dir;
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

class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        Layout();
        ASSERT_TRUE(Vell().complete);
        Vell().VellShutdown();
    }
    void TearDown() override { Vell().VellShutdown(); }

    static std::optional<std::vector<Found>> List(const std::string& pattern)
    {
        return ListWith(Vell().VellFindFirstFile, Vell().VellFindNextFile, Vell().VellFindClose, pattern);
    }

    // Reads the file whole and in pieces that cross the decompressed blocks' boundaries.
    void ExpectContent(const std::string& path, const std::string& expected)
    {
        SCOPED_TRACE(path);
        Library& vell = Vell();
        VellFileHandle file = vell.VellOpenFile(path.c_str());
        ASSERT_NE(file, nullptr) << log.Dump();
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

    LogCapture log;
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
    ASSERT_EQ(Vell().VellInitialize(0, 0, 0, Layout().client.c_str()), VELL_OK) << log.Dump();
    const ProjectRelease client = SampleClientRelease();
    for (const FileSpec& file : client.Files()) ExpectContent(file.path, file.content);
    ExpectContent("data\\sounds\\\\EXACT.BIN/", SampleContent("client", kSampleClientVersion, "DATA/Sounds/exact.bin", 262144));
    EXPECT_EQ(List("*"), (std::vector<Found>{Dir("Config"), Dir("DATA"), Dir("Tools"), File("launcher.cfg", 120)}));
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
}

TEST_F(SharedLibrary, SolutionServesEachPathFromItsHighestPriorityProject)
{
    ASSERT_EQ(Vell().VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_OK) << log.Dump();
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
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
}

TEST_F(SharedLibrary, FailsOnASolutionWithAMissingProjectThenCreatesLazilyFromTheCurrentDirectory)
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

    EXPECT_EQ(vell.VellInitialize(0, 0, 0, Layout().broken.c_str()), VELL_E_FAIL);
    // The error comes tagged with the category that the host's table gave the library.
    const std::string ghost = Layout().root.generic_string() + "/projects/ghost/releases/0.0.0.1";
    EXPECT_TRUE(TarnTest::LoggedError(log, "Tarn::VELL::Reader::`anonymous-namespace'::CreateListing: Failure to load project "
                                           "manifest \"" + ghost + "/releasemanifest\"."));
    EXPECT_FALSE(vell.VellFileExists("DATA/readme.txt"));
    EXPECT_EQ(vell.VellOpenFile("DATA/readme.txt"), nullptr);
    EXPECT_EQ(vell.VellFindFirstFile("DATA/*"), nullptr);
    EXPECT_EQ(log.Count(failed), 4u) << log.Dump();

    fs::current_path(Layout().client);
    ExpectContent("DATA/readme.txt", SampleContent("client", kSampleClientVersion, "DATA/readme.txt", 2000));
    EXPECT_EQ(vell.VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_E_FAIL);
    EXPECT_TRUE(vell.VellFileExists("Tools/notes.txt"));

    vell.VellShutdown();
    ASSERT_EQ(vell.VellInitialize(0, 0, 0, Layout().trioDeploy.c_str()), VELL_OK) << log.Dump();
    ExpectContent("DATA/readme.txt", SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 1800));
    vell.VellShutdown();
    EXPECT_EQ(List("DATA/Sounds/exact*"), std::vector<Found>{File("exact.bin", 262144)});
    EXPECT_EQ(log.Count(failed), 4u);
}

TEST_F(SharedLibrary, ManyThreadsOpenReadAndCloseAtOnce)
{
    Library& vell = Vell();
    ASSERT_EQ(vell.VellInitialize(0, 0, 0, Layout().client.c_str()), VELL_OK) << log.Dump();
    const std::vector<FileSpec> files = SampleClientRelease().Files();
    constexpr int kThreads = 8, kRounds = 300, kReads = 4;
    std::atomic<int> failures{0}, reads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
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
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0) << log.Dump();
    EXPECT_EQ(reads.load(), kThreads * kRounds * kReads);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
}

// A copy of the library loaded under another name has state of its own: its built-in log
// table is still current, so its records reach the XML target.
TEST(SharedLibraryEvents, DeliversRecordsAsXmlDocumentsToTheNativeCallback)
{
    TarnSupport::TempDir dir;
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
