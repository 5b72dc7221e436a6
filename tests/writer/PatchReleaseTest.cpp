// Patch releases: a release over a base keeps the files whose content is unchanged where an
// earlier release stores them and writes only the rest, and every release of a chain reads
// back exactly through the library.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ReadBack.h"
#include "support/TempDir.h"
#include "writer/ArchivePath.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"
#include "writer/Version.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;
// Designated initialisers below leave the members they do not name at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Tree = std::map<std::string, std::string>;  // path -> content

Storage StorageOf(const std::string& path)
{
    if (path.ends_with(".cfg")) return Storage::Naked;
    if (path.starts_with("Config/")) return Storage::Managed;
    return Storage::Archived;
}

Compression CompressionOf(const std::string& path)
{
    if (path.ends_with(".dds")) return Compression::Lzma;
    if (path.ends_with(".raw")) return Compression::Stored;
    return Compression::Zlib;
}

ProjectRelease Pack(uint32_t version, const Tree& tree, std::optional<uint32_t> base)
{
    ProjectRelease release("chain", version);
    for (const auto& [path, content] : tree) release.Add(path, content, StorageOf(path), CompressionOf(path));
    release.SetBaseRelease(base).SetMaxArchiveDataSize(256 << 10);
    return release;
}

fs::path Deploy(const fs::path& root, uint32_t version)
{
    return root / "projects/chain/releases" / FormatVersion(version) / "deploy";
}

// 200 files: archived with each codec, every tenth managed, two naked.
Tree FirstTree()
{
    Tree tree;
    const char* extensions[] = {".txt", ".dds", ".raw"};
    for (int i = 0; i < 198; ++i) {
        const std::string path = i % 10 == 0 ? "Config/c" + std::to_string(i) + ".ini"
                                              : "DATA/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + extensions[i % 3];
        tree[path] = SampleContent("chain", 1, path, 1000 + (i * 37) % 4000);
    }
    tree["launcher.cfg"] = SampleContent("chain", 1, "launcher.cfg", 300);
    tree["Tools/run.cfg"] = SampleContent("chain", 1, "Tools/run.cfg", 200);
    return tree;
}

}  // namespace

// Five releases, each over the one before, each changing a tenth of the files (and adding and
// removing one). After every write, every release written so far reads back exactly; each
// patch writes only its changes, a fraction of what a full release takes.
TEST(PatchRelease, FiveReleasesEachChangingATenthReadBackExactlyAtEveryRelease)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    std::map<uint32_t, Tree> trees{{1, FirstTree()}};
    const uint64_t fullBytes = Pack(1, trees[1], std::nullopt).Write(root).bytesWritten;
    for (uint32_t version = 2; version <= 5; ++version) {
        Tree tree = trees[version - 1];
        std::vector<std::string> paths;
        for (const auto& [path, content] : tree)
            if (StorageOf(path) != Storage::Naked) paths.push_back(path);
        // A tenth of the files change, in a different place each release; one goes, one comes.
        size_t changed = 0;
        for (size_t i = version; changed < 20; i += 10, ++changed)
            tree[paths[i % paths.size()]] = SampleContent("chain", version, paths[i % paths.size()], 500 + i);
        tree.erase(paths[(version * 3 + 5) % paths.size()]);
        const std::string added = "DATA/new" + std::to_string(version) + ".txt";
        tree[added] = SampleContent("chain", version, added, 700);
        trees[version] = tree;

        const ProjectWriteResult written = Pack(version, tree, version - 1).Write(root);
        EXPECT_EQ(written.patch.changed.files, 20u) << version;
        EXPECT_EQ(written.patch.added.files, 1u) << version;
        EXPECT_EQ(written.patch.removed.files, 1u) << version;
        EXPECT_EQ(written.patch.naked.files, 2u) << version;
        EXPECT_EQ(written.patch.kept.files, tree.size() - 20 - 1 - 2) << version;
        EXPECT_LT(written.bytesWritten, fullBytes / 4) << version;
        for (const auto& [release, expected] : trees)
            EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, release)), expected), "") << "release " << release << " after " << version;
    }
}

// Unchanged means the same bytes, whatever the files' times: sources written again with the
// same content are kept; one with other bytes of the same size, and one whose storage kind
// changes, are written again.
TEST(PatchRelease, UnchangedMeansTheSameContentAndStorageWhateverTheTimes)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    Tree tree;
    for (int i = 0; i < 6; ++i) tree["f" + std::to_string(i) + ".txt"] = SampleContent("times", 1, std::to_string(i), 3000);
    auto packFromDisk = [&](uint32_t version, std::optional<uint32_t> base, const std::string& managed) {
        ProjectRelease release("chain", version);
        for (const auto& [path, content] : tree)
            release.Add({.path = path, .storage = path == managed ? Storage::Managed : Storage::Archived,
                         .sourceFile = temp.Write("src/" + path, content)});  // written again: new times
        release.SetBaseRelease(base);
        return release.Write(root);
    };
    packFromDisk(1, std::nullopt, "");
    tree["f1.txt"][100] ^= 1;  // same size, other content
    const ProjectWriteResult written = packFromDisk(2, 1, "f2.txt");
    EXPECT_EQ(written.patch.kept.files, 4u);
    EXPECT_EQ(written.patch.changed.files, 2u);
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 2)), tree), "");
}

// A base whose records carry no checksum (zeros, as earlier tools wrote) proves nothing
// unchanged: everything is written again.
TEST(PatchRelease, ABaseWithoutChecksumsKeepsNothing)
{
    TarnSupport::TempDir temp;
    const fs::path root = temp.Path() / "VELL";
    const Tree tree = FirstTree();
    ProjectRelease unsummed("chain", 1);
    for (const auto& [path, content] : tree)
        unsummed.Add({.path = path, .content = content, .storage = StorageOf(path), .checksum = Md5Digest{}});
    unsummed.Write(root);
    const ProjectWriteResult written = Pack(2, tree, 1).Write(root);
    EXPECT_EQ(written.patch.kept.files, 0u);
    EXPECT_EQ(written.patch.changed.files, tree.size() - 2);
    EXPECT_EQ(ReadBack::Differences(ReadBack::ThroughLibrary(Deploy(root, 2)), tree), "");
}
