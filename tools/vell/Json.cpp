#include "Json.h"

namespace Vell {

bool IsValidUtf8(const std::string& text)
{
    // The library checks strings as it writes them: strictly, it refuses invalid UTF-8.
    try {
        (void)nlohmann::ordered_json(text).dump();
        return true;
    } catch (const nlohmann::ordered_json::type_error&) {
        return false;
    }
}

std::string Hex(const uint8_t* bytes, std::size_t count)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
    return out;
}

JsonObject& JsonObject::Text(const char* name, const std::string& text)
{
    mObject[name] = text;
    if (!IsValidUtf8(text)) mObject[std::string(name) + "Hex"] = Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return *this;
}

JsonObject& JsonObject::Number(const char* name, uint64_t value)
{
    mObject[name] = value;
    return *this;
}

JsonObject& JsonObject::Null(const char* name)
{
    mObject[name] = nullptr;
    return *this;
}

std::string JsonObject::Line() const
{
    return mObject.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace Vell
