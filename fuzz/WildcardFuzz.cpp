// Wildcard matching of any name and pattern ignores ASCII case, and an enumeration with any pattern over a loaded solution delivers each matching name once, directories first, within the caller's buffer.
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "CStd/WildcardMatch.h"
#include "FuzzSupport.h"
#include "TarnVellIO.h"
#include "platform/Win32.h"
#include "writer/Sample.h"

namespace {

std::string Folded(std::string text, int (*fold)(int))
{
    for (char& c : text)
        if ((c & 0x80) == 0) c = static_cast<char>(fold(c));
    return text;
}

void CheckMatch(const std::string& text, const std::string& pattern)
{
    const bool match = Tarn::WildcardMatch(text.c_str(), pattern.c_str());
    FUZZ_CHECK(match == Tarn::WildcardMatch(Folded(text, toupper).c_str(), Folded(pattern, tolower).c_str()));
    if (match) FUZZ_CHECK(Tarn::WildcardMatch(text.c_str(), (pattern + "*").c_str()));
    FUZZ_CHECK(Tarn::WildcardMatch(text.c_str(), "*"));
    FUZZ_CHECK(Tarn::WildcardMatch(text.c_str(), std::string(text.size(), '?').c_str()));
    if (pattern.find_first_of("*?") == std::string::npos)
        FUZZ_CHECK(match == (Win32::_stricmp(text.c_str(), pattern.c_str()) == 0));
}

void Enumerate(const std::string& pattern, std::uint32_t bufferSize)
{
    VellFindHandle search = VellFindFirstFile(pattern.c_str());
    if (search == nullptr) return;
    const std::string last = pattern.substr(pattern.find_last_of("/\\") == std::string::npos ? 0 : pattern.find_last_of("/\\") + 1);
    std::set<std::string> seen;
    bool inFiles = false;
    char name[300];
    for (unsigned n = 0;; ++n) {
        FUZZ_CHECK(n < 10000);
        std::uint32_t isDirectory = 7;
        std::uint64_t size = 7;
        std::memset(name, '#', sizeof(name));
        if (VellFindNextFile(search, &isDirectory, &size, bufferSize, name) != VELL_OK) break;
        FUZZ_CHECK(isDirectory <= 1 && (isDirectory == 0 || size == 0));
        FUZZ_CHECK(!(inFiles && isDirectory));
        inFiles = isDirectory == 0;
        if (bufferSize == 0) continue;
        const std::size_t length = strnlen(name, bufferSize);
        FUZZ_CHECK(length < bufferSize && name[bufferSize] == '#');
        if (bufferSize == sizeof(name) - 1) {
            FUZZ_CHECK(seen.insert(Folded(name, tolower)).second);
            if (last.find('/') == std::string::npos) FUZZ_CHECK(last.empty() || Tarn::WildcardMatch(name, last.c_str()));
        }
    }
    FUZZ_CHECK(VellFindNextFile(search, nullptr, nullptr, 0, nullptr) == VELL_E_FAIL);
    VellFindClose(search);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool loaded = [] {
        TarnFuzz::QuietLogging();
        Tarn::VELL::Writer::WriteSampleLayout(TarnFuzz::ScratchDir());
        const std::string deploy = TarnFuzz::ScratchDir() + "/VELL/solutions/game/releases/1.0.0.0/deploy";
        return VellInitialize(0, 0, 0, deploy.c_str()) == VELL_OK;
    }();
    FUZZ_CHECK(loaded);
    if (size < 1) return 0;
    // Byte 0: the name buffer's size; then a name and a pattern on two lines (or a pattern alone).
    const std::uint32_t bufferSize = data[0] == 0xFF ? 299 : data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string text = rest.c_str();
    const std::size_t newline = text.find('\n');
    if (newline != std::string::npos) CheckMatch(text.substr(0, newline), text.substr(newline + 1));
    Enumerate(text.substr(newline == std::string::npos ? 0 : newline + 1), bufferSize);
    return 0;
}
