#include "CStd/PathComponent.h"

#include <array>

namespace Tarn {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

bool EqualsUpper(std::string_view text, std::string_view upper)
{
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (UpperAscii(text[i]) != upper[i]) return false;
    return true;
}

// Windows takes the part before the first dot, trailing spaces removed, as the device.
bool IsDeviceName(std::string_view name)
{
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> kPlain{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kPlain)
        if (EqualsUpper(base, device)) return true;
    if (base.size() != 4 || !(EqualsUpper(base.substr(0, 3), "COM") || EqualsUpper(base.substr(0, 3), "LPT"))) return false;
    const auto digit = static_cast<unsigned char>(base[3]);
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;  // also ¹ ² ³
}

}  // namespace

bool IsPlainPathComponent(std::string_view name)
{
    if (name.find_first_of(std::string_view("/\\:\0", 4)) != std::string_view::npos) return false;
    std::string_view stripped = name;
    while (!stripped.empty() && (stripped.back() == '.' || stripped.back() == ' ')) stripped.remove_suffix(1);
    return !stripped.empty() && !IsDeviceName(name);
}

}  // namespace Tarn
