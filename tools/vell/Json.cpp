#include "Json.h"

#include <cstdio>


namespace Vell {

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0 (overlong forms, surrogates and
// code points above U+10FFFF are not valid).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned min, max = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = lead == 0xE0 ? 0xA0 : 0x80, max = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = lead == 0xF0 ? 0x90 : 0x80, max = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < min || byte(i + 1) > max) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

}  // namespace

bool IsValidUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
        } else if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out.push_back(static_cast<char>(c));
        }
        i += n;
    }
    out.push_back('"');
    return out;
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

void JsonObject::Key(const char* name)
{
    if (!mBody.empty()) mBody.push_back(',');
    mBody += JsonString(name);
    mBody.push_back(':');
}

JsonObject& JsonObject::Text(const char* name, const std::string& text)
{
    Key(name);
    mBody += JsonString(text);
    if (!IsValidUtf8(text)) {
        Key((std::string(name) + "Hex").c_str());
        mBody += JsonString(Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    return *this;
}

JsonObject& JsonObject::Number(const char* name, uint64_t value)
{
    Key(name);
    mBody += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Boolean(const char* name, bool value)
{
    Key(name);
    mBody += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Null(const char* name)
{
    Key(name);
    mBody += "null";
    return *this;
}

std::string JsonObject::Line() const { return "{" + mBody + "}\n"; }

}  // namespace Vell
