// Path processing: the path of a listing entry, matching virtual paths, and where managed and
// naked files lie on disk.
#include <cstring>

#include "CStd/CStd.h"
#include "reader/PathProcessors.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;
using Listing = ProjectListing;

namespace {

const std::string kNakedFileName = "Tarn::VELL::Reader::ProjectListing::GetNakedFile: ";

// Records linked as a listing links them: data/sub/a.txt, and top.bin directly below the root.
struct Tree {
    Listing::DirectoryRecord root{}, data{}, sub{};
    Listing::FileRecord file{}, top{};

    explicit Tree(const char* rootName = "")
    {
        root.name = rootName, data.name = "data", sub.name = "sub", file.name = "a.txt", top.name = "top.bin";
        data.parent = &root, sub.parent = &data, file.parent = &sub, top.parent = &root;
    }
};

std::string NakedFile(std::uint32_t fileType, const char* projectRoot, std::uint32_t releaseVersion, std::uint32_t fileVersion,
                      const std::string& name)
{
    char out[Tarn::kMaxPath];
    if (!Listing::GetNakedFile(out, fileType, projectRoot, releaseVersion, fileVersion, name.c_str())) return "<refused>";
    return out;
}

}  // namespace

TEST(EntryPath, JoinsTheNamesBelowTheRootUpTo259CharactersAndGivesTheRootItsOwnName)
{
    Tree tree("R"), unnamed;
    PathLengthProcessor length;
    WalkPath(&tree.file, length);
    EXPECT_EQ(length.length, 14u);
    char buffer[Tarn::kMaxPath];
    ASSERT_TRUE(GetEntryPath(&tree.file, buffer));
    EXPECT_STREQ(buffer, "data/sub/a.txt");
    EXPECT_EQ(GetEntryPathString(&tree.top), "top.bin");
    EXPECT_EQ(GetEntryPathString(&tree.root), "R");
    EXPECT_EQ(GetEntryPathString(&unnamed.root), "");
    EXPECT_FALSE(GetEntryPath(&tree.file, nullptr));

    const std::string directory(200, 'd'), fits(58, 'f'), tooLong(59, 'f');
    tree.data.name = directory.c_str();
    tree.file.parent = &tree.data;
    tree.file.name = fits.c_str();
    ASSERT_TRUE(GetEntryPath(&tree.file, buffer));
    EXPECT_EQ(std::string(buffer), directory + "/" + fits);
    tree.file.name = tooLong.c_str();
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_FALSE(GetEntryPath(&tree.file, buffer));
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(sizeof(buffer), '#')) << "the buffer was written to";
    EXPECT_EQ(GetEntryPathString(&tree.file), "");
}

TEST(PathMatching, IgnoresAsciiCaseAndAllowsOneLeadingSlashButNothingElse)
{
    const Tree tree, named("R");
    const std::pair<const char*, bool> cases[] = {
        {"data/sub/a.txt", true},   {"DATA/SUB/A.TXT", true},    {"/data/sub/a.txt", true},  {"sub/a.txt", false},
        {"x/data/sub/a.txt", false}, {"xdata/sub/a.txt", false}, {"data\\sub\\a.txt", false}, {"//data/sub/a.txt", false},
        {"data//sub/a.txt", false}, {"data/sub/a.txt/", false},  {"data/sub/a.tx", false},   {"", false},
    };
    for (const auto& [path, matches] : cases) EXPECT_EQ(PathMatches(&tree.file, path), matches) << path;
    EXPECT_TRUE(PathMatches(&tree.top, "/TOP.BIN"));
    EXPECT_FALSE(PathMatches(&tree.top, "data/top.bin"));
    EXPECT_TRUE(PathMatches(&tree.data, "Data"));
    // The root answers to its own name, so an unnamed root to the empty path alone.
    EXPECT_TRUE(PathMatches(&tree.root, ""));
    EXPECT_FALSE(PathMatches(&tree.root, "data"));
    EXPECT_FALSE(PathMatches(&named.root, ""));
}

TEST(NakedFilePaths, PlaceEachKindBelowTheProjectWithItsVersionAndKeepFoundDataFilesUpTo259Characters)
{
    LogCapture log;
    const char* project = "R/projects/P";
    EXPECT_EQ(NakedFile(kFileTypeManaged, project, 7, 0x01020304, "data/a.bin"), "R/projects/P/managedfiles/1.2.3.4/data/a.bin");
    EXPECT_EQ(NakedFile(kFileTypeArchiveData, project, 7, 0x01020304, "d_000.olm.dat"),
              "R/projects/P/filearchives/1.2.3.4/d_000.olm.dat");
    EXPECT_EQ(NakedFile(kFileTypeArchiveData, project, 7, 0x01020304, "/abs/VELL/d.olm.dat"), "/abs/VELL/d.olm.dat");
    EXPECT_EQ(NakedFile(kFileTypeNaked, "R\\projects\\P", 0xFF000A00, 0, "data\\a.bin"),
              "R/projects/P/releases/255.0.10.0/deploy/data/a.bin");
    // R/projects/P/releases/0.0.0.7/deploy/ takes 37 characters.
    EXPECT_EQ(NakedFile(kFileTypeNaked, project, 7, 0, std::string(222, 'n')).size(), 259u);
    EXPECT_TRUE(log.Texts().empty()) << log.Dump();

    const std::string name(223, 'n');
    const std::string tooLong = kNakedFileName + "The path is too long: R/projects/P/";
    EXPECT_EQ(NakedFile(kFileTypeNaked, project, 7, 0x01020304, name), "<refused>");
    EXPECT_TRUE(LoggedError(log, tooLong + "releases/0.0.0.7/deploy/" + name));
    EXPECT_EQ(NakedFile(kFileTypeArchiveData, project, 7, 0x01020304, name + "abcdef"), "<refused>");
    EXPECT_TRUE(LoggedError(log, tooLong + "filearchives/1.2.3.4/" + name + "abcdef"));
    EXPECT_EQ(NakedFile(kFileTypeManaged, project, 7, 0x01020304, name + "abcdef"), "<refused>");
    EXPECT_TRUE(LoggedError(log, tooLong + "managedfiles/1.2.3.4/" + name + "abcdef"));
    log.Clear();
    EXPECT_EQ(NakedFile(3, project, 7, 7, "a.bin"), "<refused>");
    EXPECT_EQ(log.Texts(), std::vector<std::string>{kNakedFileName + "Invalid file type."});

    // A data file's path as found is kept, with slashes, and must fit as well.
    log.Clear();
    char out[Tarn::kMaxPath];
    ASSERT_TRUE(BuildArchiveDataPath(out, "VELL/projects/P", 1, "VELL\\projects\\P\\filearchives\\0.0.0.1\\d_000.olm.dat"));
    EXPECT_STREQ(out, "VELL/projects/P/filearchives/0.0.0.1/d_000.olm.dat");
    ASSERT_TRUE(BuildArchiveDataPath(out, "VELL/projects/P", 1, std::string(259, 'p').c_str()));
    EXPECT_EQ(std::strlen(out), 259u);
    EXPECT_TRUE(log.Texts().empty()) << log.Dump();
    EXPECT_FALSE(BuildArchiveDataPath(out, "VELL/projects/P", 1, std::string(260, 'p').c_str()));
    EXPECT_TRUE(
        LoggedError(log, kNakedFileName + "The path is too long: VELL/projects/P/filearchives/0.0.0.1/" + std::string(260, 'p')));
}
