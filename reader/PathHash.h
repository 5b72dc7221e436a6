// The two path hashes of the stored content and the ASCII case folding they share:
//   - the archive index hash (a 32-bit ELF-style hash), which the archive index stores per
//     entry and sorts by (docs/formats.md, "Archive index");
//   - the listing hash (32-bit FNV-1-style: multiply, then xor), which a project listing
//     keeps per entry for its buckets.
// Both fold 'A'-'Z' to 'a'-'z' and nothing else, and both take each byte as a signed
// character widened to 32 bits, so bytes 0x80 to 0xFF enter as 0xFFFFFF80 to 0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tarn::VELL::Reader::PathHash {

// What each byte contributes to either hash.
struct FoldTable {
    std::uint32_t value[256];
};
constexpr FoldTable MakeFoldTable()
{
    FoldTable table{};
    for (int c = 0; c < 256; ++c) {
        const int v = c >= 128 ? c - 256 : c;
        table.value[c] = static_cast<std::uint32_t>((v >= 'A' && v <= 'Z') ? v + ('a' - 'A') : v);
    }
    return table;
}
inline constexpr FoldTable kFold = MakeFoldTable();

inline std::uint32_t Fold(char c) { return kFold.value[static_cast<unsigned char>(c)]; }

// ---- the archive index hash ----------------------------------------------------------------

inline std::uint32_t ArchiveHash(const char* path)
{
    std::uint32_t h = 0;
    for (; *path; ++path) {
        h = (h << 4) + Fold(*path);
        const std::uint32_t g = h & 0xF0000000u;
        h ^= g >> 24;  // with g == 0 both steps change nothing
        h ^= g;
    }
    return h;
}

// ---- the listing hash ----------------------------------------------------------------------

constexpr std::uint32_t kListingBasis = 0x811C9DC5;  // the hash of the empty path (the root)
constexpr std::uint32_t kListingPrime = 0x01000193;

inline std::uint32_t ListingStep(std::uint32_t h, char c) { return (h * kListingPrime) ^ Fold(c); }

// h continued over the characters of s up to its terminator.
inline std::uint32_t ListingContinue(std::uint32_t h, const char* s)
{
    for (; *s; ++s) h = ListingStep(h, *s);
    return h;
}

inline std::uint32_t ListingHash(const char* path, std::size_t length)
{
    std::uint32_t h = kListingBasis;
    for (std::size_t i = 0; i < length; ++i) h = ListingStep(h, path[i]);
    return h;
}

}  // namespace Tarn::VELL::Reader::PathHash
