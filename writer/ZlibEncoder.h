// A reusable zlib (RFC 1950) compressor. One deflate state serves any number of inputs, so
// packing many small files does not allocate zlib's state and window once per file.
// An object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace Tarn::VELL::Writer {

class ZlibEncoder {
public:
    // level: 0 to 9, or -1 for zlib's default (std::invalid_argument otherwise).
    explicit ZlibEncoder(int level = 6);
    ~ZlibEncoder();
    ZlibEncoder(const ZlibEncoder&) = delete;
    ZlibEncoder& operator=(const ZlibEncoder&) = delete;

    // Appends one complete zlib stream (header, deflate data, Adler-32) of the bytes to out.
    // Throws std::runtime_error if zlib fails (only when memory runs out).
    void Compress(const char* data, size_t size, std::string& out);

private:
    struct State;
    std::unique_ptr<State> mState;
};

}  // namespace Tarn::VELL::Writer
