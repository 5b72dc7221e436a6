#include "writer/LzmaEncoder.h"

#include <algorithm>
#include <stdexcept>

#include <lzma.h>

#include "writer/ByteOrder.h"
#include "writer/Codecs.h"

namespace Tarn::VELL::Writer {

namespace {
constexpr uint32_t kMinimumDictionary = 4096;
constexpr uint32_t kMaximumDictionary = (1u << 30) + (1u << 29);  // liblzma's encoder limit
}  // namespace

struct LzmaEncoder::State {
    lzma_stream stream = LZMA_STREAM_INIT;
};

LzmaEncoder::LzmaEncoder(uint32_t dictionarySize, uint32_t preset)
    : mState(std::make_unique<State>()), mDictionarySize(std::max(dictionarySize, kMinimumDictionary)), mPreset(preset)
{
    if (mDictionarySize > kMaximumDictionary)
        throw std::invalid_argument("LZMA dictionary size " + std::to_string(dictionarySize) +
                                    " is above the encoder's maximum of 1.5 GiB");
    if (preset > 9) throw std::invalid_argument("LZMA preset must be 0 to 9, got " + std::to_string(preset));
}

LzmaEncoder::~LzmaEncoder() { lzma_end(&mState->stream); }

void LzmaEncoder::CompressRecord(const char* data, size_t size, std::string& out)
{
    out.push_back(static_cast<char>(LzmaDictionaryProperty(mDictionarySize)));
    AppendU64(out, size);
    CompressRaw(data, size, out);
}

void LzmaEncoder::CompressRaw(const char* data, size_t size, std::string& out)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, mPreset)) throw std::runtime_error("liblzma: unsupported preset");
    const uint64_t fitting = std::max<uint64_t>(size, kMinimumDictionary);
    options.dict_size = static_cast<uint32_t>(std::min<uint64_t>(mDictionarySize, fitting));
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream& stream = mState->stream;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) throw std::runtime_error("liblzma: cannot create the LZMA2 encoder");

    const size_t start = out.size();
    // Incompressible data grows by a few bytes per 64 KiB chunk; the loop grows further if needed.
    size_t capacity = size + size / 1024 + 64;
    out.resize(start + capacity);
    stream.next_in = reinterpret_cast<const uint8_t*>(data);
    stream.avail_in = size;
    size_t produced = 0;
    for (;;) {
        stream.next_out = reinterpret_cast<uint8_t*>(out.data() + start + produced);
        stream.avail_out = capacity - produced;
        const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
        produced = capacity - stream.avail_out;
        if (result == LZMA_STREAM_END) break;
        if (result != LZMA_OK) throw std::runtime_error("liblzma: LZMA2 encoding failed (code " + std::to_string(result) + ")");
        if (stream.avail_out == 0) {
            capacity += capacity / 2 + 1024;
            out.resize(start + capacity);
        }
    }
    out.resize(start + produced);
}

}  // namespace Tarn::VELL::Writer
