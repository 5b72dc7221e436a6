// Argument parsing for vellpack: "--name=value" or "--name value" options, switches and
// positional arguments, plus the value syntaxes the commands share.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace VellPack {

// A bad command line; vellpack prints the message and exits with status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CommandLine {
public:
    // valueOptions take a value, switches do not ("help" is always a switch). Anything else
    // starting with "--" is a UsageError; "--" ends the options.
    CommandLine(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                const std::set<std::string>& switches);

    bool Has(const std::string& name) const { return mValues.count(name) != 0; }
    // The last value given, or none.
    std::optional<std::string> Last(const std::string& name) const;
    // The value given exactly once; UsageError when missing or repeated.
    std::string Required(const std::string& name) const;
    // Every value given, in order.
    std::vector<std::string> All(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return mPositional; }

private:
    std::map<std::string, std::vector<std::string>> mValues;
    std::vector<std::string> mPositional;
};

// "123", "64K", "256M", "1G" (binary multiples); UsageError otherwise.
uint64_t ParseByteCount(const std::string& option, const std::string& text);
// A decimal unsigned 32-bit number; UsageError otherwise.
uint32_t ParseUnsigned(const std::string& option, const std::string& text);
// "a.b.c.d"; UsageError otherwise.
uint32_t ParseVersionArgument(const std::string& option, const std::string& text);
// Splits at every separator; empty pieces are kept.
std::vector<std::string> Split(const std::string& text, char separator);

// '*' matches any run of characters ('/' included), '?' any one character; ASCII letters
// match without regard to case.
bool WildcardMatches(const std::string& pattern, const std::string& text);

}  // namespace VellPack
