// The writer's archive index: the path hash and comparison, the bytes of the one-entry example,
// and the order of entries.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/ArchiveIndex.h"
#include "writer/ArchivePath.h"

using namespace Tarn::VELL::Writer;

TEST(ArchiveWriter, HashesAndComparesPathsAsTheWorkedExamplesAndStricmpDo)
{
    const std::pair<const char*, uint32_t> hashes[] = {
        {"", 0}, {"abc", 0x00006783u}, {"ABC", 0x00006783u},
        {"data/a.txt", 0x0456F354u}, {"DATA/A.TXT", 0x0456F354u},  // long enough for the top nibble to be folded back in
        {"\xE9", 0x0FFFFF19u}, {"\xC9", 0x0FFFFF39u}};           // high bytes are added sign-extended and never folded
    for (const auto& [path, hash] : hashes) EXPECT_EQ(HashArchivePath(path), hash) << path;
    EXPECT_EQ(CompareNoCase("Data", "dATA"), 0);
    EXPECT_LT(CompareNoCase("_x", "Zeta"), 0);  // '_' (0x5F) lies between 'Z' and 'a': after folding it comes first
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);     // a proper prefix first
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);     // bytes compare unsigned
    EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);  // no folding outside ASCII
}

// Entries are ordered by hash, then by path ignoring ASCII case, whatever the given order.
TEST(ArchiveWriter, ProducesTheOneEntryExampleByteForByteAndOrdersEntries)
{
    const unsigned char example[58] = {
        0xF0, 0x0E, 0xBE, 0x18, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x28, 0, 0, 0,  // header
        0x01, 0, 0, 0, 0x78, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0,              // file list
        0, 0, 0, 0, 0x01, 0, 0, 0, 0x10, 0, 0, 0, 0x01, 0, 0, 0,                          // path list
        0x78, 0x00};
    EXPECT_EQ(BuildArchiveIndex({{"x", 0, 5}}), std::string(reinterpret_cast<const char*>(example), sizeof example));

    // "aq" and "ba" share an ELF hash (0x61*16 + 0x71 == 0x62*16 + 0x61). Byte-wise, "Ba" would
    // come before "aq"; case-insensitively it comes after. Every entry keeps its own range.
    std::vector<IndexEntry> entries = {
        {"Ba", 10, 1}, {"DATA/Characters/x.dds", 20, 2}, {"aq", 30, 3}, {"data/a.txt", 40, 4}, {"\xE9", 50, 5}};
    using Entry = std::tuple<uint32_t, std::string, uint32_t, uint32_t>;
    const std::vector<Entry> expected = {{0x681, "aq", 30, 3}, {0x681, "Ba", 10, 1}, {0x0456F354, "data/a.txt", 40, 4},
                                         {0x08561223, "DATA/Characters/x.dds", 20, 2}, {0x0FFFFF19, "\xE9", 50, 5}};
    for (int round = 0; round < 2; ++round, std::reverse(entries.begin(), entries.end())) {
        std::vector<Entry> written;
        for (const auto& e : WriterTest::ParseIndex(BuildArchiveIndex(entries)).entries) written.emplace_back(e.hash, e.path, e.offset, e.size);
        EXPECT_EQ(written, expected) << "round " << round;
    }
}
