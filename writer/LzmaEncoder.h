// A reusable LZMA2 compressor producing the archive's LZMA records. liblzma keeps the
// encoder's memory between inputs when the filter chain is set up again on the same stream,
// so many small files do not each pay for a fresh match finder. One thread at a time.
//
// LZMA record layout: byte 0 the LZMA2 dictionary-size property (0 to 40) of the dictionary
// size, bytes 1-8 the uncompressed size as 64-bit little-endian (readers skip them), then a
// raw LZMA2 stream ending with its end marker (a 0x00 control byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Tarn::VELL::Writer {

class LzmaEncoder {
public:
    // dictionarySize is raised to 4096 (LZMA2's minimum) and must not exceed 1.5 GiB, the
    // encoder's maximum (std::invalid_argument otherwise). preset: 0 to 9.
    explicit LzmaEncoder(uint32_t dictionarySize = 1u << 20, uint32_t preset = 6);
    ~LzmaEncoder();
    LzmaEncoder(const LzmaEncoder&) = delete;
    LzmaEncoder& operator=(const LzmaEncoder&) = delete;

    // The dictionary size announced in every record's property byte.
    uint32_t DictionarySize() const { return mDictionarySize; }

    // Appends a whole LZMA record of the bytes to out. The encoder's own dictionary is cut to
    // the input's size when that is smaller: a decoder with the announced (larger) dictionary
    // reads such a stream all the same. Throws std::runtime_error if liblzma fails.
    void CompressRecord(const char* data, size_t size, std::string& out);

    // Appends only the raw LZMA2 stream (with its end marker) to out.
    void CompressRaw(const char* data, size_t size, std::string& out);

private:
    struct State;
    std::unique_ptr<State> mState;
    uint32_t mDictionarySize;
    uint32_t mPreset;
};

}  // namespace Tarn::VELL::Writer
