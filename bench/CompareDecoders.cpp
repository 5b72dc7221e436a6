#include "bench/CompareDecoders.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>

#include "bench/CompareMeasure.h"
#include "writer/Codecs.h"

namespace TarnCompare {

std::int64_t Uncompress(const std::string& stream, std::uint8_t* out)
{
    uLongf size = kSmallCapacity;
    if (uncompress(out, &size, reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size())) != Z_OK)
        return -1;
    return static_cast<std::int64_t>(size);
}

// An LZMA record: property byte, 64-bit little-endian size, raw LZMA2 stream with end marker.
// The dictionary is sized as the library sizes it: the property's, but no larger than the file.
std::int64_t DecodeLzmaRecord(const std::string& record, std::uint8_t* out)
{
    if (record.size() < 9) return -1;
    const auto property = static_cast<std::uint8_t>(record[0]);
    std::uint64_t size = 0;
    for (int i = 8; i >= 1; --i) size = size << 8 | static_cast<std::uint8_t>(record[i]);
    if (property > 40 || size > kSmallCapacity) return -1;
    lzma_options_lzma options{};
    options.dict_size = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(Tarn::VELL::Writer::LzmaDictionarySize(property), std::max<std::uint64_t>(size, 4096)));
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::size_t in = 9, produced = 0;
    const lzma_ret result = lzma_raw_buffer_decode(filters, nullptr, reinterpret_cast<const std::uint8_t*>(record.data()),
                                                   &in, record.size(), out, &produced, size);
    return result == LZMA_OK && produced == size ? static_cast<std::int64_t>(produced) : -1;
}

}  // namespace TarnCompare
