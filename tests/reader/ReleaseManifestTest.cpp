// Loading a release manifest: both record layouts, the sibling order, strings, and the
// refusal of every file that is short, foreign or not a tree.
#include <cstdio>

#include "writer/ReleaseManifest.h"

#include "ReaderTestSupport.h"

namespace R = Tarn::VELL::Reader;
using namespace ReaderTest;
using Names = std::vector<std::string>;

namespace {

const std::string kLoad = "Tarn::VELL::Reader::ReleaseManifest::Load: ";
const std::string kTruncated = kLoad + "The release manifest is invalid.  The file may be truncated.";
const std::string kHeader = kLoad + "Failure while reading header";

std::string Raw(const std::vector<W::ManifestDirectory>& dirs, const std::vector<uint32_t>& fileNames, const Names& strings,
                uint32_t projectName = 0)
{
    std::vector<W::ManifestFile> files;
    for (uint32_t name : fileNames) files.push_back({name, 0, {}, 0, 0});
    return W::BuildRawManifest(W::kManifestFormatV2, projectName, 0x01020304, dirs, files, strings);
}

// Every entry the tree reaches, depth first, in table order; directories end with '/'. Shows
// the sibling order and that every moved record kept its own children.
Names Walk(const R::ReleaseManifest& m, uint32_t index = 0, const std::string& prefix = "")
{
    Names out;
    const R::ManifestDirectory d = m.Directory(index);
    for (uint32_t k = d.firstSubdirectory; k < d.firstSubdirectory + d.subdirectoryCount; ++k) {
        out.push_back(prefix + m.String(m.Directory(k).name) + "/");
        const Names below = Walk(m, k, out.back());
        out.insert(out.end(), below.begin(), below.end());
    }
    for (uint32_t k = d.firstFile; k < d.firstFile + d.fileCount; ++k) out.push_back(prefix + m.String(m.File(k).name));
    return out;
}

// Both tables, every field the library reads.
Names Tables(const R::ReleaseManifest& m)
{
    Names out;
    char line[200];
    for (uint32_t i = 0; i < m.DirectoryCount(); ++i) {
        const R::ManifestDirectory d = m.Directory(i);
        std::snprintf(line, sizeof(line), "%s %u+%u %u+%u", m.String(d.name), d.firstSubdirectory, d.subdirectoryCount,
                      d.firstFile, d.fileCount);
        out.push_back(line);
    }
    for (uint32_t i = 0; i < m.FileCount(); ++i) {
        const R::ManifestFile f = m.File(i);
        std::snprintf(line, sizeof(line), "%s v%08x flags%02x size%u sum%02x..%02x", m.String(f.name), f.version, f.flags,
                      f.size, f.checksum[0], f.checksum[15]);
        out.push_back(line);
    }
    return out;
}

}  // namespace

TEST(ReleaseManifest, BothRecordLayoutsOfOneTreeGiveTheSameTables)
{
    FileSpec sound = Item("DATA/Sounds/boom.wav", "wave", Storage::Managed, Compression::Stored, 0x00010001);
    sound.checksum = Tarn::VELL::Writer::Md5Digest{0xA5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x5A};
    ProjectRelease release("Game", 0x00010203);
    release.Add(sound)
        .Add("DATA/Characters/hero.dds", "texture", Storage::Archived, Compression::Lzma)
        .Add("DATA/Characters/Villain.dds", "texture 2", Storage::Archived, Compression::Stored)
        .Add("readme.txt", "hello", Storage::Naked);
    TempDir dir;
    const std::string current = dir.Write("current", release.BuildManifest());
    const std::string old = dir.Write("old", release.SetFormatVersion(W::kManifestFormatV1).BuildManifest());

    LogCapture log;
    auto a = R::ReleaseManifest::Load(current.c_str());
    auto b = R::ReleaseManifest::Load(old.c_str());
    ASSERT_TRUE(a && b) << log.Dump();
    EXPECT_EQ(a->FormatVersion(), R::kReleaseManifestVersion);
    EXPECT_EQ(b->FormatVersion(), R::kReleaseManifestVersion0);
    EXPECT_STREQ(b->ProjectName(), "Game");
    EXPECT_EQ(b->ReleaseVersion(), 0x00010203u);
    EXPECT_EQ(Tables(*a), Tables(*b));
    EXPECT_EQ(Tables(*b), (Names{" 1+1 0+1", "DATA 2+2 1+0", "Characters 4+0 1+2", "Sounds 4+0 3+1",
                                 "readme.txt v00010203 flags00 size5 sum5d..92", "hero.dds v00010203 flags32 size7 sum6d..1a",
                                 "Villain.dds v00010203 flags02 size9 sumff..b4", "boom.wav v00010001 flags01 size4 suma5..5a"}));
    EXPECT_TRUE(TarnTest::Logged(log, 0, LogCapture::kInfoTags, kLoad + "(\"" + old + "\")"));
    EXPECT_TRUE(log.Texts(1).empty()) << log.Dump();
}

TEST(ReleaseManifest, SortsSiblingsIgnoringAsciiCaseAtEveryLevel)
{
    const Names strings{"P",     "",     "b",     "A",        "c",     "Zeta.txt", "alpha.txt", "_under.txt", "z",
                        "_u",    "Y",    "Beta",  "alpha",    "in-A",  "b.dat",    "A.dat",     "lost",       "Lost2"};
    // Table order: root (b, A, c), b (z, _u, Y), A, c, z, _u, Y, and "lost", which hangs from nothing.
    const std::vector<W::ManifestDirectory> dirs{{1, 1, 3, 0, 3},  {2, 4, 3, 3, 2},  {3, 0, 0, 5, 1}, {4, 0, 0, 0, 0},
                                                 {8, 0, 0, 0, 0},  {9, 0, 0, 0, 0},  {10, 0, 0, 6, 2}, {16, 0, 0, 8, 2}};
    TempDir dir;
    const std::string path = dir.Write("m", Raw(dirs, {5, 6, 7, 11, 12, 13, 14, 15, 17, 16}, strings));
    LogCapture log;
    auto m = R::ReleaseManifest::Load(path.c_str());
    ASSERT_TRUE(m) << log.Dump();
    EXPECT_EQ(Walk(*m), (Names{"A/", "A/in-A", "b/", "b/_u/", "b/Y/", "b/Y/A.dat", "b/Y/b.dat", "b/z/", "b/alpha", "b/Beta",
                               "c/", "_under.txt", "alpha.txt", "Zeta.txt"}));
    // What the tree does not reach keeps its place and order.
    EXPECT_STREQ(m->String(m->Directory(7).name), "lost");
    EXPECT_STREQ(m->String(m->File(8).name), "Lost2");
    EXPECT_STREQ(m->String(m->File(9).name), "lost");
}

TEST(ReleaseManifest, RefusesShortTruncatedOrForeignFilesWithTheirOwnMessage)
{
    const std::string valid = Raw({{1, 0, 0, 0, 1}}, {2}, {"P", "", "f.txt"});  // string header at 80
    const std::string version = kLoad + "Invalid version.  Current version is 0x00010002, found ";
    const struct {
        std::string bytes, message;
    } cases[] = {
        {valid.substr(0, 7), kHeader},
        {Patched(valid, 16, 2), kTruncated},
        {Patched(valid, 16, 0x40000001), kTruncated},  // 20 bytes per directory wraps to one
        {Patched(valid, 40, 2), kTruncated},
        {Patched(valid, 40, 0x40000001), kTruncated},  // 36 bytes per file wraps to one
        {Patched(valid, 84, 10), kTruncated},
        {Patched(valid, 84, 0xFFFFFFFF), kTruncated},
        {Patched(valid, 0, 0x524C534D), kLoad + "Failed to find magic value"},
        {Patched(valid, 4, 0x00010003), version + "0x00010003"},
        {Patched(valid, 4, 0x00010000), version + "0x00010000"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.Write("m", c.bytes);
        LogCapture log;
        EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr);
        EXPECT_EQ(log.Texts(1), Names{c.message});
    }
    for (size_t n = 8; n < valid.size(); ++n) {
        const std::string path = dir.Write("m", valid.substr(0, n));
        LogCapture log;
        EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr) << n;
        EXPECT_TRUE(LoggedError(log, kTruncated)) << n;
    }
}

TEST(ReleaseManifest, TakesStringsFromTheDeclaredStringDataOnly)
{
    TempDir dir;
    const std::string smallest = dir.Write("m", Raw({}, {}, {}));
    ASSERT_EQ(std::filesystem::file_size(smallest), 32u);
    auto m = R::ReleaseManifest::Load(smallest.c_str());
    ASSERT_TRUE(m && m->IsValid());
    EXPECT_EQ(m->DirectoryCount() + m->FileCount() + m->StringCount(), 0u);
    EXPECT_EQ(m->ProjectName(), nullptr);

    // Strings "P", "", "f" take 5 bytes; the string header is at 80.
    const std::string base = Raw({{1, 0, 0, 0, 1}}, {2}, {"P", "", "f"});
    const std::string unterminated = Patched(base + "tail", 84, 9);
    const std::string trailing = Patched(base + std::string("extra\0more\0", 11), 80, 0xFFFFFFFF);  // a huge count hint
    for (const std::string& bytes : {unterminated, trailing}) {
        const std::string path = dir.Write("m", bytes);
        LogCapture log;
        m = R::ReleaseManifest::Load(path.c_str());
        ASSERT_TRUE(m) << log.Dump();
        EXPECT_EQ(m->StringCount(), 3u);
        EXPECT_STREQ(m->String(2), "f");
        EXPECT_EQ(m->String(3), nullptr);
    }
    // A name that would need the unterminated bytes is refused.
    const std::string path = dir.Write("m", Patched(unterminated, 44, 3));
    LogCapture log;
    EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr);
    EXPECT_TRUE(LoggedError(log, kTruncated));
}

TEST(ReleaseManifest, RefusesTablesThatDoNotFormATreeBelowTheRoot)
{
    const Names strings{"P", "", "a", "b", "f", "g"};
    const struct {
        const char* what;
        uint32_t projectName;
        std::vector<W::ManifestDirectory> dirs;
        std::vector<uint32_t> files;
    } cases[] = {
        {"project name outside the strings", 6, {{1, 0, 0, 0, 0}}, {}},
        {"directory name outside the strings", 0, {{1, 1, 1, 0, 0}, {99, 0, 0, 0, 0}}, {}},
        {"file name outside the strings", 0, {{1, 0, 0, 0, 1}}, {6}},
        {"subdirectories past the table", 0, {{1, 1, 2, 0, 0}, {2, 0, 0, 0, 0}}, {}},
        {"subdirectory range wrapping 32 bits", 0, {{1, 1, 0xFFFFFFFF, 0, 0}, {2, 0, 0, 0, 0}}, {}},
        {"files past the table", 0, {{1, 0, 0, 0, 2}}, {4}},
        {"file range wrapping 32 bits", 0, {{1, 0, 0, 1, 0xFFFFFFFF}}, {4}},
        {"a directory with two parents", 0, {{1, 1, 2, 0, 0}, {2, 2, 1, 0, 0}, {3, 0, 0, 0, 0}}, {}},
        {"a file in two directories", 0, {{1, 1, 1, 0, 1}, {2, 0, 0, 0, 1}}, {4}},
        {"the root as a child", 0, {{1, 1, 1, 0, 0}, {2, 0, 1, 0, 0}}, {}},
        {"a directory inside itself", 0, {{1, 1, 1, 0, 0}, {2, 1, 1, 0, 0}}, {}},
        {"files without any directory", 0, {}, {4}},
        {"a directory claimed from outside the tree", 0, {{1, 1, 1, 0, 0}, {2, 0, 0, 0, 0}, {3, 1, 1, 0, 0}}, {}},
        {"a file claimed from outside the tree", 0, {{1, 0, 0, 0, 1}, {2, 0, 0, 0, 1}}, {4}},
        {"the root claimed from outside the tree", 0, {{1, 0, 0, 0, 0}, {2, 0, 1, 0, 0}}, {}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.Write("m", Raw(c.dirs, c.files, strings, c.projectName));
        LogCapture log;
        EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr) << c.what;
        EXPECT_TRUE(LoggedError(log, kTruncated)) << c.what;
    }
    // Entries that no range reaches are no fault, and empty ranges may point anywhere.
    const std::string path = dir.Write("m", Raw({{1, 1, 1, 0, 1}, {2, 77, 0, 99, 0}, {3, 0, 0, 1, 1}}, {4, 5}, strings));
    LogCapture log;
    auto m = R::ReleaseManifest::Load(path.c_str());
    ASSERT_TRUE(m) << log.Dump();
    EXPECT_EQ(Walk(*m), (Names{"a/", "f"}));
}

TEST(ReleaseManifest, ReportsWhatCannotBeOpenedOrRead)
{
    TempDir dir;
    for (const std::string& path : {dir / "missing", dir.Path().string()}) {
        LogCapture log;
        EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr);
        EXPECT_TRUE(LoggedError(log, kLoad + "Failed to open \"" + path + "\"."));
        EXPECT_TRUE(TarnTest::NotLogged(log, kHeader));
    }
    // A read that stops short reports the stream's error, then the header failure.
    const std::string path = dir.Write("m", Raw({{1, 0, 0, 0, 0}}, {}, {"P", ""}));
    TarnTest::ScopedCalls calls;
    Win32::gCalls.fread = [](void*, size_t, size_t, FILE*) -> size_t { return 3; };
    Win32::gCalls.ferror = [](FILE*) { return 5; };
    LogCapture log;
    EXPECT_EQ(R::ReleaseManifest::Load(path.c_str()), nullptr);
    EXPECT_EQ(log.Texts(1), (Names{kLoad + "Input/output error", kHeader}));
}
