#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/FileIO.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"
#include "writer/Version.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;

namespace {

// Every regular file below directory, by relative path, with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(directory))
        if (item.is_regular_file()) files[item.path().lexically_relative(directory).generic_string()] = WriterTest::ReadBytes(item.path());
    return files;
}

// Checks that every file of the release reads back, through the layout alone, as given.
void ExpectReadsBack(const fs::path& root, const ProjectRelease& release)
{
    const auto result = WriterTest::ParseManifest(WriterTest::ReadBytes(
        root / "projects" / release.Name() / "releases" / FormatVersion(release.Version()) / "releasemanifest"));
    const auto listed = result.FilesByPath();
    ASSERT_EQ(listed.size(), release.Files().size());
    for (const FileSpec& given : release.Files()) {
        const WriterTest::File& file = listed.at(given.path);
        EXPECT_EQ(file.size, given.content.size()) << given.path;
        EXPECT_EQ(WriterTest::ReadListedFile(root, release.Name(), result, given.path, file), given.content) << given.path;
    }
}

}  // namespace

TEST(ProjectWriter, WritesEveryStorageKindWhereTheLayoutPutsIt)
{
    WriterTest::ScratchDir temp;
    const fs::path root = temp.Path() / "VELL";
    const ProjectRelease release = SampleClientRelease();
    const ProjectRelease::WriteResult result = release.Write(root);

    const fs::path project = root / "projects" / "client";
    EXPECT_EQ(result.releaseDirectory, project / "releases" / "0.0.0.2");
    EXPECT_EQ(result.manifestPath, result.releaseDirectory / "releasemanifest");
    EXPECT_TRUE(fs::is_directory(result.deployDirectory));
    EXPECT_TRUE(fs::is_regular_file(project / "managedfiles" / "0.0.0.1" / "Config" / "defaults.ini"));
    EXPECT_TRUE(fs::is_regular_file(project / "managedfiles" / "0.0.0.2" / "Config" / "settings.ini"));
    EXPECT_TRUE(fs::is_regular_file(result.deployDirectory / "Tools" / "notes.txt"));
    // One archive per file version used, named after the release.
    ASSERT_EQ(result.archives.size(), 2u);
    EXPECT_EQ(result.archives[0].indexPath, project / "filearchives" / "0.0.0.1" / "data_0.0.0.2_000.olm");
    EXPECT_EQ(result.archives[0].dataPath, project / "filearchives" / "0.0.0.1" / "data_0.0.0.2_000.olm.dat");
    EXPECT_EQ(result.archives[1].fileVersion, 0x00000002u);
    ExpectReadsBack(root, release);
}

TEST(ProjectWriter, StartsANewArchiveWhenTheNextEntryWouldPassTheLimit)
{
    WriterTest::ScratchDir temp;
    ProjectRelease release("split", 1);
    release.SetMaxArchiveDataSize(8000);  // two entries fill an archive exactly
    for (int i = 0; i < 5; ++i) release.Add("f" + std::to_string(i), std::string(4000, static_cast<char>('a' + i)), Storage::Archived, Compression::Stored);
    release.Add("g-big", std::string(15000, 'z'), Storage::Archived, Compression::Stored);  // larger than the limit
    release.Add("h-last", std::string(2000, 'h'), Storage::Archived, Compression::Stored);
    const auto result = release.Write(temp.Path() / "VELL");

    ASSERT_EQ(result.archives.size(), 5u);
    const std::vector<std::vector<std::string>> expected = {{"f0", "f1"}, {"f2", "f3"}, {"f4"}, {"g-big"}, {"h-last"}};
    for (size_t i = 0; i < result.archives.size(); ++i) {
        EXPECT_EQ(result.archives[i].entryPaths, expected[i]);
        EXPECT_EQ(result.archives[i].indexPath.filename(), "data_0.0.0.1_00" + std::to_string(i) + ".olm");
        const auto index = WriterTest::ParseIndex(WriterTest::ReadBytes(result.archives[i].indexPath));
        uint64_t total = 0;
        for (const auto& entry : index.entries) total += entry.size;
        EXPECT_EQ(fs::file_size(result.archives[i].dataPath), total);
    }
    ExpectReadsBack(temp.Path() / "VELL", release);
}

TEST(ProjectWriter, WritesByteIdenticalFilesEveryTimeWhateverTheThreadCount)
{
    WriterTest::ScratchDir temp;
    ProjectRelease release = SampleClientRelease();
    for (int i = 0; i < 3000; ++i)  // more than one encoding batch
        release.Add("many/file" + std::to_string(i) + ".bin", SampleContent("many", 1, std::to_string(i), 100 + i % 700),
                    Storage::Archived, i % 3 == 0 ? Compression::Lzma : Compression::Zlib);
    release.SetThreadCount(1).Write(temp.Path() / "one" / "VELL");
    release.SetThreadCount(3).Write(temp.Path() / "three" / "VELL");
    release.SetThreadCount(3).Write(temp.Path() / "three" / "VELL");  // rewritten in place
    const auto one = Snapshot(temp.Path() / "one");
    const auto three = Snapshot(temp.Path() / "three");
    EXPECT_EQ(one.size(), three.size());
    EXPECT_TRUE(one == three);
}

TEST(ProjectWriter, RewritingAReleaseReplacesOnlyItsOwnArchives)
{
    WriterTest::ScratchDir temp;
    const fs::path root = temp.Path() / "VELL";
    ProjectRelease older("p", 1);
    older.Add("shared.bin", std::string(3000, 's'), Storage::Archived, Compression::Stored);
    older.Write(root);
    ProjectRelease release("p", 2);
    FileSpec kept;
    kept.path = "shared.bin";
    kept.content = std::string(3000, 's');
    kept.compression = Compression::Stored;
    kept.version = 1;  // stored under the older release's file version
    release.Add(kept);
    kept.path = "other.bin";
    release.Add(kept);
    release.Add("new.bin", std::string(3000, 'n'), Storage::Archived, Compression::Stored);
    release.SetMaxArchiveDataSize(1000).Write(root);
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "projects/p/filearchives/0.0.0.1"), fs::directory_iterator()), 6);

    // Rewritten with every file under its own version: nothing of it stays in 0.0.0.1.
    ProjectRelease rewritten("p", 2);
    for (const FileSpec& given : release.Files()) {
        FileSpec moved = given;
        moved.version.reset();
        rewritten.Add(moved);
    }
    rewritten.Write(root);
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(root / "projects/p/filearchives/0.0.0.1")) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"data_0.0.0.1_000.olm", "data_0.0.0.1_000.olm.dat"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "projects/p/filearchives/0.0.0.2"), fs::directory_iterator()), 2);
    ExpectReadsBack(root, older);
    ExpectReadsBack(root, rewritten);
}

TEST(ProjectWriter, ReadsSourceFilesAtWriteTimeAndReportsUnreadableOnes)
{
    WriterTest::ScratchDir temp;
    const std::string bytes = SampleContent("src", 1, "big.bin", 70000);
    const std::string source = temp.Write("src/big.bin", bytes);
    ProjectRelease release("fromdisk", 1);
    for (Storage storage : {Storage::Archived, Storage::Managed, Storage::Naked}) {
        FileSpec file;
        file.path = std::string(StorageName(storage)) + ".bin";
        file.storage = storage;
        file.compression = Compression::Lzma;
        file.sourceFile = source;
        release.Add(file);
    }
    const fs::path root = temp.Path() / "VELL";
    release.Write(root);
    const auto manifest = WriterTest::ParseManifest(WriterTest::ReadBytes(root / "projects/fromdisk/releases/0.0.0.1/releasemanifest"));
    for (const auto& [path, file] : manifest.FilesByPath()) {
        EXPECT_EQ(file.size, bytes.size()) << path;
        EXPECT_EQ(WriterTest::ReadListedFile(root, "fromdisk", manifest, path, file), bytes) << path;
    }

    FileSpec missing;
    missing.path = "missing.bin";
    missing.sourceFile = temp.Path() / "no-such-file";
    ProjectRelease broken("broken", 1);
    broken.Add("fine.txt", "fine");
    broken.Write(root);
    broken.Add(missing);
    EXPECT_THROW(broken.Write(root), IoError);
    EXPECT_FALSE(fs::exists(root / "projects/broken/releases/0.0.0.1/releasemanifest")) << "no manifest after a failed write";
}
