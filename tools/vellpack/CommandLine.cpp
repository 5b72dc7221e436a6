#include "CommandLine.h"

#include <cctype>

#include "writer/Version.h"

namespace VellPack {

CommandLine::CommandLine(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& switches)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            mPositional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (name == "help" || switches.count(name)) {
            if (equals != std::string::npos) throw UsageError("option --" + name + " takes no value");
            mValues[name].push_back("");
        } else if (valueOptions.count(name)) {
            if (equals != std::string::npos) {
                mValues[name].push_back(argument.substr(equals + 1));
            } else {
                if (i + 1 >= arguments.size()) throw UsageError("option --" + name + " needs a value");
                mValues[name].push_back(arguments[++i]);
            }
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
}

std::optional<std::string> CommandLine::Last(const std::string& name) const
{
    auto found = mValues.find(name);
    if (found == mValues.end()) return std::nullopt;
    return found->second.back();
}

std::string CommandLine::Required(const std::string& name) const
{
    auto found = mValues.find(name);
    if (found == mValues.end()) throw UsageError("option --" + name + " is required");
    if (found->second.size() > 1) throw UsageError("option --" + name + " is given more than once");
    return found->second.front();
}

std::vector<std::string> CommandLine::All(const std::string& name) const
{
    auto found = mValues.find(name);
    return found == mValues.end() ? std::vector<std::string>{} : found->second;
}

uint64_t ParseByteCount(const std::string& option, const std::string& text)
{
    size_t digits = 0;
    uint64_t value = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        if (value > (UINT64_MAX - 9) / 10) throw UsageError("--" + option + ": " + text + " is too large");
        value = value * 10 + static_cast<uint64_t>(text[digits++] - '0');
    }
    if (digits == 0) throw UsageError("--" + option + " needs a byte count such as 4096, 64K or 256M, got \"" + text + "\"");
    const std::string suffix = text.substr(digits);
    unsigned shift = 0;
    if (suffix == "K" || suffix == "k") shift = 10;
    else if (suffix == "M" || suffix == "m") shift = 20;
    else if (suffix == "G" || suffix == "g") shift = 30;
    else if (!suffix.empty())
        throw UsageError("--" + option + " needs a byte count such as 4096, 64K or 256M, got \"" + text + "\"");
    if (shift != 0 && value > (UINT64_MAX >> shift)) throw UsageError("--" + option + ": " + text + " is too large");
    return value << shift;
}

uint32_t ParseUnsigned(const std::string& option, const std::string& text)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError("--" + option + " needs a decimal number, got \"" + text + "\"");
    const uint64_t value = std::stoull(text);
    if (value > UINT32_MAX) throw UsageError("--" + option + ": " + text + " is above 4294967295");
    return static_cast<uint32_t>(value);
}

uint32_t ParseVersionArgument(const std::string& option, const std::string& text)
{
    const std::optional<uint32_t> version = Tarn::VELL::Writer::ParseVersion(text);
    if (!version) throw UsageError("--" + option + " needs a version a.b.c.d (numbers 0 to 255), got \"" + text + "\"");
    return *version;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return pieces;
        start = at + 1;
    }
}

bool WildcardMatches(const std::string& pattern, const std::string& text)
{
    auto fold = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    // Greedy matching that backtracks only to the last star: linear for the usual patterns.
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace VellPack
