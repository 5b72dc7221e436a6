#include <string>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/Codecs.h"
#include "writer/LzmaEncoder.h"
#include "writer/Sample.h"
#include "writer/ZlibEncoder.h"

using namespace Tarn::VELL::Writer;

namespace {
std::string Bytes(const std::string& label, size_t size) { return SampleContent("codec", 1, label, size); }
}  // namespace

TEST(CodecWriter, ZlibStreamsInflateToTheOriginalBytes)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{5000}, size_t{300000}}) {
        const std::string original = Bytes("z.bin", size);
        const std::string stream = CompressZlib(original);
        ASSERT_GE(stream.size(), 2u);
        EXPECT_EQ(static_cast<uint8_t>(stream[0]) & 0x0F, 8) << "zlib header names deflate";
        EXPECT_EQ(WriterTest::Inflate(stream, size), original) << size;
    }
}

TEST(CodecWriter, LzmaRecordsDecodeWithTheRawLzma2DecoderUpToTheirEndMarker)
{
    // 262144 is exactly one reader block; 400000 spans blocks and 64 KiB input chunks.
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{262144}, size_t{400000}}) {
        const std::string original = Bytes("l.bin", size);
        const std::string record = CompressLzmaRecord(original, 1u << 20);
        ASSERT_GE(record.size(), 10u);
        EXPECT_EQ(static_cast<uint8_t>(record[0]), 16) << "1 MiB dictionary";
        uint64_t written = 0;
        for (int i = 8; i >= 1; --i) written = (written << 8) | static_cast<uint8_t>(record[i]);
        EXPECT_EQ(written, size);
        EXPECT_EQ(record.back(), '\0') << "LZMA2 end marker";
        EXPECT_EQ(WriterTest::DecodeLzmaRecord(record, size), original) << size;
    }
}

TEST(CodecWriter, IncompressibleDataStillRoundTrips)
{
    std::string noise(200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    EXPECT_EQ(WriterTest::Inflate(CompressZlib(noise), noise.size()), noise);
    EXPECT_EQ(WriterTest::DecodeLzmaRecord(CompressLzmaRecord(noise, 4096), noise.size()), noise);
}

TEST(CodecWriter, LzmaDictionaryPropertyIsTheSmallestThatHoldsTheSize)
{
    EXPECT_EQ(LzmaDictionaryProperty(0), 0);
    EXPECT_EQ(LzmaDictionaryProperty(4096), 0);
    EXPECT_EQ(LzmaDictionaryProperty(4097), 1);
    EXPECT_EQ(LzmaDictionaryProperty(6144), 1);
    EXPECT_EQ(LzmaDictionaryProperty(6145), 2);
    EXPECT_EQ(LzmaDictionaryProperty(1u << 20), 16);
    EXPECT_EQ(LzmaDictionaryProperty(3u << 19), 17);
    EXPECT_EQ(LzmaDictionaryProperty(3u << 30), 39);
    EXPECT_EQ(LzmaDictionaryProperty(0xFFFFFFFFu), 40);
    EXPECT_EQ(LzmaDictionarySize(40), 0xFFFFFFFFu);
}

TEST(CodecWriter, ReusedEncodersGiveTheBytesOfFreshOnes)
{
    // State left over from an earlier file must not leak into the next one.
    const std::string first = Bytes("first.bin", 70000);
    const std::string second = Bytes("second.bin", 3000);
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
