// The archive managers: which indexes they delete or keep, the archive a path is found in,
// and the per-project, per-version cache.
#include <cerrno>
#include <cstring>

#include "CStd/CStd.h"
#include "reader/ArchiveManager.h"
#include "writer/ArchiveIndex.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;
using Texts = std::vector<std::string>;

namespace {

const std::string kLoad = "Tarn::VELL::Reader::ArchiveVersionManager::LoadArchiveFile: ";
const std::string kCreate = "Tarn::VELL::Reader::ArchiveVersionManager::Create: ";
const std::string kBadIndex = "Tarn::VELL::Reader::ArchiveFile::Read: Incorrect magic value or version, invalid archive ";

std::string ArchiveDir(const TempDir& root, const std::string& project = "Game", const std::string& version = "0.0.0.1")
{
    return root.Path().string() + "/projects/" + project + "/filearchives/" + version;
}

// Writes the index name and its data file name.dat into dir; returns the index path.
std::string WriteArchive(const TempDir& root, const std::string& dir, const std::string& name, const std::string& index)
{
    root.Write(dir + "/" + name + ".dat", "0123456789");
    return root.Write(dir + "/" + name, index);
}

std::string Index(const std::vector<W::IndexEntry>& entries) { return W::BuildArchiveIndex(entries); }

struct Found {
    bool found;
    std::string dataFile;
    uint32_t offset, size;
    bool operator==(const Found&) const = default;
};

Found Find(const ArchiveVersionManager& manager, const char* path)
{
    Found f{false, "unset", 0xDEAD, 0xBEEF};
    f.found = manager.Find(path, f.dataFile, f.offset, f.size);
    return f;
}

int gDeletes = 0, gErrno = 0;

void CountDeletes()
{
    gDeletes = 0;
    Win32::gCalls.DeleteFileA = [](Win32::LPCSTR path) {
        ++gDeletes;
        return Win32::DefaultCalls().DeleteFileA(path);
    };
}

}  // namespace

TEST(ArchiveManager, DeletesIndexWithUnusableContentButKeepsDataFile)
{
    enum Kind { Content, ZeroSized, Kept };
    const std::string good = Index({{"x", 0, 4}});  // path record at 48
    const std::pair<Kind, std::string> cases[] = {
        {Content, Patched(good, 0, 0x12345678)}, {Content, Patched(good, 4, 2)}, {Content, Patched(good, 20, 9)},
        {Content, Patched(good, 48, 400)},       {ZeroSized, Index({})},         {ZeroSized, Index({{"y", 0, 0}, {"z", 0, 0}})},
        {Kept, Index({{"y", 0, 0x80000000}, {"z", 0, 0x80000000}})},
    };
    for (const auto& [kind, index] : cases) {
        TempDir root;
        const std::string dir = ArchiveDir(root);
        WriteArchive(root, dir, "good.olm", good);
        const std::string bad = WriteArchive(root, dir, "bad.olm", index);
        ArchiveManager archives;
        LogCapture log;
        ArchiveVersionManager* manager = archives.GetVersionManager(root.Path().string().c_str(), "Game", 1);
        ASSERT_NE(manager, nullptr) << log.Dump();
        EXPECT_EQ(manager->Archives().size(), kind == Kept ? 2u : 1u);
        EXPECT_EQ(Find(*manager, "X"), (Found{true, dir + "/good.olm.dat", 0, 4}));
        EXPECT_EQ(fs::exists(bad), kind == Kept) << bad;
        EXPECT_TRUE(fs::exists(bad + ".dat"));
        const Texts expected[] = {{kBadIndex + bad, kLoad + "Failed to open " + bad + ", archive will be deleted and ignored"},
                                  {kLoad + "Zero sized archive " + bad + " will be deleted and ignored"},
                                  {}};
        EXPECT_EQ(log.Texts(1), expected[kind]);
        EXPECT_TRUE(kind == Kept || TarnTest::Logged(log, 1, LogCapture::kErrorTags, expected[kind].back()));
    }
}

TEST(ArchiveManager, KeepsAnIndexThatCannotBeRead)
{
    for (int fault : {13, 24, 5}) {  // permission denied, too many open files, a read error
        TempDir root;
        const std::string path = WriteArchive(root, ArchiveDir(root), "a.olm", Index({{"x", 0, 4}}));
        ArchiveManager archives;
        {
            TarnTest::ScopedCalls calls;
            gErrno = fault;
            if (fault == 5) {
                Win32::gCalls.fread = [](void*, size_t, size_t, FILE*) -> size_t { return 0; };
            } else {
                Win32::gCalls._fsopen = [](const char*, const char*, int) -> FILE* {
                    errno = gErrno;
                    Win32::SetLastError(gErrno == 13 ? Win32::kErrorAccessDenied : Win32::kErrorTooManyOpenFiles);
                    return nullptr;
                };
            }
            CountDeletes();
            LogCapture log;
            EXPECT_EQ(archives.GetVersionManager(root.Path().string().c_str(), "Game", 1), nullptr);
            EXPECT_TRUE(log.InOrder({"Tarn::VELL::Reader::ArchiveFile::Read: Failed to read our archive directory",
                                     kLoad + "Zero sized archive " + path + " will be deleted and ignored"}))
                << log.Dump();
            EXPECT_EQ(gDeletes, 0);
        }
        // Once the fault has passed, the same archive serves.
        ArchiveVersionManager* manager = archives.GetVersionManager(root.Path().string().c_str(), "Game", 1);
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(Find(*manager, "x"), (Found{true, path + ".dat", 0, 4}));
    }
}

// Windows matches "*.olm" against short names too, and so lists "notes.olmx" (NOTES~1.OLM):
// that file is no index, and is neither read nor deleted.
TEST(ArchiveManager, LeavesAFileThatAShortNameMatchAlone)
{
    TempDir root;
    const std::string dir = ArchiveDir(root);
    WriteArchive(root, dir, "good.olm", Index({{"x", 0, 4}}));
    const std::string other = root.Write(dir + "/notes.olmx", "not an index");
    TarnTest::ScopedCalls calls;
    CountDeletes();
    // The POSIX layer matches long names only: here it lists the file last, as Windows may.
    static bool listed;
    listed = false;
    Win32::gCalls.FindNextFileA = [](Win32::HANDLE search, Win32::WIN32_FIND_DATAA* data) -> Win32::BOOL {
        if (Win32::DefaultCalls().FindNextFileA(search, data)) return Win32::TRUE;
        if (listed || Win32::GetLastError() != Win32::kErrorNoMoreFiles) return Win32::FALSE;
        listed = true;
        *data = {};
        std::strcpy(data->cFileName, "notes.olmx");
        data->dwFileAttributes = Win32::FILE_ATTRIBUTE_ARCHIVE;
        return Win32::TRUE;
    };
    ArchiveManager archives;
    LogCapture log;
    ArchiveVersionManager* manager = archives.GetVersionManager(root.Path().string().c_str(), "Game", 1);
    ASSERT_NE(manager, nullptr) << log.Dump();
    EXPECT_TRUE(listed);
    EXPECT_EQ(manager->Archives().size(), 1u);
    EXPECT_TRUE(log.Texts(1).empty()) << log.Dump();
    EXPECT_EQ(gDeletes, 0);
    EXPECT_EQ(TempDir::Read(other), "not an index");
}

TEST(ArchiveVersionManager, FindGivesTheFirstArchiveInDirectoryOrderAndRefusesEmptyPaths)
{
    // The directory lists names in the order of their upper-case forms: A, b, _a.
    TempDir root;
    const std::string dir = ArchiveDir(root);
    WriteArchive(root, dir, "_a.olm", Index({{"x", 1, 1}, {"y", 1, 1}, {"DATA/z.txt", 1, 1}}));
    WriteArchive(root, dir, "b.olm", Index({{"x", 2, 2}, {"y", 2, 2}}));
    WriteArchive(root, dir, "A.olm", Index({{"x", 3, 3}}));
    auto manager = ArchiveVersionManager::Create(dir, root.Path().string().c_str());
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->Archives().size(), 3u);
    LogCapture log;
    EXPECT_EQ(Find(*manager, "x"), (Found{true, dir + "/A.olm.dat", 3, 3}));
    EXPECT_EQ(Find(*manager, "y"), (Found{true, dir + "/b.olm.dat", 2, 2}));
    EXPECT_EQ(Find(*manager, "data/Z.TXT"), (Found{true, dir + "/_a.olm.dat", 1, 1}));
    const std::string find = "Tarn::VELL::Reader::ArchiveVersionManager::Find: ";
    EXPECT_EQ(Find(*manager, "DATA/b.txt"), (Found{false, "", 0, 0}));
    EXPECT_TRUE(TarnTest::Logged(log, 0, LogCapture::kTraceTags, find + "Failed to find file <DATA/b.txt>"));
    EXPECT_EQ(Find(*manager, ""), (Found{false, "", 0, 0}));
    EXPECT_TRUE(log.InOrder({find + "Empty name", find + "Failed to find file <>"}));
    EXPECT_EQ(log.Texts(1), Texts{find + "Empty name"});

    // An empty index path is refused before anything could be deleted.
    TarnTest::ScopedCalls calls;
    CountDeletes();
    log.Clear();
    EXPECT_EQ(ArchiveVersionManager::LoadArchiveFile("", root.Path().string().c_str()), nullptr);
    EXPECT_EQ(ArchiveVersionManager::LoadArchiveFile(nullptr, root.Path().string().c_str()), nullptr);
    EXPECT_EQ(log.Texts(1), (Texts{kLoad + "Empty file name", kLoad + "Empty file name"}));
    EXPECT_EQ(gDeletes, 0);
}

TEST(ArchiveManager, ReportsADirectoryWithoutArchivesOnEveryRequestAndRemembersNothing)
{
    TempDir root;
    const std::string dir = ArchiveDir(root, "Game", "1.2.3.4");
    const std::string none = kCreate + "No valid archive files were found in the directory: " + dir + "/*.olm";
    const std::string failed = "Tarn::VELL::Reader::ArchiveManager::GetVersionManager: Failed to create file system manager for "
                               "project \"Game\" and release 1.2.3.4";
    fs::create_directories(dir + "/x.olm");  // a subdirectory named like an index is no index
    ArchiveManager archives;
    LogCapture log;
    EXPECT_EQ(archives.GetVersionManager(root.Path().string().c_str(), "Game", 0x01020304), nullptr);
    EXPECT_EQ(archives.GetVersionManager(root.Path().string().c_str(), "Game", 0x01020304), nullptr);
    EXPECT_EQ(log.Texts(1), (Texts{none, failed, none, failed}));

    // An index without entries is deleted, and leaves the directory as empty as before.
    const std::string empty = WriteArchive(root, dir, "empty.olm", Index({}));
    log.Clear();
    EXPECT_EQ(archives.GetVersionManager(root.Path().string().c_str(), "Game", 0x01020304), nullptr);
    EXPECT_EQ(log.Texts(1), (Texts{kLoad + "Zero sized archive " + empty + " will be deleted and ignored", none, failed}));
    EXPECT_TRUE(!fs::exists(empty) && fs::exists(empty + ".dat"));

    WriteArchive(root, dir, "late.olm", Index({{"x", 0, 1}}));
    ArchiveVersionManager* manager = archives.GetVersionManager(root.Path().string().c_str(), "Game", 0x01020304);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->Directory(), dir);
    EXPECT_EQ(manager->Archives().size(), 1u);
    EXPECT_TRUE(fs::is_directory(dir + "/x.olm"));
}

// A directory whose search pattern would not fit in a path is not searched at all: cut short,
// the pattern would search the directory itself or its parent.
TEST(ArchiveManager, SearchesNoPatternCutShort)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the layout's own paths would pass MAX_PATH, which the test cannot write without long-path support";
#endif
    TempDir root;
    const std::string base = ArchiveDir(root, "", "");
    for (const std::size_t room : {0, 1, 8, 12}) {
        const std::size_t length = Tarn::kMaxPath - base.size() - room - 4;  // the pattern adds "/*.olm"
        const std::string dir = ArchiveDir(root, std::string(length - 8, 'p'), "0.0.0.1");
        WriteArchive(root, dir, "a.olm", Index({{"x", 0, 1}}));
        TarnTest::ScopedCalls calls;
        static std::vector<std::string> searched;
        searched.clear();
        Win32::gCalls.FindFirstFileA = [](Win32::LPCSTR pattern, auto... rest) {
            searched.emplace_back(pattern);
            return Win32::DefaultCalls().FindFirstFileA(pattern, rest...);
        };
        Win32::gCalls.FindFirstFileExA = [](Win32::LPCSTR pattern, auto... rest) {
            searched.emplace_back(pattern);
            return Win32::DefaultCalls().FindFirstFileExA(pattern, rest...);
        };
        LogCapture log;
        auto manager = ArchiveVersionManager::Create(dir, root.Path().string().c_str());
        const std::string pattern = dir + "/*.olm";
        if (pattern.size() < Tarn::kMaxPath) {
            EXPECT_NE(manager, nullptr) << pattern.size();
        } else {
            EXPECT_EQ(manager, nullptr) << pattern.size();
            EXPECT_EQ(log.Texts(1), Texts{kCreate + "Failed to find the directory: " + pattern});
        }
        for (const std::string& s : searched) EXPECT_EQ(s, pattern) << "searched a pattern cut short";
    }
}

TEST(ArchiveManager, CachesOneManagerPerExactProjectNameAndVersion)
{
    TempDir root;
    WriteArchive(root, ArchiveDir(root), "a.olm", Index({{"x", 0, 1}}));
    const std::string rootPath = root.Path().string();
    ArchiveManager archives;
    LogCapture log;
    ArchiveVersionManager* first = archives.GetVersionManager(rootPath.c_str(), "Game", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(archives.GetVersionManager(rootPath.c_str(), "Game", 1), first);
    // Another spelling of the name is another key, though the disk finds the same directory.
    ArchiveVersionManager* other = archives.GetVersionManager(rootPath.c_str(), "GAME", 1);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);
    EXPECT_EQ(other->Directory(), ArchiveDir(root, "GAME"));
    EXPECT_EQ(archives.GetVersionManager(rootPath.c_str(), "GAME", 1), other);
    EXPECT_EQ(archives.GetVersionManager(rootPath.c_str(), "Game", 1), first);
    EXPECT_EQ(archives.GetVersionManager(rootPath.c_str(), "Game", 2), nullptr);
    EXPECT_EQ(log.Count(kCreate + "(" + ArchiveDir(root) + ")"), 1u);
    EXPECT_EQ(log.Count(kCreate + "(" + ArchiveDir(root, "GAME") + ")"), 1u);
}
