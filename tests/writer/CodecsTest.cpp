// The writer's codecs: zlib streams and LZMA records that decode to the original bytes, the
// LZMA dictionary property, and encoders reused from file to file.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/Codecs.h"
#include "writer/LzmaEncoder.h"
#include "writer/Sample.h"
#include "writer/ZlibEncoder.h"

using namespace Tarn::VELL::Writer;

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
