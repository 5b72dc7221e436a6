// The archive index: the worked one-file index, lookups ignoring ASCII case, paths that share
// a hash, refusals of headers and tables that do not fit, and the sum of the entry sizes.
#include <map>

#include "reader/ArchiveFile.h"
#include "writer/ArchiveIndex.h"

#include "ReaderTestSupport.h"

using Tarn::VELL::Reader::ArchiveFile;
using namespace ReaderTest;

namespace {

struct Range {
    bool found;
    uint32_t offset, size;
    bool operator==(const Range&) const = default;
};
constexpr Range kUntouched{false, 0xDEAD, 0xBEEF};

// Searches with sentinels in the outputs, so that an untouched output shows.
Range Lookup(const ArchiveFile& archive, const char* path)
{
    Range r = kUntouched;
    r.found = archive.Search(path, &r.offset, &r.size);
    return r;
}

}  // namespace

TEST(ArchiveFile, ReadsTheWorkedIndexOfOneFile)
{
    // One file "x", 5 bytes at offset 0: file list at 20, path list at 40, the path at 56.
    const unsigned char bytes[58] = {0xF0, 0x0E, 0xBE, 0x18, 1, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x28, 0, 0, 0,
                                     1,    0,    0,    0,    0x78, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0,
                                     0,    0,    0,    0,    1, 0, 0, 0, 0x10, 0, 0, 0, 1, 0, 0, 0, 0x78, 0};
    TempDir dir;
    ArchiveFile archive(dir.Write("a.olm", std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes))));
    LogCapture log;
    bool invalid = false;
    ASSERT_TRUE(archive.Read(&invalid)) << log.Dump();
    EXPECT_FALSE(invalid);
    EXPECT_EQ(archive.Version(), 1u);
    EXPECT_EQ(archive.EntryCount(), 1u);
    EXPECT_EQ(archive.TotalDataSize(), 5u);
    EXPECT_STREQ(archive.EntryPath(0), "x");
    EXPECT_EQ(Lookup(archive, "x"), (Range{true, 0, 5}));
    EXPECT_EQ(Lookup(archive, "X"), (Range{true, 0, 5}));
    EXPECT_EQ(Lookup(archive, "y"), kUntouched);
    EXPECT_EQ(Lookup(archive, "xx"), kUntouched);
    EXPECT_TRUE(log.Texts(1).empty()) << log.Dump();
}

TEST(ArchiveFile, LookupIgnoresAsciiCaseButNoOtherDifference)
{
    TempDir dir;
    ArchiveFile archive(dir.Write("a.olm", W::BuildArchiveIndex({{"DATA/Characters/x.dds", 10, 20}, {"data/\xE9t\xE9.txt", 30, 40},
                                                                 {"DATA/a_b.txt", 70, 1}, {"", 8, 9}})));
    ASSERT_TRUE(archive.Read(nullptr));
    LogCapture log;
    // Entries are found by the hash that the writer gives them. The empty path is refused, with
    // zeroed outputs, even though an entry has it.
    EXPECT_EQ(Lookup(archive, ""), (Range{false, 0, 0}));
    EXPECT_EQ(log.Texts(1), std::vector<std::string>{"Tarn::VELL::Reader::ArchiveFile::Search: Empty file name"});
    EXPECT_EQ(Lookup(archive, "data/characters/X.DDS"), (Range{true, 10, 20}));
    EXPECT_EQ(Lookup(archive, "Data/\xE9T\xE9.TXT"), (Range{true, 30, 40}));
    EXPECT_EQ(Lookup(archive, "DATA/A_B.TXT"), (Range{true, 70, 1}));
    for (const char* other : {"data/\xC9t\xC9.txt", "DATA\\Characters\\x.dds", "/DATA/Characters/x.dds",
                              "DATA//Characters/x.dds", "DATA/Characters/x.dds ", "DATA/a^b.txt", "DATA/Characters"})
        EXPECT_EQ(Lookup(archive, other), kUntouched) << other;
}

TEST(ArchiveFile, TellsApartPathsWithTheSameHash)
{
    // Three short names that share one hash, found by search.
    std::map<uint32_t, std::vector<std::string>> byHash;
    std::vector<std::string> same;
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz_.";
    for (char a : alphabet)
        for (char b : alphabet) {
            auto& names = byHash[ArchiveFile::HashArchivePath(std::string{'d', a, b}.c_str())];
            names.push_back(std::string{'d', a, b});
            if (names.size() == 3 && same.empty()) same = names;
        }
    ASSERT_EQ(same.size(), 3u);

    TempDir dir;
    ArchiveFile archive(dir.Write("a.olm", W::BuildArchiveIndex({{"zz", 1, 1}, {same[2], 300, 3}, {same[0], 100, 1}, {"0", 2, 2}})));
    ASSERT_TRUE(archive.Read(nullptr));
    EXPECT_EQ(Lookup(archive, same[0].c_str()), (Range{true, 100, 1}));
    EXPECT_EQ(Lookup(archive, same[2].c_str()), (Range{true, 300, 3}));
    EXPECT_EQ(Lookup(archive, same[1].c_str()), kUntouched);
    EXPECT_EQ(Lookup(archive, "zz"), (Range{true, 1, 1}));
}

TEST(ArchiveFile, RefusesHeadersAndTablesThatDoNotFitTheFile)
{
    // One entry "ab": file list at 20, path list at 40, its string record at 48, the string at 56.
    const std::string valid = W::BuildArchiveIndex({{"ab", 0, 8}});
    ASSERT_EQ(valid.size(), 59u);
    const std::string cases[] = {
        Patched(valid, 0, 0x18BE0EF1), Patched(valid, 4, 2),           Patched(valid, 4, 0),
        valid.substr(0, 12),           valid.substr(0, 8),             Patched(valid, 12, 57),
        Patched(valid, 12, 0xFFFFFFFE), Patched(valid, 20, 3),          Patched(valid, 20, 0x10000000),
        Patched(valid, 16, 54),        Patched(valid, 44, 3),          Patched(valid, 44, 0x20000000),
        Patched(valid, 48, 19),        Patched(valid, 48, 0xFFFFFFF0), valid.substr(0, 58),
    };
    TempDir dir;
    for (size_t i = 0; i < std::size(cases); ++i) {
        ArchiveFile archive(dir.Write("bad.olm", cases[i]));
        LogCapture log;
        bool invalid = false;
        EXPECT_FALSE(archive.Read(&invalid)) << i;
        EXPECT_TRUE(invalid) << i;
        EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ArchiveFile::Read: Incorrect magic value or version, invalid archive " +
                                         archive.Filename()))
            << i;
        EXPECT_EQ(Lookup(archive, "ab"), kUntouched) << i;
        // Nothing of the refused tables stays visible to the diagnostics.
        EXPECT_EQ(archive.EntryCount(), 0u) << i;
    }
}

TEST(ArchiveFile, SumsEntrySizesWithoutWrappingAndServesOnlyEntriesWithPathsAndContent)
{
    TempDir dir;
    ArchiveFile none(dir.Write("none.olm", W::BuildArchiveIndex({})));
    ASSERT_TRUE(none.Read(nullptr));
    EXPECT_EQ(none.TotalDataSize(), 0u);
    EXPECT_EQ(Lookup(none, "a"), kUntouched);

    ArchiveFile big(dir.Write("big.olm", W::BuildArchiveIndex({{"a", 0, 0x80000000}, {"b", 0x80000000, 0x80000000}})));
    ASSERT_TRUE(big.Read(nullptr));
    EXPECT_EQ(big.TotalDataSize(), 0x100000000u);
    EXPECT_EQ(Lookup(big, "B"), (Range{true, 0x80000000, 0x80000000}));

    // Entries that together hold nothing are found but not served.
    ArchiveFile empty(dir.Write("empty.olm", W::BuildArchiveIndex({{"a", 0, 0}})));
    ASSERT_TRUE(empty.Read(nullptr));
    EXPECT_EQ(Lookup(empty, "a"), (Range{false, 0, 0}));

    // Entries "a" at 24 and "b" at 40; b's path index (at 52) is moved past the two paths.
    ArchiveFile pathless(dir.Write("a.olm", Patched(W::BuildArchiveIndex({{"b", 4, 4}, {"a", 0, 4}}), 52, 2)));
    ASSERT_TRUE(pathless.Read(nullptr));
    EXPECT_STREQ(pathless.EntryPath(0), "a");
    EXPECT_EQ(pathless.EntryPath(1), nullptr);
    EXPECT_EQ(Lookup(pathless, "a"), (Range{true, 0, 4}));
    EXPECT_EQ(Lookup(pathless, "b"), kUntouched);
}
