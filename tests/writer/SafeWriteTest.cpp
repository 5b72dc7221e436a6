// Writes that fail, stop or die at every point leave the layout as it was, and what the
// library reads stays the previous release; a commit cut short is finished by the next write.
// Faults come through the writer's file layer (SetFileFault): an unreadable source, a full
// disk, a process killed before one move of the commit.
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "ReadBack.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/ReleaseCommit.h"
#include "writer/Sample.h"
#include "writer/Version.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;
// Designated initialisers below leave the members they do not name at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// Release `version` of project "game" with every storage kind and codec; generation makes
// the content of one write differ from another's.
// Two of the files are read from source files at write time.
ProjectRelease Game(uint32_t version, const std::string& generation)
{
    ProjectRelease release("game", version);
    auto add = [&](const std::string& path, size_t size, Storage storage, Compression compression, bool fromDisk) {
        FileSpec file{.path = path, .content = SampleContent(generation, version, path, size), .storage = storage,
                      .compression = compression};
        if (fromDisk) {
            const std::string name = generation + "-" + std::to_string(version) + "-" + std::to_string(size);
            file.sourceFile = TarnSupport::ProcessTempDir().Write("sources/" + name, file.content);
        }
        release.Add(file);
    };
    add("DATA/a.txt", 30000, Storage::Archived, Compression::Zlib, false);
    add("DATA/Big/b.bin", 70000, Storage::Archived, Compression::Lzma, true);
    add("DATA/c.raw", 5000, Storage::Archived, Compression::Stored, false);
    add("Config/game.ini", 400, Storage::Managed, Compression::Stored, true);
    add("launcher.cfg", 100, Storage::Naked, Compression::Stored, false);
    release.SetMaxArchiveDataSize(40000);  // two archives
    return release;
}

ReadBack::Files Expected(const ProjectRelease& release)
{
    ReadBack::Files files;
    for (const FileSpec& file : release.Files()) files[file.path] = file.content;
    return files;
}

fs::path Deploy(const fs::path& root, uint32_t version)
{
    return root / "projects/game/releases" / FormatVersion(version) / "deploy";
}

bool HoldsLeftovers(const ReadBack::Files& disk)
{
    for (const auto& [path, bytes] : disk)
        if (path.find(".vellpack-") != std::string::npos) return true;
    return false;
}

// Counts the operations of one kind that a replacement of release 1 makes.
size_t CountOperations(FileOperation kind)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    Game(1, "old").Write(root);
    size_t count = 0;
    SetFileFault([&](FileOperation operation, const fs::path&, size_t) {
        count += operation == kind;
        return 0;
    });
    Game(1, "new").Write(root);
    SetFileFault({});
    return count;
}

// Fails the n-th operation of one kind with error.
void FailOperation(FileOperation kind, size_t n, int error)
{
    auto seen = std::make_shared<size_t>(0);
    SetFileFault([=](FileOperation operation, const fs::path&, size_t) { return operation == kind && ++*seen == n ? error : 0; });
}

struct ClearFault {
    ~ClearFault() { SetFileFault({}); }
};

}  // namespace

// A source that cannot be read and a disk that fills up, at each read and each write of a
// replacement in turn: the failed write throws, and the disk and the library's answers are
// those of the previous release, with nothing left beside it.
TEST(SafeWrite, EveryFailedReadOrWriteLeavesThePreviousReleaseAsItWas)
{
    ClearFault clear;
    const size_t reads = CountOperations(FileOperation::OpenForReading);
    const size_t writes = CountOperations(FileOperation::Write);
    ASSERT_GE(reads, 2u);   // the two source files
    ASSERT_GE(writes, 8u);  // data files, indexes, the managed file, the naked file, the manifest...

    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    const ProjectRelease old = Game(1, "old");
    old.Write(root);
    const ReadBack::Files before = ReadBack::OnDisk(root);
    ASSERT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(old)), "");

    for (const auto& [kind, count, error] : {std::tuple{FileOperation::OpenForReading, reads, EACCES},
                                             std::tuple{FileOperation::Write, writes, ENOSPC}}) {
        for (size_t n = 1; n <= count; ++n) {
            FailOperation(kind, n, error);
            EXPECT_THROW(Game(1, "new").Write(root), IoError) << "operation " << n;
            SetFileFault({});
            EXPECT_EQ(ReadBack::Differences(ReadBack::OnDisk(root), before), "") << "operation " << n;
        }
    }
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(old)), "");
}

// A process killed before any one move of the commit: the journal it leaves lets the next
// write finish the commit, so the new release is complete and the old one entirely gone.
TEST(SafeWrite, ACommitCutShortAtAnyMoveIsFinishedByTheNextWrite)
{
    ClearFault clear;
    const size_t moves = CountOperations(FileOperation::Move);
    ASSERT_GE(moves, 7u);  // release, 2 archives and the managed directory retire; 2 archives, managed, release arrive
    for (size_t n = 1; n <= moves; ++n) {
        TarnSupport::TempDir temp;
        const fs::path root = temp.Path() / "VELL";
        Game(1, "old").Write(root);
        FailOperation(FileOperation::Move, n, EIO);
        EXPECT_THROW(Game(1, "new").Write(root), IoError) << "move " << n;
        SetFileFault({});
        RecoverInterruptedWrites(root / "projects/game");
        EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(Game(1, "new"))), "") << "move " << n;
        EXPECT_FALSE(HoldsLeftovers(ReadBack::OnDisk(root))) << "move " << n;
        // The next write runs the same recovery first and then writes normally.
        Game(1, "newer").Write(root);
        EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(Game(1, "newer"))), "") << "move " << n;
    }
}

// What a killed write leaves (staged archives, a staged release, a staged managed directory,
// a journal being written) is never taken for content: the library reads the previous
// release without a warning and deletes none of it. The next write sweeps it away.
TEST(SafeWrite, LeftoversOfAKilledWriteAreInvisibleAndSweptByTheNextWrite)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL", project = root / "projects/game";
    const ProjectRelease old = Game(1, "old");
    old.Write(root);
    const std::string leftovers[] = {"filearchives/0.0.0.1/data_0.0.0.1_002.olm.vellpack-new",
                                     "filearchives/0.0.0.1/data_0.0.0.1_002.olm.dat.vellpack-new",
                                     "filearchives/0.0.0.1/data_0.0.0.1_000.olm.vellpack-old",
                                     "releases/0.0.0.1.vellpack-new/releasemanifest",
                                     "managedfiles/0.0.0.1.vellpack-new/Config/game.ini",
                                     "0.0.0.1.vellpack-journal"};
    for (const std::string& leftover : leftovers) temp.Write("VELL/projects/game/" + leftover, "half written");
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(old)), "");
    for (const std::string& leftover : leftovers) EXPECT_TRUE(fs::exists(project / leftover)) << leftover;

    Game(2, "next").Write(root);
    for (const std::string& leftover : leftovers) EXPECT_FALSE(fs::exists(project / leftover)) << leftover;
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 1)), Expected(old)), "");
}

// Stopped between files (vellpack on SIGINT or SIGTERM), or refused because the release
// exists: nothing changes.
TEST(SafeWrite, AStoppedOrRefusedWriteChangesNothing)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    Game(1, "old").Write(root);
    const ReadBack::Files before = ReadBack::OnDisk(root);
    for (int allowed : {0, 1, 3, 4}) {
        ProjectRelease stopping = Game(1, "new");
        int asked = 0;
        stopping.SetStopCheck([&] { return asked++ >= allowed; });
        EXPECT_THROW(stopping.Write(root), WriteStopped) << allowed;
        EXPECT_EQ(ReadBack::Differences(ReadBack::OnDisk(root), before), "") << allowed;
    }
    ProjectRelease refusing = Game(1, "new");
    refusing.SetReplaceExisting(false);
    EXPECT_THROW(refusing.Write(root), ReleaseExists);
    EXPECT_EQ(ReadBack::Differences(ReadBack::OnDisk(root), before), "");

    // The first release of a content root, stopped: not even the directories stay.
    ProjectRelease first = Game(1, "new");
    first.SetStopCheck([] { return true; });
    EXPECT_THROW(first.Write(temp.Path() / "fresh" / "VELL"), WriteStopped);
    EXPECT_FALSE(fs::exists(temp.Path() / "fresh"));
}

// Release 2 keeps files that release 1 stores. Release 1 may be written again with the same
// content stored the same way (here split into other archives), not with other content, nor
// with another codec (release 2's records say how the bytes under 0.0.0.1 are encoded).
TEST(SafeWrite, ReplacingAReleaseNeverChangesWhatAnotherReleaseReads)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    const ProjectRelease original = Game(1, "old");
    original.Write(root);
    ProjectRelease second("game", 2);  // the same content as release 1: everything kept
    for (const FileSpec& file : original.Files()) second.Add(file);
    second.SetBaseRelease(1);
    ASSERT_EQ(second.Write(root).patch.kept.files, 4u);

    ProjectRelease resplit = Game(1, "old");
    resplit.SetMaxArchiveDataSize(1);  // an archive per file
    EXPECT_EQ(resplit.Write(root).archives.size(), 3u);
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 2)), Expected(second)), "");

    ProjectRelease recoded("game", 1);
    for (FileSpec file : original.Files()) {
        if (file.storage == Storage::Archived) file.compression = Compression::Stored;
        recoded.Add(file);
    }
    const ReadBack::Files before = ReadBack::OnDisk(root);
    for (const ProjectRelease& replacement : {Game(1, "changed"), recoded}) {
        try {
            replacement.Write(root);
            ADD_FAILURE() << "release 1 was replaced under release 2";
        } catch (const IoError& error) {
            EXPECT_NE(std::string(error.what()).find("release 0.0.0.2 of project \"game\" reads"), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(ReadBack::Differences(ReadBack::OnDisk(root), before), "");
    }
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 2)), Expected(second)), "");
}
