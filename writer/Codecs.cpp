#include "writer/Codecs.h"

#include <stdexcept>

#include "writer/LzmaEncoder.h"
#include "writer/ZlibEncoder.h"

namespace Tarn::VELL::Writer {

std::string CompressZlib(const std::string& data, int level)
{
    ZlibEncoder encoder(level);
    std::string out;
    encoder.Compress(data.data(), data.size(), out);
    return out;
}

std::string CompressLzmaRecord(const std::string& data, uint32_t dictionarySize)
{
    LzmaEncoder encoder(dictionarySize);
    std::string out;
    encoder.CompressRecord(data.data(), data.size(), out);
    return out;
}

uint32_t LzmaDictionarySize(uint8_t property)
{
    if (property > 40) throw std::invalid_argument("LZMA2 dictionary property must be 0 to 40");
    if (property == 40) return 0xFFFFFFFFu;
    return (2u | (property & 1u)) << (property / 2 + 11);
}

uint8_t LzmaDictionaryProperty(uint32_t dictionarySize)
{
    uint8_t property = 0;
    while (property < 40 && LzmaDictionarySize(property) < dictionarySize) ++property;
    return property;
}

}  // namespace Tarn::VELL::Writer
