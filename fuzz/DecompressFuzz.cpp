// A zlib or LZMA entry of any bytes and any declared size decodes into blocks exactly as the codec's own one-shot decoder decodes it, or fails where that decoder fails.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <lzma.h>
#include <zlib.h>

#include "FuzzSupport.h"
#include "platform/Win32.h"
#include "reader/ProjectListing.h"
#include "reader/UncompressedBlocks.h"

using namespace Tarn::VELL::Reader;

namespace {

constexpr std::uint32_t kLargestDeclared = 0x7FFFF;

// The reference decode of the whole entry into exactly `size` bytes: true when the stream
// ends exactly at the end of the entry and fills the output exactly.
bool ReferenceDecode(bool lzma, const std::uint8_t* entry, std::size_t entrySize, std::uint8_t* out, std::size_t size)
{
    if (!lzma) {
        uLongf produced = static_cast<uLongf>(size);
        uLong consumed = static_cast<uLong>(entrySize);
        return uncompress2(out, &produced, entry, &consumed) == Z_OK && produced == size && consumed == entrySize;
    }
    if (entrySize < 9 || entry[0] > 40) return false;
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT);
    // The property's dictionary, never more than the file could use.
    const std::uint64_t named = entry[0] == 40 ? 0xFFFFFFFFu : std::uint64_t{2u | (entry[0] & 1u)} << (entry[0] / 2 + 11);
    options.dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(named, std::max<std::uint64_t>(size, LZMA_DICT_SIZE_MIN)));
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return false;
    stream.next_in = entry + 9;
    stream.avail_in = entrySize - 9;
    stream.next_out = out;
    stream.avail_out = size;
    lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    std::uint8_t spare = 0;
    if (result == LZMA_OK && stream.avail_out == 0) {  // full: only the end marker may follow
        stream.next_out = &spare;
        stream.avail_out = 1;
        result = lzma_code(&stream, LZMA_FINISH);
        if (stream.avail_out == 0) result = LZMA_DATA_ERROR;
    }
    const bool complete = result == LZMA_STREAM_END && stream.avail_in == 0 && stream.total_out == size;
    lzma_end(&stream);
    return complete;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = (TarnFuzz::QuietLogging(), TarnFuzz::ScratchDir() + "/entry.dat");
    if (size < TarnFuzz::kDecodeHeaderSize) return 0;
    // Byte 0: bit 0 the codec, the rest the number of bytes before the entry; bytes 1 to 3 the
    // declared uncompressed size (19 bits: up to two blocks, and no time lost on huge ones).
    const bool lzma = data[0] & 1;
    const std::uint32_t padding = data[0] >> 1;
    const std::uint32_t declared = data[1] | (std::uint32_t{data[2]} << 8) | ((std::uint32_t{data[3]} << 16) & kLargestDeclared);
    const std::uint8_t* entry = data + TarnFuzz::kDecodeHeaderSize;
    const std::uint32_t entrySize = static_cast<std::uint32_t>(size - TarnFuzz::kDecodeHeaderSize);

    std::string file(padding, '\xA5');
    file.append(reinterpret_cast<const char*>(entry), entrySize).append(16, '\x5A');
    TarnFuzz::WriteFile(path, file);
    Win32::HANDLE handle = Win32::CreateFileA(path.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr,
                                              Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr);
    FUZZ_CHECK(handle != Win32::INVALID_HANDLE_VALUE);

    UncompressedBlocks blocks(kArchiveBlockSize);
    const bool decoded = blocks.Load(lzma ? kCompressionLzma : kCompressionZlib, handle, padding, 0, entrySize, declared);
    Win32::CloseHandle(handle);
    if (declared == 0) {
        FUZZ_CHECK(decoded && blocks.TotalSize() == 0);
        return 0;
    }
    static std::vector<std::uint8_t> expected(kLargestDeclared), copy(kLargestDeclared);
    FUZZ_CHECK(decoded == ReferenceDecode(lzma, entry, entrySize, expected.data(), declared));
    if (decoded) {
        FUZZ_CHECK(blocks.TotalSize() == declared);
        FUZZ_CHECK(blocks.CopyOut(copy.data(), 0, declared) == declared);
        FUZZ_CHECK(std::memcmp(copy.data(), expected.data(), declared) == 0);
    }
    return 0;
}
