// JSON output: one object per line (JSON Lines), fields in the order they are added, written
// by nlohmann's JSON library.
//
// Strings are UTF-8. Names in content may hold any byte: valid UTF-8 is written as it is,
// quotes, backslashes and control characters are escaped, and every byte that is not part of
// valid UTF-8 becomes U+FFFD. A text field holding such bytes gets a companion field
// "<name>Hex" with its exact bytes in hexadecimal, so nothing is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace Vell {

bool IsValidUtf8(const std::string& text);
// Lowercase hexadecimal of bytes.
std::string Hex(const uint8_t* bytes, std::size_t count);

class JsonObject {
public:
    // Adds "name": text, and "nameHex" when text is not valid UTF-8.
    JsonObject& Text(const char* name, const std::string& text);
    JsonObject& Number(const char* name, uint64_t value);
    JsonObject& Null(const char* name);
    // The object as one line, line break included.
    std::string Line() const;

private:
    nlohmann::ordered_json mObject = nlohmann::ordered_json::object();
};

}  // namespace Vell
