#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/ArchiveIndex.h"
#include "writer/ArchivePath.h"
#include "writer/Codecs.h"
#include "writer/LzmaEncoder.h"
#include "writer/Sample.h"
#include "writer/Version.h"
#include "writer/ZlibEncoder.h"

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

TEST(VersionWriter, PacksFormatsAndStrictlyParsesTheDottedForm)
{
    EXPECT_EQ(PackVersion(0, 0, 0, 118), 0x00000076u);
    EXPECT_EQ(PackVersion(1, 2, 3, 4), 0x01020304u);
    EXPECT_EQ(FormatVersion(0x01000000), "1.0.0.0");
    EXPECT_EQ(FormatVersion(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(ParseVersion("0.0.0.118"), 0x00000076u);
    EXPECT_EQ(ParseVersion("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.0.0", "1.0.0.256", "-1.0.0.0", "1.0.0.0xyz", " 1.0.0.0", "1..0.0", "1.0.0.0.0", "0001.0.0.0"})
        EXPECT_FALSE(ParseVersion(bad)) << bad;
    EXPECT_THROW(PackVersion(256, 0, 0, 0), std::invalid_argument);
}

// 262144 is exactly one reader block; 400000 spans blocks and 64 KiB input chunks; noise
// does not compress.
TEST(CodecWriter, ZlibStreamsAndLzmaRecordsDecodeToTheOriginalBytes)
{
    auto Bytes = [](const std::string& label, size_t size) { return SampleContent("codec", 1, label, size); };
    std::string noise(200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    for (const std::string& original : {Bytes("a", 0), Bytes("b", 1), Bytes("c", 4096), Bytes("d", 262144), Bytes("e", 400000), noise}) {
        const size_t size = original.size();
        EXPECT_EQ(WriterTest::Inflate(CompressZlib(original), size), original) << size;
        const std::string record = CompressLzmaRecord(original, 1u << 20);
        ASSERT_GE(record.size(), 10u);
        EXPECT_EQ(static_cast<uint8_t>(record[0]), 16) << "1 MiB dictionary";
        uint64_t written = 0;
        for (int i = 8; i >= 1; --i) written = (written << 8) | static_cast<uint8_t>(record[i]);
        EXPECT_EQ(written, size);
        EXPECT_EQ(WriterTest::DecodeLzmaRecord(record, size), original) << size;
    }
    EXPECT_EQ(WriterTest::DecodeLzmaRecord(CompressLzmaRecord(noise, 4096), noise.size()), noise);
}

TEST(CodecWriter, LzmaDictionaryPropertyIsTheSmallestThatHoldsTheSize)
{
    const std::pair<uint32_t, int> properties[] = {{0, 0},         {4096, 0},        {4097, 1},        {6144, 1},
                                                   {6145, 2},      {1u << 20, 16},   {3u << 19, 17},   {3u << 30, 39},
                                                   {0xFFFFFFFFu, 40}};
    for (const auto& [size, property] : properties) EXPECT_EQ(LzmaDictionaryProperty(size), property) << size;
    EXPECT_EQ(LzmaDictionarySize(40), 0xFFFFFFFFu);
}

TEST(CodecWriter, ReusedEncodersGiveTheBytesOfFreshOnes)
{
    // State left over from an earlier file must not leak into the next one.
    const std::string first = SampleContent("codec", 1, "first.bin", 70000), second = SampleContent("codec", 1, "second.bin", 3000);
    ZlibEncoder zlib;
    LzmaEncoder lzma;
    std::string ignored, zlibSecond, lzmaSecond;
    zlib.Compress(first.data(), first.size(), ignored);
    lzma.CompressRecord(first.data(), first.size(), ignored);
    zlib.Compress(second.data(), second.size(), zlibSecond);
    lzma.CompressRecord(second.data(), second.size(), lzmaSecond);
    EXPECT_EQ(zlibSecond, CompressZlib(second));
    EXPECT_EQ(lzmaSecond, CompressLzmaRecord(second));
}
