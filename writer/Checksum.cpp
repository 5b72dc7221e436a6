#include "writer/Checksum.h"

namespace Tarn::VELL::Writer {

Md5Digest Md5Of(std::string_view bytes)
{
    Md5 md5;
    md5.Update(bytes);
    return md5.Finish();
}

std::string HexDigest(const Md5Digest& digest)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

}  // namespace Tarn::VELL::Writer
