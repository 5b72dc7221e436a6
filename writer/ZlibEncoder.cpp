#include "writer/ZlibEncoder.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include <zlib.h>

namespace Tarn::VELL::Writer {

struct ZlibEncoder::State {
    z_stream stream{};
};

ZlibEncoder::ZlibEncoder(int level) : mState(std::make_unique<State>())
{
    if (level < -1 || level > 9) throw std::invalid_argument("zlib level must be -1 to 9, got " + std::to_string(level));
    if (deflateInit(&mState->stream, level) != Z_OK) throw std::runtime_error("zlib: deflateInit failed");
}

ZlibEncoder::~ZlibEncoder() { deflateEnd(&mState->stream); }

void ZlibEncoder::Compress(const char* data, size_t size, std::string& out)
{
    z_stream& stream = mState->stream;
    if (deflateReset(&stream) != Z_OK) throw std::runtime_error("zlib: deflateReset failed");
    const size_t start = out.size();
    // deflateBound is enough for a one-call Z_FINISH; the loop covers inputs beyond uInt.
    size_t capacity = static_cast<size_t>(deflateBound(&stream, static_cast<uLong>(size))) + 64;
    out.resize(start + capacity);
    size_t consumed = 0;
    size_t produced = 0;
    for (;;) {
        const size_t inChunk = std::min<size_t>(size - consumed, UINT_MAX);
        const size_t outChunk = std::min<size_t>(capacity - produced, UINT_MAX);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + consumed));
        stream.avail_in = static_cast<uInt>(inChunk);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + start + produced);
        stream.avail_out = static_cast<uInt>(outChunk);
        const int flush = consumed + inChunk == size ? Z_FINISH : Z_NO_FLUSH;
        const int result = deflate(&stream, flush);
        consumed += inChunk - stream.avail_in;
        produced += outChunk - stream.avail_out;
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) throw std::runtime_error("zlib: deflate failed");
        if (produced == capacity) {
            capacity += capacity / 2 + 1024;
            out.resize(start + capacity);
        }
    }
    out.resize(start + produced);
}

}  // namespace Tarn::VELL::Writer
