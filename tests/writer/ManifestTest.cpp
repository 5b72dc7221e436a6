#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/ProjectWriter.h"
#include "writer/ReleaseManifest.h"

using namespace Tarn::VELL::Writer;

namespace {

std::vector<std::string> ChildNames(const WriterTest::Manifest& m, const WriterTest::Directory& d)
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < d.subdirectoryCount; ++i) names.push_back(m.strings.at(m.directories.at(d.firstSubdirectory + i).name) + "/");
    for (uint32_t i = 0; i < d.fileCount; ++i) names.push_back(m.strings.at(m.files.at(d.firstFile + i).name));
    return names;
}

ProjectRelease ScrambledTree(uint32_t format)
{
    ProjectRelease release("tree", 0x00000305);
    release.SetFormatVersion(format).SetRootName("root");
    for (const char* path : {"b/z.txt", "Zeta.txt", "A/x.txt", "c/deep/er/f.bin", "_u/k", "alpha.txt", "A/B.txt", "a/a.txt"})
        release.Add(path, std::string("content of ") + path);
    release.AddDirectory("A/empty");
    return release;
}

}  // namespace

TEST(ManifestWriter, ListsDirectoriesBreadthFirstWithSiblingsInStricmpOrder)
{
    for (uint32_t format : {kManifestFormatV1, kManifestFormatV2}) {
        const std::string bytes = ScrambledTree(format).BuildManifest();
        const WriterTest::Manifest m = WriterTest::ParseManifest(bytes);
        EXPECT_EQ(m.magic, 0x4D534C52u);
        EXPECT_EQ(m.formatVersion, format);
        EXPECT_EQ(m.releaseVersion, 0x00000305u);
        EXPECT_EQ(m.strings.at(m.projectName), "tree");
        EXPECT_EQ(m.stringCount, m.strings.size());
        ASSERT_EQ(m.files.size(), 8u);
        EXPECT_EQ(m.files[0].trailing, std::string(format == kManifestFormatV1 ? 12 : 4, '\0'));

        // Table order is breadth-first: root, its subdirectories, then theirs, each sorted.
        EXPECT_EQ(m.DirectoryPaths(), (std::vector<std::string>{"", "_u", "A", "b", "c", "A/empty", "c/deep", "c/deep/er"}));
        EXPECT_EQ(m.strings.at(m.directories[0].name), "root");
        EXPECT_EQ(ChildNames(m, m.directories[0]), (std::vector<std::string>{"_u/", "A/", "b/", "c/", "alpha.txt", "Zeta.txt"}));
        // "a/a.txt" joined the directory first spelled "A"; siblings differing in case sort by name.
        EXPECT_EQ(ChildNames(m, m.directories[2]), (std::vector<std::string>{"empty/", "a.txt", "B.txt", "x.txt"}));
        // Files are laid out contiguously in directory table order.
        uint32_t nextFile = 0;
        for (const WriterTest::Directory& d : m.directories) {
            EXPECT_EQ(d.firstFile, nextFile);
            nextFile += d.fileCount;
        }
        EXPECT_EQ(nextFile, m.files.size());
        EXPECT_EQ(m.FilesByPath().count("A/a.txt"), 1u);
        EXPECT_EQ(m.FilesByPath().at("c/deep/er/f.bin").size, std::string("content of c/deep/er/f.bin").size());
    }
}

TEST(ManifestWriter, WritesFlagsVersionsAndChecksumsOfEveryStorageKind)
{
    ProjectRelease release("kinds", 0x00000002);
    release.Add("stored", "1", Storage::Archived, Compression::Stored);
    release.Add("zlib", "22", Storage::Archived, Compression::Zlib);
    release.Add("lzma", "333", Storage::Archived, Compression::Lzma);
    release.Add("managed", "4444", Storage::Managed, Compression::Lzma);
    release.Add("naked", "55555", Storage::Naked, Compression::Zlib);
    FileSpec odd;
    odd.path = "odd";
    odd.content = "666666";
    odd.version = 0x00000001;
    odd.flags = 0xFFFFFFFFu;
    odd.manifestSize = 99;
    odd.checksum[0] = 0xAB;
    odd.checksum[15] = 0xCD;
    release.Add(odd);

    const auto files = WriterTest::ParseManifest(release.BuildManifest()).FilesByPath();
    const std::pair<const char*, uint32_t> flags[] = {{"stored", 0x02}, {"zlib", 0x16}, {"lzma", 0x32},
                                                      {"managed", 0x01}, {"naked", 0x00}, {"odd", 0xFFFFFFFF}};
    for (const auto& [path, expected] : flags) EXPECT_EQ(files.at(path).flags, expected) << path;
    EXPECT_EQ(files.at("naked").size, 5u);
    EXPECT_EQ(files.at("naked").version, 0x00000002u);
    EXPECT_EQ(files.at("odd").version, 0x00000001u);
    EXPECT_EQ(files.at("odd").size, 99u);
    EXPECT_EQ(files.at("odd").checksum[0], 0xAB);
    EXPECT_EQ(files.at("odd").checksum[15], 0xCD);
}

TEST(ManifestWriter, RawManifestsKeepTheTablesAsGiven)
{
    EXPECT_EQ(BuildRawManifest(kManifestFormatV2, 0, 0, {}, {}, {}).size(), 32u);
    // Dangling indexes and an unknown format version are written without complaint.
    const std::string raw = BuildRawManifest(0x00010003, 7, 1, {{5, 9, 1, 0, 2}}, {{3, 1, {}, 0x02, 10}}, {"a", "b"});
    const WriterTest::Manifest m = WriterTest::ParseManifest(raw);
    EXPECT_EQ(m.formatVersion, 0x00010003u);
    EXPECT_EQ(m.projectName, 7u);
    EXPECT_EQ(m.directories.at(0).firstSubdirectory, 9u);
    EXPECT_EQ(m.files.at(0).name, 3u);
    EXPECT_EQ(m.stringBytes, 4u);
}

TEST(ProjectWriter, RejectsPathsThatCannotBeListed)
{
    ProjectRelease release("p", 1);
    release.Add("DATA/x.dds", "x");
    EXPECT_THROW(release.Add("data/X.DDS", "again"), std::invalid_argument);   // duplicate, ignoring case
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
