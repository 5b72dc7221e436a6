#include "writer/Version.h"

#include <stdexcept>

namespace Tarn::VELL::Writer {

uint32_t PackVersion(int a, int b, int c, int d)
{
    const int parts[4] = {a, b, c, d};
    uint32_t packed = 0;
    for (int part : parts) {
        if (part < 0 || part > 255)
            throw std::invalid_argument("version numbers must lie between 0 and 255, got " + std::to_string(part));
        packed = (packed << 8) | static_cast<uint32_t>(part);
    }
    return packed;
}

std::string FormatVersion(uint32_t version)
{
    return std::to_string(version >> 24) + '.' + std::to_string((version >> 16) & 0xFF) + '.' +
           std::to_string((version >> 8) & 0xFF) + '.' + std::to_string(version & 0xFF);
}

std::optional<uint32_t> ParseVersion(const std::string& text)
{
    uint32_t packed = 0;
    size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') return std::nullopt;
            ++position;
        }
        const size_t start = position;
        uint32_t value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' && position - start < 3)
            value = value * 10 + static_cast<uint32_t>(text[position++] - '0');
        if (position == start || value > 255) return std::nullopt;
        packed = (packed << 8) | value;
    }
    if (position != text.size()) return std::nullopt;
    return packed;
}

}  // namespace Tarn::VELL::Writer
