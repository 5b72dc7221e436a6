#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "reader/PathProcessors.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/ReleaseManifest.h"
#include "writer/Sample.h"

namespace fs = std::filesystem;
namespace Writer = Tarn::VELL::Writer;
using Tarn::VELL::Reader::GetEntryPathString;
using Tarn::VELL::Reader::ProjectListing;
using Tarn::VELL::Reader::ReleaseManifest;
using Writer::Compression;
using Writer::FileSpec;
using Writer::ProjectRelease;
using Writer::Storage;
using TarnTest::LogCapture;
using TarnTest::LoggedError;
using TarnTest::TempDir;
using Entry = ProjectListing::EntryHeader;

namespace {

const std::string kBindName =
    "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::GetFileArchiveMetadata: ";
const std::string kCreateName = "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry";

FileSpec Item(std::string path, std::string content, Storage storage, Compression compression = Compression::Stored,
              std::optional<std::uint32_t> version = {}, std::optional<std::uint32_t> flags = {})
{
    FileSpec item;
    item.path = std::move(path);
    item.content = std::move(content);
    item.storage = storage;
    item.compression = compression;
    item.version = version;
    item.flags = flags;
    return item;
}

std::unique_ptr<ProjectListing> ListingFrom(const fs::path& manifestPath, const std::string& rootDir)
{
    auto manifest = ReleaseManifest::Load(manifestPath.string().c_str());
    EXPECT_NE(manifest, nullptr) << manifestPath;
    return std::unique_ptr<ProjectListing>(manifest ? manifest->CreateListing(rootDir.c_str()) : nullptr);
}

std::unique_ptr<ProjectListing> Build(const TempDir& dir, const ProjectRelease& release)
{
    return ListingFrom(release.Write(dir.Path() / "VELL").manifestPath, (dir.Path() / "VELL").string());
}

const ProjectListing::FileRecord* FileAt(const ProjectListing& listing, const char* path)
{
    const Entry* entry = listing.Lookup(path);
    return entry && listing.IsFile(entry) ? static_cast<const ProjectListing::FileRecord*>(entry) : nullptr;
}

std::string ReadWhole(ProjectListing& listing, const char* path)
{
    const ProjectListing::FileRecord* file = FileAt(listing, path);
    if (file == nullptr || !listing.Open(file)) return "<cannot open>";
    std::string out(file->size, '\0');
    std::uint32_t read = 0;
    const bool ok = file->size == 0 || listing.Read(file, 0, file->size, &read, out.data());
    listing.RemoveReference(file);
    return ok && read == file->size ? out : "<cannot read>";
}

// The number of archived, managed and naked storage records.
std::string StorageCounts(const ProjectListing& listing)
{
    return std::to_string(listing.ArchivedCount()) + " " + std::to_string(listing.ManagedCount()) + " " +
           std::to_string(listing.NakedCount());
}

// Everything a host can learn of a listing's shape, one line per entry.
std::string Describe(const ProjectListing& listing)
{
    std::ostringstream out;
    out << listing.BucketCount() << ' ' << StorageCounts(listing) << '\n';
    for (std::uint32_t i = 0; i < listing.DirectoryCount(); ++i)
        out << "dir " << GetEntryPathString(listing.Directory(i)) << '\n';
    for (std::uint32_t i = 0; i < listing.FileCount(); ++i) {
        const ProjectListing::FileRecord* f = listing.File(i);
        const char kind = listing.AsArchiveFile(f->storage)   ? 'A'
                          : listing.AsManagedFile(f->storage) ? 'M'
                          : listing.AsNakedFile(f->storage)   ? 'N'
                                                              : '-';
        out << GetEntryPathString(f) << ' ' << f->size << ' ' << f->version << ' ' << kind;
        for (std::uint8_t byte : f->checksum) out << ' ' << int(byte);
        out << '\n';
    }
    return out.str();
}

std::map<std::string, int> gCreateFileCalls;

class WorkingDirectory {
public:
    explicit WorkingDirectory(const fs::path& path) : mPrevious(fs::current_path()) { fs::current_path(path); }
    ~WorkingDirectory() { fs::current_path(mPrevious); }

private:
    fs::path mPrevious;
};

}  // namespace

TEST(ListingLookup, IgnoresAsciiCaseButRefusesALeadingSlashOrBackslashes)
{
    TempDir dir;
    ProjectRelease release("P", 1);
    release.Add(Item("DATA/Characters/x.dds", "hello", Storage::Naked))
        .Add(Item("DATA/readme.txt", "read me", Storage::Archived, Compression::Zlib))
        .Add(Item("launcher.cfg", "cfg", Storage::Managed))
        .Add(Item("DATA/\xC4pfel.txt", "apple", Storage::Archived))
        .AddDirectory("DATA/Empty");
    auto listing = Build(dir, release);
    ASSERT_NE(listing, nullptr);

    // Every entry is found by its own path, also in upper case; directories are told from files.
    for (std::uint32_t i = 0; i < listing->DirectoryCount() + listing->FileCount(); ++i) {
        const std::uint32_t d = listing->DirectoryCount();
        const Entry* entry = i < d ? static_cast<const Entry*>(listing->Directory(i)) : listing->File(i - d);
        std::string path = GetEntryPathString(entry);
        EXPECT_EQ(listing->Lookup(path.c_str()), entry) << path;
        for (char& c : path) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        EXPECT_EQ(listing->Lookup(path.c_str()), entry) << path;
        EXPECT_EQ(listing->IsDirectory(entry), i < d) << path;
        EXPECT_EQ(listing->IsFile(entry), i >= d) << path;
        EXPECT_EQ(listing->EntrySize(entry), i < d ? 0u : listing->File(i - d)->size) << path;
    }
    EXPECT_EQ(listing->Lookup(""), listing->Root());
    EXPECT_NE(FileAt(*listing, "data/characters/X.DDS"), nullptr);
    for (const char* path : {"/DATA/Characters/x.dds", "DATA\\Characters\\x.dds", "Characters/x.dds", "DATA/Characters/x.dd",
                             "/", "data/\xE4pfel.txt"})  // only ASCII letters fold
        EXPECT_EQ(listing->Lookup(path), nullptr) << path;
}

TEST(ListingHash, FoldsAsciiLettersOnlyAndSignExtendsHighBytes)
{
    constexpr std::uint32_t kAfterOne = 0x811C9DC5u * 0x01000193u;
    EXPECT_EQ(ProjectListing::HashPath(""), 0x811C9DC5u);
    EXPECT_EQ(ProjectListing::HashPath("a"), kAfterOne ^ 0x61u);
    EXPECT_EQ(ProjectListing::HashPath("A"), kAfterOne ^ 0x61u);
    EXPECT_EQ(ProjectListing::HashPath("ab"), ((kAfterOne ^ 0x61u) * 0x01000193u) ^ 0x62u);
    EXPECT_EQ(ProjectListing::HashPath("\x80"), kAfterOne ^ 0xFFFFFF80u);
    EXPECT_EQ(ProjectListing::HashPath("\xC4"), kAfterOne ^ 0xFFFFFFC4u);
    EXPECT_EQ(ProjectListing::HashPath("\xE4"), kAfterOne ^ 0xFFFFFFE4u);
    EXPECT_EQ(ProjectListing::HashPath("@"), kAfterOne ^ 0x40u);
    EXPECT_EQ(ProjectListing::HashPath("Data/\xC4pfel.TXT"), ProjectListing::HashPath("dATA/\xC4PFEL.txt"));
    EXPECT_NE(ProjectListing::HashPath("data\\a.txt"), ProjectListing::HashPath("data/a.txt"));
    EXPECT_NE(ProjectListing::HashPath("/data/a.txt"), ProjectListing::HashPath("data/a.txt"));
}

TEST(ListingBuckets, KeepSevenOfEveryEightEntriesAndFindTheRootByTheEmptyPath)
{
    const struct {
        int files;
        const char* rootName;
        std::uint32_t buckets;
    } cases[] = {{0, "", 1}, {0, "R", 1}, {6, "", 7}, {7, "", 7}, {15, "R", 14}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, root \"" << c.rootName << "\"");
        TempDir dir;
        ProjectRelease release("P", 1);
        release.SetRootName(c.rootName);
        for (int i = 0; i < c.files; ++i) release.Add(Item("f" + std::to_string(i), "x", Storage::Naked));
        auto listing = Build(dir, release);
        ASSERT_NE(listing, nullptr);
        EXPECT_EQ(listing->BucketCount(), c.buckets);
        EXPECT_EQ(listing->Lookup(""), *c.rootName ? nullptr : listing->Root());
        EXPECT_EQ(listing->Lookup("g"), nullptr);
        for (int i = 0; i < c.files; ++i) EXPECT_NE(FileAt(*listing, ("F" + std::to_string(i)).c_str()), nullptr) << i;
    }

    // A release without even a root directory has no bucket and finds nothing.
    TempDir dir;
    const std::string path =
        dir.Write("releasemanifest", Writer::BuildRawManifest(Writer::kManifestFormatV2, 0, 1, {}, {}, {"P"}));
    auto listing = ListingFrom(path, (dir.Path() / "VELL").string());
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(listing->BucketCount(), 0u);
    EXPECT_EQ(listing->Root(), nullptr);
    EXPECT_EQ(listing->Lookup(""), nullptr);
}

TEST(ListingBinding, ReportsEachMissingPieceOnceInBreadthFirstOrder)
{
    LogCapture log;
    TempDir dir;
    const fs::path root = dir.Path() / "VELL", project = root / "projects" / "P";
    ProjectRelease release("P", 3);
    release.Add(Item("a_naked.txt", "a", Storage::Naked))
        .Add(Item("b_managed.txt", "b", Storage::Managed))
        .Add(Item("A/gone.bin", "g", Storage::Archived, Compression::Zlib, 9))
        .Add(Item("A/noentry.bin", "n", Storage::Naked, Compression::Stored, {}, 0x02))  // listed as archived
        .Add(Item("A/B/kept.bin", "k", Storage::Archived))
        .Add(Item("A/B/lost.bin", "l", Storage::Archived, Compression::Stored, 8))
        .Add(Item("Z/late.txt", "z", Storage::Naked));
    const auto written = release.Write(root);
    fs::remove(written.deployDirectory / "a_naked.txt");
    fs::remove(written.deployDirectory / "Z" / "late.txt");
    fs::remove(project / "managedfiles/0.0.0.3/b_managed.txt");
    fs::create_directory(project / "managedfiles/0.0.0.3/b_managed.txt");
    fs::remove_all(project / "filearchives/0.0.0.9");
    const std::string lostData = (project / "filearchives/0.0.0.8/data_0.0.0.3_000.olm.dat").string();
    ASSERT_TRUE(fs::remove(lostData));

    auto listing = ListingFrom(written.manifestPath, root.string());
    ASSERT_NE(listing, nullptr);
    const std::vector<std::string> expected = {
        kBindName + "Missing naked file: " + (written.deployDirectory / "a_naked.txt").string(),
        kBindName + "Missing managed file: " + (project / "managedfiles/0.0.0.3/b_managed.txt").string(),
        kBindName + "Missing archive files for version 0.0.0.9: affects: A/gone.bin",
        kBindName + "Archives for version 0.0.0.3 are missing an entry for: A/noentry.bin",
        kBindName + "Missing naked file: " + (written.deployDirectory / "Z/late.txt").string(),
        kBindName + "Missing archive file: " + lostData + ": affects: A/B/lost.bin",
    };
    for (const std::string& text : expected) {
        EXPECT_TRUE(LoggedError(log, text));
        EXPECT_EQ(log.Count(text), 1u) << text;
    }
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();

    // Missing content leaves the file listed, without storage.
    EXPECT_EQ(listing->FileCount(), 7u);
    for (const char* path : {"a_naked.txt", "b_managed.txt", "A/gone.bin", "A/noentry.bin", "A/B/lost.bin", "Z/late.txt"}) {
        ASSERT_NE(FileAt(*listing, path), nullptr) << path;
        EXPECT_EQ(FileAt(*listing, path)->storage, nullptr) << path;
    }
    EXPECT_EQ(StorageCounts(*listing), "1 0 0");
    EXPECT_EQ(ReadWhole(*listing, "A/B/kept.bin"), "k");
}

TEST(ListingBinding, OpensEachDataFileOnceAndSharesItsHandle)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    TempDir dir;
    ProjectRelease release("P", 1);
    release.Add(Item("one.txt", "first", Storage::Archived, Compression::Stored, 1))
        .Add(Item("two.txt", "second", Storage::Archived, Compression::Zlib, 1))
        .Add(Item("three.txt", "third", Storage::Archived, Compression::Stored, 2))
        .Add(Item("four.txt", "fourth", Storage::Archived, Compression::Lzma, 2));
    const auto written = release.Write(dir.Path() / "VELL");
    ASSERT_EQ(written.archives.size(), 2u);
    const std::string kept = written.archives[0].dataPath.string(), missing = written.archives[1].dataPath.string();
    ASSERT_TRUE(fs::remove(missing));

    gCreateFileCalls.clear();
    Win32::gCalls.CreateFileA = [](Win32::LPCSTR path, Win32::DWORD access, Win32::DWORD share, void* security,
                                   Win32::DWORD disposition, Win32::DWORD flags, Win32::HANDLE templateFile) {
        ++gCreateFileCalls[path];
        return Win32::DefaultCalls().CreateFileA(path, access, share, security, disposition, flags, templateFile);
    };
    auto listing = ListingFrom(written.manifestPath, (dir.Path() / "VELL").string());
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(gCreateFileCalls, (std::map<std::string, int>{{kept, 1}, {missing, 1}}));

    auto* one = listing->AsArchiveFile(FileAt(*listing, "one.txt")->storage);
    auto* two = listing->AsArchiveFile(FileAt(*listing, "two.txt")->storage);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->handle, two->handle);
    EXPECT_EQ(one->archivePath, two->archivePath);
    EXPECT_EQ(std::string(one->archivePath), kept);
    EXPECT_EQ(listing->ArchivedCount(), 2u);
    for (const char* file : {"three.txt", "four.txt"}) {
        EXPECT_TRUE(LoggedError(log, kBindName + "Missing archive file: " + missing + ": affects: " + file));
        EXPECT_EQ(FileAt(*listing, file)->storage, nullptr);
    }
    EXPECT_EQ(ReadWhole(*listing, "two.txt"), "second");
}

TEST(ListingBinding, TestsAFileFlaggedAllOnesAsNakedButGivesItNoStorage)
{
    LogCapture log;
    TempDir dir;
    ProjectRelease release("P", 1);
    release.Add(Item("odd.bin", "odd", Storage::Naked, Compression::Stored, {}, 0xFFFFFFFFu))
        .Add(Item("gone.bin", "gone", Storage::Naked, Compression::Stored, {}, 0xFFFFFFFFu))
        .Add(Item("plain.bin", "plain", Storage::Naked));
    const auto written = release.Write(dir.Path() / "VELL");
    fs::remove(written.deployDirectory / "gone.bin");

    auto listing = ListingFrom(written.manifestPath, (dir.Path() / "VELL").string());
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(LoggedError(log, kBindName + "Missing naked file: " + (written.deployDirectory / "gone.bin").string()));
    EXPECT_EQ(listing->NakedCount(), 2u) << "one record for plain.bin and a spare one for odd.bin";
    EXPECT_EQ(FileAt(*listing, "odd.bin")->storage, nullptr);
    EXPECT_EQ(FileAt(*listing, "gone.bin")->storage, nullptr);
    EXPECT_EQ(ReadWhole(*listing, "odd.bin"), "<cannot open>");
    EXPECT_TRUE(LoggedError(
        log, "Tarn::VELL::Reader::ProjectListing::Open: VELL cannot open \"odd.bin\" because the file wasn't found."));
    EXPECT_EQ(ReadWhole(*listing, "plain.bin"), "plain");
}

TEST(ListingBuild, KeepsUnreachedEntriesOutOfSightWithoutStorage)
{
    LogCapture log;
    TempDir dir;
    // Directory "orphan" and file "lost.txt" (archived, of a version without archives) lie in
    // no range that the walk from the root reaches; "orphan" claims "lost.txt" for itself.
    const std::string manifest = Writer::BuildRawManifest(Writer::kManifestFormatV2, 0, 1, {{1, 1, 0, 0, 1}, {3, 2, 0, 1, 1}},
                                                          {{2, 1, {}, 0, 3}, {4, 1, {}, 0x02, 9}},
                                                          {"P", "", "a.txt", "orphan", "lost.txt"});
    const std::string manifestPath = dir.Write("VELL/projects/P/releases/0.0.0.1/releasemanifest", manifest);
    dir.Write("VELL/projects/P/releases/0.0.0.1/deploy/a.txt", "abc");

    auto listing = ListingFrom(manifestPath, (dir.Path() / "VELL").string());
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    const ProjectListing::DirectoryRecord* orphan = listing->Directory(1);
    const ProjectListing::FileRecord* lost = listing->File(1);
    EXPECT_EQ(orphan->parent, listing->Root());
    EXPECT_EQ(lost->parent, listing->Root());
    EXPECT_TRUE(listing->IsDirectory(orphan));
    // No lookup finds them, so nothing can enumerate or open what only they hold.
    EXPECT_EQ(listing->Lookup("orphan"), nullptr);
    EXPECT_EQ(listing->Lookup("LOST.TXT"), nullptr);
    EXPECT_EQ(listing->Lookup("orphan/lost.txt"), nullptr);
    EXPECT_EQ(lost->storage, nullptr);
    EXPECT_EQ(StorageCounts(*listing), "0 0 1");
    EXPECT_EQ(ReadWhole(*listing, "a.txt"), "abc");
}

TEST(ListingBuild, StaysUsableAfterItsManifestIsGone)
{
    TempDir dir;
    const fs::path root = dir.Path() / "VELL";
    ProjectRelease release("Proj", 0x01020304);
    release.Add(Item("DATA/a.txt", "alpha", Storage::Archived, Compression::Lzma)).Add(Item("b.txt", "beta", Storage::Naked));
    const auto written = release.Write(root);
    auto manifest = ReleaseManifest::Load(written.manifestPath.string().c_str());
    ASSERT_NE(manifest, nullptr);
    std::unique_ptr<ProjectListing> listing(manifest->CreateListing(root.string().c_str()));
    manifest.reset();
    fs::remove(written.manifestPath);
    ASSERT_NE(listing, nullptr);

    const char* begin = reinterpret_cast<const char*>(listing->Root());
    for (const char* name : {listing->ProjectName(), listing->File(0)->name, listing->File(1)->name, listing->Directory(1)->name})
        EXPECT_TRUE(name > begin && name < begin + listing->BlockSize()) << name << " lies outside the listing's block";
    EXPECT_STREQ(listing->ProjectName(), "Proj");
    EXPECT_EQ(listing->ReleaseVersion(), 0x01020304u);
    EXPECT_EQ(ReadWhole(*listing, "data/A.TXT"), "alpha");
    EXPECT_EQ(ReadWhole(*listing, "b.txt"), "beta");
}

TEST(ListingBuild, GivesTheSameListingForBothRecordLayouts)
{
    TempDir current, previous;
    ProjectRelease release = Writer::SampleClientRelease();
    FileSpec summed = Item("DATA/summed.bin", "checksummed", Storage::Archived, Compression::Lzma);
    for (std::uint8_t i = 0; i < 16; ++i) summed.checksum[i] = static_cast<std::uint8_t>(0xF0 + i);
    release.Add(summed);
    auto v2 = Build(current, release.SetFormatVersion(Writer::kManifestFormatV2));
    auto v1 = Build(previous, release.SetFormatVersion(Writer::kManifestFormatV1));
    ASSERT_TRUE(v1 && v2);
    EXPECT_EQ(Describe(*v1), Describe(*v2));
    for (const FileSpec& file : release.Files()) {
        EXPECT_EQ(ReadWhole(*v1, file.path.c_str()), file.content) << file.path;
        EXPECT_EQ(ReadWhole(*v2, file.path.c_str()), file.content) << file.path;
    }
}

TEST(ListingBuild, FindsArchivesBelowARelativeRoot)
{
    LogCapture log;
    TempDir dir;
    ProjectRelease release("P", 2);
    release.Add(Item("DATA/z.bin", std::string(3000, 'z'), Storage::Archived, Compression::Zlib, 1))
        .Add(Item("DATA/s.bin", "stored", Storage::Archived))
        .Add(Item("n.txt", "naked", Storage::Naked));
    const auto written = release.Write(dir.Path() / "VELL");
    WorkingDirectory cwd(dir.Path());
    auto listing = ListingFrom(written.manifestPath, "VELL");
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    EXPECT_EQ(std::string(listing->AsArchiveFile(FileAt(*listing, "DATA/z.bin")->storage)->archivePath),
              "VELL/projects/P/filearchives/0.0.0.1/data_0.0.0.2_000.olm.dat");
    EXPECT_EQ(ReadWhole(*listing, "DATA/z.bin"), std::string(3000, 'z'));
    EXPECT_EQ(ReadWhole(*listing, "DATA/s.bin"), "stored");
    EXPECT_EQ(ReadWhole(*listing, "n.txt"), "naked");
}

TEST(ListingBuild, RefusesAnInvalidManifestAndAProjectRootTooLong)
{
    LogCapture log;
    Tarn::VELL::Reader::ReleaseManifestTemplate<Tarn::VELL::Reader::FileTableEntryV0> invalid(std::vector<std::uint8_t>(16));
    EXPECT_EQ(invalid.CreateListing("/VELL"), nullptr);
    EXPECT_TRUE(LoggedError(
        log, kCreateName + "V0>::CreateListing: Failed to create project listing because the manifest is invalid."));

    TempDir dir;
    ProjectRelease release("client", 1);
    release.Add(Item("a.txt", "a", Storage::Naked));
    const std::string root(250, 'r');
    EXPECT_EQ(ListingFrom(release.Write(dir.Path() / "VELL").manifestPath, root), nullptr);
    EXPECT_TRUE(log.InOrder(
        {"Tarn::VELL::Reader::ProjectListing::GetProjectRoot: The project path is too long: " + root + "/projects/client",
         kCreateName + ">::CreateListing: Failed to create project listing because the project root could not be obtained."}))
        << log.Dump();
}
