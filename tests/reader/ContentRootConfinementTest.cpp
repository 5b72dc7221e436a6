// Stored data never reaches outside the content root, and no special file stalls the library.
// For each way a hostile layout tried it (names in the release manifest, the manifest's project
// name, project names in solution and configuration manifests, FIFOs in place of content files,
// a configuration naming one project over and over, symbolic links leading out of the root),
// the library reads, opens, deletes and waits on nothing outside a temporary content root; it
// says in the log what it refused. Ordinary layouts, links inside the root included, load as
// before.
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "TarnVellIO.h"
#include "reader/RuntimeEnvironment.h"
#include "support/PathWitness.h"
#include "writer/ArchiveIndex.h"
#include "writer/Sample.h"
#include "writer/SolutionWriter.h"

#include "ReaderTestSupport.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace ReaderTest;
using TarnTest::PathWitness;
using Texts = std::vector<std::string>;

namespace {

const std::string kLoad = "Tarn::VELL::Reader::ReleaseManifest::Load: ";
const std::string kTruncated = kLoad + "The release manifest is invalid.  The file may be truncated.";
const std::string kLoadSolution = "Tarn::VELL::Reader::`anonymous-namespace'::LoadSolution: ";
const std::string kLoadArchive = "Tarn::VELL::Reader::ArchiveVersionManager::LoadArchiveFile: ";
const std::string kSecret = "secret: outside the content root\n";

// A content root VELL inside a temporary directory; what lies beside VELL is outside.
struct Hostile {
    TempDir dir;
    fs::path outside = dir.Path();
    fs::path root = dir.Path() / "VELL";
    std::string project = (root / "projects/p/releases/0.0.0.1").string();
    std::string solution = (root / "solutions/s/releases/1.0.0.0").string();

    Hostile()
    {
        fs::create_directories(root);
        dir.Write("secret.txt", kSecret);
        // A release that a name climbing out of the root would find.
        ProjectRelease("p", 1).Add("secret.txt", kSecret, Storage::Naked).Write(outside / "elsewhere");
    }
    // The root as the library spells it and as the system resolves it.
    std::vector<std::string> Roots() const { return {root.string(), fs::canonical(root).string()}; }
};

// Every virtual path a hostile name might have made reachable: read in full when it opens.
std::string ReadVirtual(const std::string& path)
{
    VellFileHandle file = VellOpenFile(path.c_str());
    if (file == nullptr) return "<cannot open>";
    std::string bytes(static_cast<std::size_t>(VellGetFileSize(file)), '\0');
    std::uint32_t read = 0;
    VellRead(file, 0, static_cast<std::uint32_t>(bytes.size()), &read, bytes.data());
    VellCloseFile(file);
    bytes.resize(read);
    return bytes;
}

std::vector<W::ManifestFile> OneFile(std::uint32_t name, std::uint32_t flags)
{
    return {{name, 1, {}, flags, static_cast<std::uint32_t>(kSecret.size())}};
}

// Runs work on another thread and waits for it a while. Should it still be running (waiting on
// a FIFO), the FIFO is opened for writing and closed again, which lets the waiting open go on
// and the test end; the test then fails. In the good case nothing waits. (No device a Windows
// test uses holds a reader back for ever, so there the work is only waited for.)
bool FinishesWithoutWaiting(const std::string& fifo, const std::function<void()>& work)
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
#if !defined(_WIN32)
    for (int i = 0; i < 100 && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready; ++i) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
#else
    (void)fifo;
#endif
    done.wait();
    return false;
}

}  // namespace

// Directory and file names of the release manifest and its project name.
TEST(ContentRootConfinement, ReleaseManifestNamesThatAreNoPlainComponentRefuseTheManifest)
{
    Hostile layout;
    const std::string absolute = (layout.outside / "secret.txt").string();
    const std::string up = "../../../../../../secret.txt";  // from the deploy directory to beside VELL
    for (const std::string& name :
         Texts{"..", ".", up, absolute, "C:secret.txt", "..\\..\\..\\..\\..\\..\\secret.txt", "CON", "nul.txt", ".. ", ""}) {
        const struct {
            const char* kind;
            std::uint32_t flags;  // of the file, for the kind "file"
        } kinds[] = {{"file", 0}, {"file", W::ManifestFlag::Managed}, {"file", W::ManifestFlag::Archived},
                     {"directory", 0}, {"project", 0}};
        for (const auto& kind : kinds) {
            SCOPED_TRACE(std::string(kind.kind) + " \"" + name + "\" flags " + std::to_string(kind.flags));
            std::string manifest;
            const std::string kindName = kind.kind;
            if (kindName == "file")
                manifest = W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {{1, 0, 0, 0, 1}}, OneFile(2, kind.flags),
                                               {"p", "", name});
            else if (kindName == "directory")
                manifest = W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {{1, 1, 1, 0, 0}, {2, 0, 0, 0, 1}}, OneFile(3, 0),
                                               {"p", "", name, "secret.txt"});
            else
                manifest = W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {{1, 0, 0, 0, 1}}, OneFile(2, 0),
                                               {name, "", "secret.txt"});
            layout.dir.Write("VELL/projects/p/releases/0.0.0.1/releasemanifest", manifest);

            LogCapture log;
            PathWitness witness;
            ASSERT_EQ(VellInitialize(0, 0, 0, (layout.project + "/deploy").c_str()), VELL_OK);
            for (const std::string& path : Texts{name, "secret.txt", name + "/secret.txt", up})
                EXPECT_EQ(ReadVirtual(path), "<cannot open>") << path;
            VellShutdown();
            EXPECT_TRUE(log.InOrder({kLoad + "The " + kindName + " name \"" + name + "\" is not a plain path component.",
                                     kTruncated}))
                << log.Dump();
            EXPECT_EQ(witness.Outside(layout.Roots()), Texts{});
        }
    }
    EXPECT_EQ(TempDir::Read((layout.outside / "secret.txt").string()), kSecret);
}

// The root directory's own name is no part of any path: any name there is harmless and kept.
TEST(ContentRootConfinement, TheRootsOwnNameMayBeAnything)
{
    Hostile layout;
    layout.dir.Write("VELL/projects/p/releases/0.0.0.1/deploy/f.txt", "inside");
    for (const std::string& rootName : Texts{"", "..", "../../x", "C:"}) {
        layout.dir.Write("VELL/projects/p/releases/0.0.0.1/releasemanifest",
                         W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {{1, 0, 0, 0, 1}}, {{2, 1, {}, 0, 6}},
                                             {"p", rootName, "f.txt"}));
        LogCapture log;
        PathWitness witness;
        ASSERT_EQ(VellInitialize(0, 0, 0, (layout.project + "/deploy").c_str()), VELL_OK);
        EXPECT_EQ(ReadVirtual("f.txt"), "inside") << rootName;
        VellShutdown();
        EXPECT_EQ(log.Texts(VELL_LOG_WARN), Texts{}) << rootName;
        EXPECT_EQ(witness.Outside(layout.Roots()), Texts{}) << rootName;
    }
}

// Project names of the solution manifest, and of the configuration manifest.
TEST(ContentRootConfinement, SolutionAndConfigurationProjectNamesThatAreNoPlainComponentFailTheSolution)
{
    Hostile layout;
    ProjectRelease("p", 1).Add("inside.txt", "inside", Storage::Naked).Write(layout.root);
    const std::string elsewhere = (layout.outside / "elsewhere/projects/p").string();
    auto write = [&](const std::string& solutionProject, const std::string& configurationProject) {
        layout.dir.Write("VELL/solutions/s/releases/1.0.0.0/solutionmanifest",
                         "VELL Solution Manifest\n1.0.0.0\ns\n1.0.0.0\n1\n" + solutionProject + "\n0.0.0.1\n10\n0\n0\n");
        layout.dir.Write("VELL/solutions/s/releases/1.0.0.0/configurationmanifest",
                         "VELL Configuration Manifest\n1.0.0.0\nc\n1\n" + configurationProject + "\n");
    };
    // As the library spells them: forward slashes on Windows too.
    const std::string solutionManifest = fs::path(layout.solution + "/solutionmanifest").generic_string();
    const std::string configurationManifest = fs::path(layout.solution + "/configurationmanifest").generic_string();
    for (const std::string& name : Texts{"../../elsewhere/projects/p", elsewhere, "..\\..\\elsewhere\\projects\\p", "C:p", "..", "AUX"}) {
        SCOPED_TRACE(name);
        for (bool inSolution : {true, false}) {
            // A bad name in the solution manifest; or a good solution whose configuration names
            // the project by a bad name.
            write(inSolution ? name : "p", name);
            LogCapture log;
            PathWitness witness;
            EXPECT_NE(VellInitialize(0, 0, 0, (layout.solution + "/deploy").c_str()), VELL_OK);
            const Texts expected =
                inSolution ? Texts{"Tarn::VELL::Reader::SolutionManifest::AddProject: The project name \"" + name +
                                       "\" is not a plain path component.",
                                   "Tarn::VELL::Reader::SolutionManifest::LoadProjects: Failed to add project",
                                   "Tarn::VELL::Reader::SolutionManifest::Load: Failed to load projects",
                                   kLoadSolution + "Failure to load solution manifest \"" + solutionManifest + "\"."}
                           : Texts{"Tarn::VELL::Reader::ConfigurationManifest::Load: The project name \"" + name +
                                       "\" is not a plain path component.",
                                   kLoadSolution + "Failure to load configuration manifest \"" + configurationManifest +
                                       "\"."};
            EXPECT_TRUE(log.InOrder(expected)) << log.Dump();
            EXPECT_EQ(witness.Outside(layout.Roots()), Texts{});
        }
    }
    // The same files with the plain name load.
    write("p", "p");
    LogCapture log;
    ASSERT_EQ(VellInitialize(0, 0, 0, (layout.solution + "/deploy").c_str()), VELL_OK) << log.Dump();
    EXPECT_EQ(ReadVirtual("inside.txt"), "inside");
    VellShutdown();
}

// A FIFO in place of any file the library opens fails at once; nothing waits on it.
TEST(ContentRootConfinement, AFifoInPlaceOfAnyContentFileIsRefusedWithoutWaiting)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs; its counterpart is AnIndexNamedLikeADeviceIsRefusedWithoutWaiting";
#else
    const struct {
        const char* replaced;  // below the content root
        bool solution;         // initialise the solution, else the project
        bool initializes;
        std::string message;   // logged, at least
    } cases[] = {
        {"projects/p/releases/0.0.0.1/deploy/n.txt", false, true, "Tarn::VELL::Reader::ProjectListing::OpenNakedFile: Failed to open: "},
        {"projects/p/managedfiles/0.0.0.1/m.txt", false, true, "Tarn::VELL::Reader::ProjectListing::OpenNakedFile: Failed to open: "},
        {"projects/p/releases/0.0.0.1/releasemanifest", false, true, kLoad + "Failed to open \""},
        {"projects/p/filearchives/0.0.0.1/data_0.0.0.1_000.olm.dat", false, true,
         "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::GetFileArchiveMetadata: "
         "Missing archive file: "},
        {"projects/p/filearchives/0.0.0.1/data_0.0.0.1_000.olm", false, true,
         "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to get size of \""},
        {"solutions/s/releases/1.0.0.0/solutionmanifest", true, false, "Tarn::VELL::Reader::SolutionManifest::Load: Failed to open \""},
        {"solutions/s/releases/1.0.0.0/configurationmanifest", true, false,
         "Tarn::VELL::Reader::ConfigurationManifest::Load: Failed to open configuration file \""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replaced);
        Hostile layout;
        ProjectRelease("p", 1)
            .Add(Item("n.txt", "naked", Storage::Naked))
            .Add(Item("m.txt", "managed", Storage::Managed))
            .Add(Item("a.txt", "archived", Storage::Archived))
            .Write(layout.root);
        W::SolutionRelease("s", 0x01000000).AddProject("p", 1, 10).Write(layout.root);
        const std::string fifo = (layout.root / c.replaced).string();
        fs::remove(fifo);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

        LogCapture log;
        PathWitness witness;
        const std::string deploy = (c.solution ? layout.solution : layout.project) + "/deploy";
        const bool finished = FinishesWithoutWaiting(fifo, [&] {
            EXPECT_EQ(VellInitialize(0, 0, 0, deploy.c_str()) == VELL_OK, c.initializes);
            for (const char* path : {"n.txt", "m.txt", "a.txt"}) ReadVirtual(path);
            VellShutdown();
        });
        EXPECT_TRUE(finished) << "the library waited on " << fifo;
        EXPECT_TRUE(log.Dump().find(c.message) != std::string::npos) << log.Dump();
        EXPECT_TRUE(fs::is_fifo(fifo));  // an index that cannot be read is kept
        EXPECT_EQ(witness.Outside(layout.Roots()), Texts{});
    }
#endif
}

// The Windows counterpart of a FIFO is a device. No name from stored data can be one (see the
// name tests above), but archive indexes come from a directory search: a file there named like
// a device ("nul.olm", made through a \\?\ path) opens the device when the library opens it by
// its ordinary path, as Windows before 11 and Wine do. It is refused at once and kept, and the
// release's real index still serves its files.
TEST(ContentRootConfinement, AnIndexNamedLikeADeviceIsRefusedWithoutWaiting)
{
#if !defined(_WIN32)
    GTEST_SKIP() << "device names are Windows's; AFifoInPlaceOfAnyContentFileIsRefusedWithoutWaiting covers POSIX";
#else
    Hostile layout;
    ProjectRelease("p", 1).Add(Item("a.txt", "archived", Storage::Archived)).Write(layout.root);
    const fs::path archives = layout.root / "projects/p/filearchives/0.0.0.1";
    std::vector<std::string> raw;
    for (const char* name : {"nul.olm", "Con.olm", "nul.data.olm"}) {
        raw.push_back("\\\\?\\" + fs::absolute(archives / name).make_preferred().string());
        std::ofstream(raw.back(), std::ios::binary) << "not an archive index";
        ASSERT_TRUE(fs::exists(raw.back())) << raw.back();
    }

    LogCapture log;
    PathWitness witness;
    std::string read;
    const bool finished = FinishesWithoutWaiting("", [&] {
        EXPECT_EQ(VellInitialize(0, 0, 0, (layout.project + "/deploy").c_str()), VELL_OK);
        read = ReadVirtual("a.txt");
        VellShutdown();
    });
    EXPECT_TRUE(finished) << "the library waited on a device";
    EXPECT_EQ(read, "archived");
    for (const std::string& path : raw) EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_NE(log.Dump().find("nul.olm will be deleted and ignored"), std::string::npos) << log.Dump();
    for (const PathWitness::Call& call : witness.Calls()) EXPECT_NE(call.call, "DeleteFileA") << call.path;
    EXPECT_EQ(witness.Outside(layout.Roots()), Texts{});
    for (const std::string& path : raw) fs::remove(path);  // only a \\?\ path names them
#endif
}

// One project named over and over is gathered once; the log says so once.
TEST(ContentRootConfinement, AProjectNamedManyTimesByTheConfigurationIsLoadedOnce)
{
    Hostile layout;
    ProjectRelease("Client", 1).Add("inside.txt", "inside", Storage::Naked).Write(layout.root);
    ProjectRelease("extra", 1).Add("extra.txt", "extra", Storage::Naked).Write(layout.root);
    W::SolutionRelease("s", 0x01000000)
        .AddProject("Client", 1, 10)
        .AddProject("extra", 1, 5)
        .SetConfigurationManifest("c", {"Client", "client", "extra", "CLIENT"})
        .Write(layout.root);
    LogCapture log;
    PathWitness witness;
    auto environment = Tarn::VELL::Reader::RuntimeEnvironment::Create((layout.solution + "/deploy").c_str());
    ASSERT_NE(environment, nullptr) << log.Dump();
    EXPECT_EQ(environment->GetListings().size(), 2u);
    EXPECT_EQ(witness.Count("_stat64i32", (layout.root / "projects/Client/releases/0.0.0.1/releasemanifest").generic_string()), 1u);
    EXPECT_EQ(log.Texts(VELL_LOG_WARN),
              Texts{"Tarn::VELL::Reader::GatherProjects: The configuration names project Client 3 times; it is gathered once."});
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_WARN, LogCapture::kErrorTags,
                                 "Tarn::VELL::Reader::GatherProjects: The configuration names project Client 3 times; it is "
                                 "gathered once."));
}

// An unusable index reached through a link that leaves the root is kept; reading
// through such a link stays possible, and links inside the root work as before.
TEST(ContentRootConfinement, OnlyIndexesInsideTheRootAreDeletedWhereverLinksLead)
{
    Hostile layout;
    ProjectRelease("p", 1)
        .Add(Item("a.txt", "archived", Storage::Archived))
        .Add(Item("b.txt", "second", Storage::Archived, Compression::Stored, 2))
        .Write(layout.root);
    const fs::path archives = layout.root / "projects/p/filearchives";
    // Version 0.0.0.1 lives outside and is linked in; version 0.0.0.2 lives inside under
    // another name and is linked in too.
    const fs::path away = layout.outside / "away";
    fs::rename(archives / "0.0.0.1", away);
    fs::rename(archives / "0.0.0.2", archives / "real");
    try {
        fs::create_directory_symlink(away, archives / "0.0.0.1");
        fs::create_directory_symlink("real", archives / "0.0.0.2");
    } catch (const fs::filesystem_error& error) {
        GTEST_SKIP() << "symbolic links cannot be made here: " << error.what();
    }
    const std::string unusable = "not an archive index";
    layout.dir.Write("away/bad.olm", unusable);
    layout.dir.Write("away/bad.olm.dat", "data");
    layout.dir.Write("VELL/projects/p/filearchives/real/bad.olm", unusable);
    // An index that is itself a link to an unusable file outside.
    layout.dir.Write("lonely.olm", unusable);
    fs::create_symlink(layout.outside / "lonely.olm", archives / "real/linked.olm");

    LogCapture log;
    PathWitness witness;
    ASSERT_EQ(VellInitialize(0, 0, 0, (layout.project + "/deploy").c_str()), VELL_OK);
    EXPECT_EQ(ReadVirtual("a.txt"), "archived");  // read through the link that leaves the root
    EXPECT_EQ(ReadVirtual("b.txt"), "second");    // and through the one that stays inside
    VellShutdown();

    EXPECT_EQ(TempDir::Read((away / "bad.olm").string()), unusable);
    EXPECT_EQ(TempDir::Read((layout.outside / "lonely.olm").string()), unusable);
    EXPECT_FALSE(fs::exists(archives / "real/bad.olm"));
    const std::string notDeleted = " is not a regular file inside the content root; it is not deleted";
    EXPECT_TRUE(log.Contains(kLoadArchive + (archives / "0.0.0.1/bad.olm").string() + notDeleted)) << log.Dump();
    EXPECT_TRUE(log.Contains(kLoadArchive + (archives / "0.0.0.2/linked.olm").string() + notDeleted)) << log.Dump();
    // What is deleted is the index's own location inside the root, nothing else.
    Texts deleted;
    for (const PathWitness::Call& call : witness.Calls())
        if (call.call == "DeleteFileA") deleted.push_back(call.path);
    EXPECT_EQ(deleted, Texts{layout.Roots().back() + "/projects/p/filearchives/real/bad.olm"});
}

// The sample layout, every storage kind and both projects of its solution, loads and reads as
// it always did, and every path the library asks for lies inside the root.
TEST(ContentRootConfinement, OrdinaryLayoutsLoadAsBeforeWithEveryPathInsideTheRoot)
{
    TempDir dir;
    W::WriteSampleLayout(dir.Path());
    const fs::path root = dir.Path() / "VELL";
    for (const fs::path& release : {root / "solutions/game/releases/1.0.0.0", root / "projects/client/releases/0.0.0.2"}) {
        LogCapture log;
        PathWitness witness;
        ASSERT_EQ(VellInitialize(0, 0, 0, (release / "deploy").string().c_str()), VELL_OK);
        std::vector<std::string> directories{"DATA", "Config", ""};
        unsigned files = 0;
        while (!directories.empty()) {
            const std::string directory = directories.back();
            directories.pop_back();
            VellFindHandle search = VellFindFirstFile((directory.empty() ? std::string("*") : directory + "/*").c_str());
            char name[260];
            std::uint32_t isDirectory = 0;
            std::uint64_t size = 0;
            while (search && VellFindNextFile(search, &isDirectory, &size, sizeof(name), name) == VELL_OK) {
                const std::string path = directory.empty() ? name : directory + "/" + name;
                if (isDirectory) {
                    if (!directory.empty()) directories.push_back(path);
                } else {
                    EXPECT_EQ(ReadVirtual(path).size(), size) << path;
                    ++files;
                }
            }
            if (search) VellFindClose(search);
        }
        VellShutdown();
        EXPECT_GT(files, 10u);
        EXPECT_EQ(log.Texts(VELL_LOG_WARN), Texts{}) << release;
        EXPECT_EQ(witness.Outside({root.string(), fs::canonical(root).string()}), Texts{});
    }
}
