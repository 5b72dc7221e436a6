// The writer's release manifests, projects and solutions, checked byte by byte with the tests'
// own parsers: both record layouts, storage kinds, archive limits, patches and the sample.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "support/TempDir.h"
#include "writer/FileIO.h"
#include "writer/ProjectWriter.h"
#include "writer/ReleaseManifest.h"
#include "writer/Sample.h"
#include "writer/SolutionWriter.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;
// Designated initialisers below leave the members they do not name at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// Every entry below directory by relative path, with the bytes of the regular files.
std::map<std::string, std::string> Snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(directory))
        files[item.path().lexically_relative(directory).generic_string()] = item.is_regular_file() ? WriterTest::ReadBytes(item.path()) : "";
    return files;
}

// Checks that every file of the release reads back, through the layout alone, as given.
void ExpectReadsBack(const fs::path& root, const ProjectRelease& release)
{
    const auto manifest = WriterTest::ReadManifest(root, release.Name(), release.Version());
    const auto listed = manifest.FilesByPath();
    ASSERT_EQ(listed.size(), release.Files().size());
    for (const FileSpec& given : release.Files()) {
        const std::string content = given.sourceFile.empty() ? given.content : WriterTest::ReadBytes(given.sourceFile);
        EXPECT_EQ(listed.at(given.path).size, content.size()) << given.path;
        EXPECT_EQ(WriterTest::ReadListedFile(root, release.Name(), manifest, given.path, listed.at(given.path)), content) << given.path;
    }
}

}  // namespace

TEST(ManifestWriter, ListsDirectoriesBreadthFirstWithSiblingsInStricmpOrder)
{
    for (uint32_t format : {kManifestFormatV1, kManifestFormatV2}) {
        ProjectRelease release("tree", 0x00000305);
        release.SetFormatVersion(format).SetRootName("root");
        for (const char* path : {"b/z.txt", "Zeta.txt", "A/x.txt", "c/deep/er/f.bin", "_u/k", "alpha.txt", "A/B.txt", "a/a.txt"})
            release.Add(path, std::string("content of ") + path);
        release.AddDirectory("A/empty");
        const WriterTest::Manifest m = WriterTest::ParseManifest(release.BuildManifest());
        EXPECT_EQ(std::tuple(m.magic, m.formatVersion, m.releaseVersion, m.strings.at(m.projectName), m.stringCount),
                  std::tuple(0x4D534C52u, format, 0x00000305u, "tree", m.strings.size()));
        ASSERT_EQ(m.files.size(), 8u);
        EXPECT_EQ(m.files[0].trailing, std::string(format == kManifestFormatV1 ? 12 : 4, '\0'));
        // Table order is breadth-first: root, its subdirectories, then theirs, each sorted;
        // "a/a.txt" joined the directory first spelled "A". Files follow directory table order.
        EXPECT_EQ(m.Listing(), "root: _u/ A/ b/ c/ alpha.txt Zeta.txt\n_u: k\nA: empty/ a.txt B.txt x.txt\nb: z.txt\n"
                               "c: deep/\nempty:\ndeep: er/\ner: f.bin\n");
        uint32_t nextFile = 0;
        for (const WriterTest::Directory& d : m.directories) {
            EXPECT_EQ(d.firstFile, nextFile);
            nextFile += d.fileCount;
        }
        EXPECT_EQ(nextFile, m.files.size());
        EXPECT_EQ(m.FilesByPath().at("c/deep/er/f.bin").size, std::string("content of c/deep/er/f.bin").size());
    }
}

TEST(ManifestWriter, WritesFlagsVersionsAndChecksumsOfEveryStorageKind)
{
    ProjectRelease release("kinds", 0x00000002);
    release.Add("stored", "1", Storage::Archived, Compression::Stored).Add("zlib", "22", Storage::Archived, Compression::Zlib);
    release.Add("lzma", "333", Storage::Archived, Compression::Lzma).Add("managed", "4444", Storage::Managed, Compression::Lzma);
    release.Add("naked", "55555", Storage::Naked, Compression::Zlib);
    FileSpec odd{.path = "odd", .content = "666666", .version = 0x00000001, .flags = 0xFFFFFFFFu, .manifestSize = 99};
    odd.checksum = Md5Digest{0xAB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xCD};
    release.Add(odd);
    const auto files = WriterTest::ParseManifest(release.BuildManifest()).FilesByPath();
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t> expected[] = {
        {"stored", 0x02, 2, 1}, {"zlib", 0x16, 2, 2},     {"lzma", 0x32, 2, 3},
        {"managed", 0x01, 2, 4}, {"naked", 0x00, 2, 5}, {"odd", 0xFFFFFFFF, 1, 99}};  // flags, version, size
    for (const auto& [path, flags, version, size] : expected) {
        EXPECT_EQ(files.at(path).flags, flags) << path;
        EXPECT_EQ(files.at(path).version, version) << path;
        EXPECT_EQ(files.at(path).size, size) << path;
        // A given checksum is written as given, else the MD5 of the content ("1", "22", ...).
        const Md5Digest sum = path == std::string("odd") ? *odd.checksum : Md5Of(std::string(size, char('0' + size)));
        EXPECT_EQ(files.at(path).checksum, sum) << path;
    }
}

TEST(ManifestWriter, RawManifestsKeepTheTablesAsGiven)
{
    EXPECT_EQ(BuildRawManifest(kManifestFormatV2, 0, 0, {}, {}, {}).size(), 32u);
    // Dangling indexes and an unknown format version are written without complaint.
    const auto m = WriterTest::ParseManifest(BuildRawManifest(0x00010003, 7, 1, {{5, 9, 1, 0, 2}}, {{3, 1, {}, 0x02, 10}}, {"a", "b"}));
    EXPECT_EQ(std::tuple(m.formatVersion, m.projectName, m.directories.at(0).firstSubdirectory, m.files.at(0).name, m.stringBytes),
              std::tuple(0x00010003u, 7u, 9u, 3u, 4u));
}

TEST(ProjectWriter, RejectsPathsThatCannotBeListed)
{
    ProjectRelease release("p", 1);
    release.Add("DATA/x.dds", "x");
    EXPECT_THROW(release.Add("data/X.DDS", "again"), std::invalid_argument);  // duplicate, ignoring case
    EXPECT_THROW(release.Add("DATA/x.dds/y", "under a file"), std::invalid_argument);
    EXPECT_THROW(release.Add("data", "a file named like a directory"), std::invalid_argument);
    EXPECT_THROW(release.AddDirectory("DATA/X.dds"), std::invalid_argument);
    for (const char* bad : {"", "a//b", "/a", "a/", "a/../b", "./a", "a\\b"})
        EXPECT_THROW(release.Add(bad, "x"), std::invalid_argument) << bad;
    EXPECT_THROW(ProjectRelease("a/b", 1), std::invalid_argument);
    EXPECT_THROW(release.SetFormatVersion(0x00010003), std::invalid_argument);
    EXPECT_THROW(release.SetMaxArchiveDataSize(uint64_t{1} << 32), std::invalid_argument);
    // Nothing half-added: the tree still takes new files and lists the first one once.
    release.Add("DATA/y.dds", "y");
    EXPECT_EQ(WriterTest::ParseManifest(release.BuildManifest()).files.size(), 2u);
}

TEST(ProjectWriter, StartsANewArchiveWhenTheNextEntryWouldPassTheLimit)
{
    TarnSupport::TempDir temp;
    ProjectRelease release("split", 1);
    release.SetMaxArchiveDataSize(8000);  // two entries fill an archive exactly
    for (int i = 0; i < 5; ++i) release.Add("f" + std::to_string(i), std::string(4000, static_cast<char>('a' + i)), Storage::Archived, Compression::Stored);
    release.Add("g-big", std::string(15000, 'z'), Storage::Archived, Compression::Stored);  // larger than the limit
    release.Add("h-last", std::string(2000, 'h'), Storage::Archived, Compression::Stored);
    const auto result = release.Write(temp.Path() / "VELL");
    const std::vector<std::vector<std::string>> expected = {{"f0", "f1"}, {"f2", "f3"}, {"f4"}, {"g-big"}, {"h-last"}};
    ASSERT_EQ(result.archives.size(), expected.size());
    for (size_t i = 0; i < result.archives.size(); ++i) {
        EXPECT_EQ(result.archives[i].entryPaths, expected[i]);
        EXPECT_EQ(result.archives[i].indexPath.filename(), "data_0.0.0.1_00" + std::to_string(i) + ".olm");
        uint64_t total = 0;
        for (const auto& entry : WriterTest::ParseIndex(WriterTest::ReadBytes(result.archives[i].indexPath)).entries) total += entry.size;
        EXPECT_EQ(fs::file_size(result.archives[i].dataPath), total);
    }
    ExpectReadsBack(temp.Path() / "VELL", release);
}

TEST(ProjectWriter, WritesByteIdenticalFilesEveryTimeWhateverTheThreadCount)
{
    TarnSupport::TempDir temp;
    ProjectRelease release = SampleClientRelease();
    for (int i = 0; i < 3000; ++i)  // more than one encoding batch
        release.Add("many/file" + std::to_string(i) + ".bin", SampleContent("many", 1, std::to_string(i), 100 + i % 700),
                    Storage::Archived, i % 3 == 0 ? Compression::Lzma : Compression::Zlib);
    release.SetThreadCount(1).Write(temp.Path() / "one" / "VELL");
    release.SetThreadCount(3).Write(temp.Path() / "three" / "VELL");
    release.SetThreadCount(3).Write(temp.Path() / "three" / "VELL");  // rewritten in place
    EXPECT_TRUE(Snapshot(temp.Path() / "one") == Snapshot(temp.Path() / "three"));
}

TEST(ProjectWriter, RewritingAReleaseReplacesOnlyItsOwnArchives)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    ProjectRelease older("p", 1);
    older.Add("shared.bin", std::string(3000, 's'), Storage::Archived, Compression::Stored).Write(root);
    ProjectRelease release("p", 2);  // two files stored under the older release's file version
    for (const char* path : {"shared.bin", "other.bin"})
        release.Add({.path = path, .content = std::string(3000, 's'), .compression = Compression::Stored, .version = 1});
    release.Add("new.bin", std::string(3000, 'n'), Storage::Archived, Compression::Stored);
    release.SetMaxArchiveDataSize(1000).Write(root);
    EXPECT_EQ(Snapshot(root / "projects/p/filearchives/0.0.0.1").size(), 6u);
    // Rewritten with every file under its own version: nothing of it stays in 0.0.0.1.
    ProjectRelease rewritten("p", 2);
    for (FileSpec moved : release.Files()) {
        moved.version.reset();
        rewritten.Add(moved);
    }
    rewritten.Write(root);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : Snapshot(root / "projects/p/filearchives/0.0.0.1")) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"data_0.0.0.1_000.olm", "data_0.0.0.1_000.olm.dat"}));
    EXPECT_EQ(Snapshot(root / "projects/p/filearchives/0.0.0.2").size(), 2u);
    ExpectReadsBack(root, older);
    ExpectReadsBack(root, rewritten);
}

TEST(ProjectWriter, ReadsSourceFilesAtWriteTimeAndReportsUnreadableOnes)
{
    TarnSupport::TempDir temp;
    const std::string source = temp.Write("src/big.bin", SampleContent("src", 1, "big.bin", 70000));
    ProjectRelease release("fromdisk", 1);
    for (Storage storage : {Storage::Archived, Storage::Managed, Storage::Naked})
        release.Add({.path = std::string(StorageName(storage)) + ".bin", .storage = storage, .compression = Compression::Lzma, .sourceFile = source});
    const fs::path root = temp.Path() / "VELL";
    release.Write(root);
    ExpectReadsBack(root, release);

    ProjectRelease broken("broken", 1);
    broken.Add("fine.txt", "fine").Write(root);
    const auto before = Snapshot(root);
    broken.Add({.path = "missing.bin", .sourceFile = temp.Path() / "no-such-file"});
    EXPECT_THROW(broken.Write(root), IoError);
    EXPECT_EQ(Snapshot(root), before) << "a failed write leaves the previous release as it was, and nothing beside it";
}

// The sample layout holds every storage kind; rewriting one of its releases in place changes nothing.
TEST(ProjectWriter, WritesEveryStorageKindOfTheSampleWhereTheLayoutPutsIt)
{
    TarnSupport::TempDir temp;
    WriteSampleLayout(temp.Path());
    const fs::path root = temp.Path() / "VELL", project = root / "projects" / "client";
    const auto before = Snapshot(root);
    const ProjectRelease::WriteResult result = SampleClientRelease().Write(root);
    EXPECT_TRUE(Snapshot(root) == before);
    EXPECT_EQ(result.releaseDirectory, project / "releases" / "0.0.0.2");
    EXPECT_EQ(result.manifestPath, result.releaseDirectory / "releasemanifest");
    EXPECT_EQ(result.deployDirectory, result.releaseDirectory / "deploy");
    // One archive per file version used, named after the release.
    ASSERT_EQ(result.archives.size(), 2u);
    EXPECT_EQ(result.archives[0].indexPath, project / "filearchives" / "0.0.0.1" / "data_0.0.0.2_000.olm");
    EXPECT_EQ(result.archives[0].dataPath, project / "filearchives" / "0.0.0.1" / "data_0.0.0.2_000.olm.dat");
    EXPECT_EQ(result.archives[1].fileVersion, 0x00000002u);
    for (const ProjectRelease& release : {SampleClientPreviousRelease(), SampleClientRelease(), SamplePatchRelease()})
        ExpectReadsBack(root, release);
    const auto client = WriterTest::ReadManifest(root, "client", kSampleClientVersion).FilesByPath();
    EXPECT_EQ(client.at("DATA/Sounds/music.ogg").flags, 0x32u);   // LZMA beyond one reader block
    EXPECT_EQ(client.at("DATA/Sounds/exact.bin").size, 262144u);  // exactly one block
    // Shared paths differ between the two projects of the solution.
    EXPECT_NE(SampleContent("client", kSampleClientVersion, "DATA/readme.txt", 100),
              SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 100));
    EXPECT_TRUE(fs::is_regular_file(root / "solutions/game/releases/1.0.0.0/solutionmanifest"));
    EXPECT_TRUE(fs::is_regular_file(root / "solutions/game/releases/1.0.0.0/configurationmanifest"));
}

TEST(SolutionWriter, WritesBothManifestsLineByLine)
{
    SolutionRelease solution("game", 0x01000000);
    solution.AddProject("client", 0x00000002, 10).AddProject("patch", 0x00000001, 20, 7);
    solution.AddConfiguration("default", 3, {"patch", "client"}).AddConfiguration("lean", 0, {"client"});
    solution.SetConfigurationManifest("default", {"patch", "client", "patch"});  // order and repeats kept
    EXPECT_EQ(solution.BuildSolutionManifest(),
              "VELL Solution Manifest\n1.0.0.0\ngame\n1.0.0.0\n"
              "2\nclient\n0.0.0.2\n10\n0\npatch\n0.0.0.1\n20\n7\n"
              "2\ndefault\n3\n2\npatch\nclient\nlean\n0\n1\nclient\n");
    EXPECT_EQ(solution.BuildConfigurationManifest(), "VELL Configuration Manifest\n1.0.0.0\ndefault\n3\npatch\nclient\npatch\n");
    TarnSupport::TempDir temp;
    const fs::path release = temp.Path() / "VELL/solutions/game/releases/1.0.0.0";
    EXPECT_EQ(solution.Write(temp.Path() / "VELL").releaseDirectory, release);
    EXPECT_TRUE(fs::is_directory(release / "deploy"));
    EXPECT_EQ(WriterTest::ReadBytes(release / "solutionmanifest"), solution.BuildSolutionManifest());
    EXPECT_EQ(WriterTest::ReadBytes(release / "configurationmanifest"), solution.BuildConfigurationManifest());
    SolutionRelease plain("s", 1);  // without configurations: every project in order
    plain.AddProject("b", 1, 1).AddProject("A", 1, 2);
    EXPECT_EQ(plain.BuildConfigurationManifest(), "VELL Configuration Manifest\n1.0.0.0\ndefault\n2\nb\nA\n");
}

TEST(SolutionWriter, RefusesManifestsAReaderWouldRefuse)
{
    SolutionRelease solution("s", 1);
    solution.AddProject("Client", 1, 1);
    EXPECT_THROW(solution.AddProject("CLIENT", 2, 2), std::invalid_argument);
    EXPECT_THROW(solution.AddProject("two\nlines", 1, 1), std::invalid_argument);
    EXPECT_THROW(solution.AddProject("a/b", 1, 1), std::invalid_argument);
    EXPECT_THROW(solution.AddConfiguration("c", 0, {"Client", "client"}), std::invalid_argument);
    solution.AddConfiguration("c", 0, {"ghost"});
    EXPECT_THROW(solution.BuildSolutionManifest(), std::invalid_argument);
    SolutionRelease other("t", 1);
    other.AddProject("a", 1, 1).SetConfigurationManifest("x", {"b"});
    EXPECT_THROW(other.BuildConfigurationManifest(), std::invalid_argument);
}
