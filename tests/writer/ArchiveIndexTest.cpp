#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/ArchiveIndex.h"
#include "writer/ArchivePath.h"

using namespace Tarn::VELL::Writer;

TEST(ArchiveWriter, ProducesTheOneEntryExampleByteForByte)
{
    const unsigned char expected[58] = {
        0xF0, 0x0E, 0xBE, 0x18, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x28, 0, 0, 0,  // header
        0x01, 0, 0, 0, 0x78, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0,              // file list
        0, 0, 0, 0, 0x01, 0, 0, 0, 0x10, 0, 0, 0, 0x01, 0, 0, 0,                          // path list
        0x78, 0x00};
    EXPECT_EQ(BuildArchiveIndex({{"x", 0, 5}}), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(ArchiveWriter, OrdersEntriesByHashThenCaseInsensitivePath)
{
    // "aq" and "ba" share an ELF hash (0x61*16 + 0x71 == 0x62*16 + 0x61). Byte-wise, "Ba"
    // would come before "aq"; case-insensitively it comes after.
    ASSERT_EQ(HashArchivePath("aq"), HashArchivePath("Ba"));
    std::vector<IndexEntry> entries = {
        {"Ba", 10, 1}, {"DATA/Characters/x.dds", 20, 2}, {"aq", 30, 3}, {"data/a.txt", 40, 4}, {"\xE9", 50, 5}};
    for (int round = 0; round < 2; ++round) {
        const WriterTest::ArchiveIndex index = WriterTest::ParseIndex(BuildArchiveIndex(entries));
        EXPECT_EQ(index.magic, kArchiveMagic);
        EXPECT_EQ(index.version, 1u);
        ASSERT_EQ(index.entries.size(), entries.size());
        for (size_t i = 0; i < index.entries.size(); ++i) {
            const WriterTest::IndexEntry& entry = index.entries[i];
            EXPECT_EQ(entry.hash, HashArchivePath(entry.path));
            if (i > 0) {
                EXPECT_LE(index.entries[i - 1].hash, entry.hash);
            }
            // Every entry keeps its own range whatever place it sorts to.
            auto given = std::find_if(entries.begin(), entries.end(), [&](const IndexEntry& e) { return e.path == entry.path; });
            ASSERT_NE(given, entries.end());
            EXPECT_EQ(entry.offset, given->dataOffset);
            EXPECT_EQ(entry.size, given->dataSize);
        }
        auto at = [&](const std::string& path) {
            for (size_t i = 0; i < index.entries.size(); ++i)
                if (index.entries[i].path == path) return i;
            return index.entries.size();
        };
        EXPECT_EQ(at("Ba"), at("aq") + 1);
        std::reverse(entries.begin(), entries.end());  // the given order must not matter
    }
}
