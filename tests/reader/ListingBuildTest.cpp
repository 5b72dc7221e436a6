// Building a project listing: lookups and buckets, binding each file to its storage (and
// every message about what is missing), unreached entries, both record layouts, relative roots.
#include <sstream>

#include "reader/PathHash.h"
#include "reader/PathProcessors.h"
#include "writer/ReleaseManifest.h"
#include "writer/Sample.h"

#include "ReaderTestSupport.h"

using namespace ReaderTest;
using Tarn::VELL::Reader::GetEntryPathString;
using Entry = ProjectListing::EntryHeader;

namespace {

const std::string kBindName =
    "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::GetFileArchiveMetadata: ";
const std::string kCreateName = "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry";

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
    for (std::uint32_t i = 0; i < listing.DirectoryCount(); ++i) out << "dir " << GetEntryPathString(listing.Directory(i)) << '\n';
    for (std::uint32_t i = 0; i < listing.FileCount(); ++i) {
        const FileRecord* f = listing.File(i);
        const char kind = listing.AsArchiveFile(f->storage)   ? 'A'
                          : listing.AsManagedFile(f->storage) ? 'M'
                          : listing.AsNakedFile(f->storage)   ? 'N'
                                                              : '-';
        out << GetEntryPathString(f) << ' ' << f->size << ' ' << f->version << ' ' << kind << '\n';
    }
    return out.str();
}

}  // namespace

TEST(ListingLookup, IgnoresAsciiCaseButRefusesALeadingSlashOrBackslashesAndHashesAlike)
{
    Content content(ProjectRelease("P", 1)
                        .Add("DATA/Characters/x.dds", "hello", Storage::Naked)
                        .Add("DATA/readme.txt", "read me", Storage::Archived, Compression::Zlib)
                        .Add("launcher.cfg", "cfg", Storage::Managed)
                        .Add("DATA/\xC4pfel.txt", "apple", Storage::Archived)
                        .AddDirectory("DATA/Empty"));
    const ProjectListing& listing = content.Build();

    // Every entry is found by its own path, also in upper case; directories are told from files.
    const std::uint32_t d = listing.DirectoryCount();
    for (std::uint32_t i = 0; i < d + listing.FileCount(); ++i) {
        const Entry* entry = i < d ? static_cast<const Entry*>(listing.Directory(i)) : listing.File(i - d);
        std::string path = GetEntryPathString(entry);
        EXPECT_EQ(listing.Lookup(path.c_str()), entry) << path;
        for (char& c : path) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        EXPECT_EQ(listing.Lookup(path.c_str()), entry) << path;
        EXPECT_EQ(listing.IsDirectory(entry), i < d) << path;
        EXPECT_EQ(listing.IsFile(entry), i >= d) << path;
        EXPECT_EQ(listing.EntrySize(entry), i < d ? 0u : listing.File(i - d)->size) << path;
    }
    EXPECT_EQ(listing.Lookup(""), listing.Root());
    EXPECT_NE(FileAt(listing, "data/characters/X.DDS"), nullptr);
    for (const char* path : {"/DATA/Characters/x.dds", "DATA\\Characters\\x.dds", "Characters/x.dds", "DATA/Characters/x.dd",
                             "/", "data/\xE4pfel.txt"})  // only ASCII letters fold
        EXPECT_EQ(listing.Lookup(path), nullptr) << path;


    // Names up to 19 characters sit in the lookup table, longer ones beside it: both are found,
    // and neither by a path one character short or long.
    const std::string inSlot = "abcdefghijklmnopqr9", besideSlot = "abcdefghijklmnopqr20";
    Content edges(ProjectRelease("P", 1)
                      .Add("DATA/" + inSlot, "a", Storage::Naked)
                      .Add("DATA/" + besideSlot, "b", Storage::Naked));
    const ProjectListing& edgeListing = edges.Build();
    for (const std::string& name : {inSlot, besideSlot}) {
        const Entry* entry = edgeListing.Lookup(("data/" + name).c_str());
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(GetEntryPathString(entry), "DATA/" + name);
        EXPECT_EQ(edgeListing.Lookup(("DATA/" + name + "x").c_str()), nullptr) << name;
        EXPECT_EQ(edgeListing.Lookup(("DATA/" + name.substr(0, name.size() - 1)).c_str()), nullptr) << name;
    }
}

TEST(BucketHash, FoldsEachAsciiLetterInEveryPlaceOfAWordAndNothingElse)
{
    using namespace Tarn::VELL::Reader::PathHash;
    auto foldBytes = [](std::uint64_t word) {
        std::uint64_t folded = 0;
        for (int place = 0; place < 8; ++place) {
            std::uint64_t c = (word >> (8 * place)) & 0xFF;
            if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
            folded |= c << (8 * place);
        }
        return folded;
    };
    // Neighbours at the edges of the letters and above 0x7F, so that a carry or borrow between
    // bytes shows.
    for (const std::uint64_t around : {0x405A5B60617A7BFFull, 0xC1DA80FF41007F5Aull, 0ull})
        for (int place = 0; place < 8; ++place)
            for (std::uint64_t c = 0; c < 256; ++c) {
                const std::uint64_t word = (around & ~(0xFFull << (8 * place))) | (c << (8 * place));
                ASSERT_EQ(FoldWord(word), foldBytes(word)) << std::hex << word;
            }
    EXPECT_EQ(ProjectListing::BucketHash("DATA/Characters/X.DDS", 21), ProjectListing::BucketHash("data/characters/x.dds", 21));
    EXPECT_NE(ProjectListing::BucketHash("data/a", 6), ProjectListing::BucketHash("data/a", 5));
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
        ProjectRelease release("P", 1);
        release.SetRootName(c.rootName);
        for (int i = 0; i < c.files; ++i) release.Add("f" + std::to_string(i), "x", Storage::Naked);
        Content content(release);
        const ProjectListing& listing = content.Build();
        EXPECT_EQ(listing.BucketCount(), c.buckets);
        EXPECT_EQ(listing.Lookup(""), *c.rootName ? nullptr : listing.Root());
        EXPECT_EQ(listing.Lookup("g"), nullptr);
        for (int i = 0; i < c.files; ++i) EXPECT_NE(FileAt(listing, ("F" + std::to_string(i)).c_str()), nullptr) << i;
    }

    // A release without even a root directory has no bucket and finds nothing.
    TempDir dir;
    auto listing = ListingFrom(dir.Write("releasemanifest", W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {}, {}, {"P"})),
                               (dir.Path() / "VELL").generic_string());
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(listing->BucketCount(), 0u);
    EXPECT_EQ(listing->Root(), nullptr);
    EXPECT_EQ(listing->Lookup(""), nullptr);
}

TEST(ListingBinding, ReportsEachMissingPieceOnceInBreadthFirstOrder)
{
    LogCapture log;
    Content content(ProjectRelease("P", 3)
                        .Add("a_naked.txt", "a", Storage::Naked)
                        .Add("b_managed.txt", "b", Storage::Managed)
                        .Add(Item("c_gone.bin", "c", Storage::Naked, Compression::Stored, {}, 0xFFFFFFFFu))  // tested as naked
                        .Add(Item("c_odd.bin", "odd", Storage::Naked, Compression::Stored, {}, 0xFFFFFFFFu))
                        .Add(Item("A/gone.bin", "g", Storage::Archived, Compression::Zlib, 9))
                        .Add(Item("A/noentry.bin", "n", Storage::Naked, Compression::Stored, {}, 0x02))  // listed as archived
                        .Add("A/B/kept.bin", "k", Storage::Archived)
                        .Add(Item("A/B/lost.bin", "l", Storage::Archived, Compression::Stored, 8))
                        .Add("Z/late.txt", "z", Storage::Naked));
    const fs::path deploy = content.written.deployDirectory, project = content.root / "projects" / "P";
    for (const char* path : {"a_naked.txt", "c_gone.bin", "Z/late.txt"}) fs::remove(deploy / path);
    fs::remove(project / "managedfiles/0.0.0.3/b_managed.txt");
    fs::create_directory(project / "managedfiles/0.0.0.3/b_managed.txt");
    fs::remove_all(project / "filearchives/0.0.0.9");
    const std::string lostData = (project / "filearchives/0.0.0.8/data_0.0.0.3_000.olm.dat").generic_string();
    ASSERT_TRUE(fs::remove(lostData));

    ProjectListing& listing = content.Build();
    const std::vector<std::string> expected = {
        kBindName + "Missing naked file: " + (deploy / "a_naked.txt").generic_string(),
        kBindName + "Missing managed file: " + (project / "managedfiles/0.0.0.3/b_managed.txt").generic_string(),
        kBindName + "Missing naked file: " + (deploy / "c_gone.bin").generic_string(),
        kBindName + "Missing archive files for version 0.0.0.9: affects: A/gone.bin",
        kBindName + "Archives for version 0.0.0.3 are missing an entry for: A/noentry.bin",
        kBindName + "Missing naked file: " + (deploy / "Z/late.txt").generic_string(),
        kBindName + "Missing archive file: " + lostData + ": affects: A/B/lost.bin",
    };
    for (const std::string& text : expected) {
        EXPECT_TRUE(LoggedError(log, text));
        EXPECT_EQ(log.Count(text), 1u) << text;
    }
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();

    // Missing content leaves the file listed, without storage; a file flagged all ones gets a
    // spare naked record but no storage either.
    EXPECT_EQ(listing.FileCount(), 9u);
    for (const char* path : {"a_naked.txt", "b_managed.txt", "c_gone.bin", "c_odd.bin", "A/gone.bin", "A/noentry.bin",
                             "A/B/lost.bin", "Z/late.txt"}) {
        ASSERT_NE(FileAt(listing, path), nullptr) << path;
        EXPECT_EQ(FileAt(listing, path)->storage, nullptr) << path;
    }
    EXPECT_EQ(StorageCounts(listing), "1 0 1");
    EXPECT_EQ(ReadWhole(listing, "c_odd.bin"), "<cannot open>");
    EXPECT_EQ(ReadWhole(listing, "A/B/kept.bin"), "k");
}

TEST(ListingBinding, OpensEachDataFileOnceAndSharesItsHandle)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    Content content(ProjectRelease("P", 1)
                        .Add(Item("one.txt", "first", Storage::Archived, Compression::Stored, 1))
                        .Add(Item("two.txt", "second", Storage::Archived, Compression::Zlib, 1))
                        .Add(Item("three.txt", "third", Storage::Archived, Compression::Stored, 2))
                        .Add(Item("four.txt", "fourth", Storage::Archived, Compression::Lzma, 2)));
    ASSERT_EQ(content.written.archives.size(), 2u);
    const std::string kept = content.written.archives[0].dataPath.generic_string(), missing = content.written.archives[1].dataPath.generic_string();
    ASSERT_TRUE(fs::remove(missing));

    CountCalls();
    ProjectListing& listing = content.Build();
    std::sort(gCreated.begin(), gCreated.end());
    EXPECT_EQ(gCreated, (std::vector<std::string>{kept, missing}));
    auto* one = listing.AsArchiveFile(content.File("one.txt")->storage);
    auto* two = listing.AsArchiveFile(content.File("two.txt")->storage);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(listing.DataFileOf(*one).handle, listing.DataFileOf(*two).handle);
    EXPECT_EQ(std::string(listing.DataFileOf(*one).path), kept);
    EXPECT_EQ(listing.ArchivedCount(), 2u);
    for (const char* file : {"three.txt", "four.txt"}) {
        EXPECT_TRUE(LoggedError(log, kBindName + "Missing archive file: " + missing + ": affects: " + file));
        EXPECT_EQ(content.File(file)->storage, nullptr);
    }
    EXPECT_EQ(ReadWhole(listing, "two.txt"), "second");
}

TEST(ListingBuild, KeepsUnreachedEntriesOutOfSightWithoutStorage)
{
    LogCapture log;
    TempDir dir;
    // Directory "orphan" and file "lost.txt" (archived, of a version without archives) lie in
    // no range that the walk from the root reaches; "orphan" claims "lost.txt" for itself.
    const std::string manifest = W::BuildRawManifest(W::kManifestFormatV2, 0, 1, {{1, 1, 0, 0, 1}, {3, 2, 0, 1, 1}},
                                                     {{2, 1, {}, 0, 3}, {4, 1, {}, 0x02, 9}},
                                                     {"P", "", "a.txt", "orphan", "lost.txt"});
    const std::string manifestPath = dir.Write("VELL/projects/P/releases/0.0.0.1/releasemanifest", manifest);
    dir.Write("VELL/projects/P/releases/0.0.0.1/deploy/a.txt", "abc");

    auto listing = ListingFrom(manifestPath, (dir.Path() / "VELL").generic_string());
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    const ProjectListing::DirectoryRecord* orphan = listing->Directory(1);
    const FileRecord* lost = listing->File(1);
    EXPECT_EQ(orphan->parent, listing->Root());
    EXPECT_EQ(lost->parent, listing->Root());
    // No lookup finds them, so nothing can enumerate or open what only they hold.
    for (const char* path : {"orphan", "LOST.TXT", "orphan/lost.txt"}) EXPECT_EQ(listing->Lookup(path), nullptr) << path;
    EXPECT_EQ(lost->storage, nullptr);
    EXPECT_EQ(StorageCounts(*listing), "0 0 1");
    EXPECT_EQ(ReadWhole(*listing, "a.txt"), "abc");
}

TEST(ListingBuild, StaysUsableAfterItsManifestIsGone)
{
    Content content(ProjectRelease("Proj", 0x01020304)
                        .Add("DATA/a.txt", "alpha", Storage::Archived, Compression::Lzma)
                        .Add("b.txt", "beta", Storage::Naked));
    ProjectListing& listing = content.Build();  // the manifest it was built from is gone by now
    fs::remove(content.written.manifestPath);
    const char* begin = reinterpret_cast<const char*>(listing.Root());
    for (const char* name : {listing.ProjectName(), listing.File(0)->name, listing.File(1)->name, listing.Directory(1)->name})
        EXPECT_TRUE(name > begin && name < begin + listing.BlockSize()) << name << " lies outside the listing's block";
    EXPECT_STREQ(listing.ProjectName(), "Proj");
    EXPECT_EQ(listing.ReleaseVersion(), 0x01020304u);
    EXPECT_EQ(ReadWhole(listing, "data/A.TXT"), "alpha");
    EXPECT_EQ(ReadWhole(listing, "b.txt"), "beta");
}

TEST(ListingBuild, GivesTheSameListingForBothRecordLayouts)
{
    ProjectRelease release = W::SampleClientRelease();
    FileSpec summed = Item("DATA/summed.bin", "checksummed", Storage::Archived, Compression::Lzma);
    summed.checksum.emplace();
    for (std::uint8_t i = 0; i < 16; ++i) (*summed.checksum)[i] = static_cast<std::uint8_t>(0xF0 + i);
    release.Add(summed);
    Content current(release.SetFormatVersion(W::kManifestFormatV2)), previous(release.SetFormatVersion(W::kManifestFormatV1));
    ProjectListing &v2 = current.Build(), &v1 = previous.Build();
    EXPECT_EQ(Describe(v1), Describe(v2));
    for (const FileSpec& file : release.Files()) {
        EXPECT_EQ(ReadWhole(v1, file.path.c_str()), file.content) << file.path;
        EXPECT_EQ(ReadWhole(v2, file.path.c_str()), file.content) << file.path;
    }
}

TEST(ListingBuild, FindsArchivesBelowARelativeRoot)
{
    LogCapture log;
    Content content(ProjectRelease("P", 2)
                        .Add(Item("DATA/z.bin", std::string(3000, 'z'), Storage::Archived, Compression::Zlib, 1))
                        .Add("DATA/s.bin", "stored", Storage::Archived, Compression::Stored)
                        .Add("n.txt", "naked", Storage::Naked));
    struct Restore {
        fs::path saved = fs::current_path();
        ~Restore() { fs::current_path(saved); }
    } restore;
    fs::current_path(content.dir.Path());
    auto listing = ListingFrom(content.written.manifestPath, "VELL");
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    EXPECT_EQ(std::string(listing->DataFileOf(*listing->AsArchiveFile(FileAt(*listing, "DATA/z.bin")->storage)).path),
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

    Content content(ProjectRelease("client", 1).Add("a.txt", "a", Storage::Naked));
    const std::string root(250, 'r');
    EXPECT_EQ(ListingFrom(content.written.manifestPath, root), nullptr);
    EXPECT_TRUE(log.InOrder(
        {"Tarn::VELL::Reader::ProjectListing::GetProjectRoot: The project path is too long: " + root + "/projects/client",
         kCreateName + ">::CreateListing: Failed to create project listing because the project root could not be obtained."}))
        << log.Dump();
}
