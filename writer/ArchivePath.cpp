#include "writer/ArchivePath.h"

namespace Tarn::VELL::Writer {

namespace {
int FoldByte(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
}  // namespace

uint32_t HashArchivePath(const std::string& path)
{
    uint32_t hash = 0;
    for (char ch : path) {
        if (ch == '\0') break;  // the stored path ends at its first NUL
        int32_t value = static_cast<signed char>(ch);
        if (value >= 'A' && value <= 'Z') value += 'a' - 'A';
        hash = (hash << 4) + static_cast<uint32_t>(value);
        const uint32_t high = hash & 0xF0000000u;
        if (high != 0) {
            hash ^= high >> 24;
            hash ^= high;
        }
    }
    return hash;
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const int difference = FoldByte(static_cast<unsigned char>(a[i])) - FoldByte(static_cast<unsigned char>(b[i]));
        if (difference != 0) return difference;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string FoldCase(const std::string& text)
{
    std::string folded = text;
    for (char& ch : folded) ch = static_cast<char>(FoldByte(static_cast<unsigned char>(ch)));
    return folded;
}

}  // namespace Tarn::VELL::Writer
