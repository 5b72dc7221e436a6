#include "logger/CategoryTable.h"

#include <atomic>
#include <cstring>

#include "CStd/CheckedMutex.h"

namespace Tarn::Logger {

namespace {

struct Codes {
    char code[kCategoryCount][4];
};

constexpr Codes MakeBuiltInCodes()
{
    Codes codes{};
    const char* builtIn[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
    for (unsigned i = 0; i < kCategoryCount; ++i) {
        const char* text = i < 8 ? builtIn[i] : "???";
        for (unsigned k = 0; k < 4; ++k) codes.code[i][k] = text[k];
    }
    return codes;
}

Codes gCodes = MakeBuiltInCodes();  // constant-initialised: usable before any constructor runs
std::atomic<uint32_t> gLastCategoryIndex{7};
// Keeps lookups and additions from tearing each other's codes. Made on first use and never
// destroyed: categories may be registered during static initialisation and teardown.
CheckedMutex& RegistrationLock()
{
    static CheckedMutex& lock = *new CheckedMutex(false);
    return lock;
}

}  // namespace

uint64_t VELL_CALL RegisterCategory(uint64_t* mask, const char* code)
{
    if (code == nullptr) code = "";
    ScopedLock guard(RegistrationLock());
    uint64_t result = 0;
    const uint32_t last = gLastCategoryIndex.load();
    bool found = false;
    for (uint32_t i = 0; i <= last && i < kCategoryCount; ++i) {
        if (std::strncmp(gCodes.code[i], code, 3) == 0) {
            result = uint64_t{1} << i;
            found = true;
            break;
        }
    }
    if (!found) {
        const uint32_t index = (gLastCategoryIndex.fetch_add(1) + 1) % 256;
        if (index < kCategoryCount) {
            size_t n = 0;
            while (n < 3 && code[n]) {
                gCodes.code[index][n] = code[n];
                ++n;
            }
            gCodes.code[index][n] = '\0';
            result = uint64_t{1} << index;
        }
    }
    if (mask) *mask = result;
    return result;
}

bool CategoryCode(unsigned bit, char (&code)[4])
{
    if (bit >= kCategoryCount) return false;
    ScopedLock guard(RegistrationLock());
    std::memcpy(code, gCodes.code[bit], sizeof(code));
    return true;
}

}  // namespace Tarn::Logger
