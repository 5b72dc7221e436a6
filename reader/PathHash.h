// The path hashes and the ASCII case folding they share:
//   - the archive index hash (a 32-bit ELF-style hash), which the archive index stores per
//     entry and sorts by (docs/formats.md, "Archive index"); it folds 'A'-'Z' to 'a'-'z' and
//     nothing else, and takes each byte as a signed character widened to 32 bits, so bytes
//     0x80 to 0xFF enter as 0xFFFFFF80 to 0xFFFFFFFF;
//   - the bucket hash, which a project listing's lookup table is keyed by; it is nowhere
//     stored, so it is free to be fast: eight bytes at a time, folded the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tarn::VELL::Reader::PathHash {

// What each byte contributes to the archive hash.
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

// Eight bytes at once: each byte 'A' to 'Z' gets 0x20 added; every other byte (0x80 and above
// included) stays as it is.
inline std::uint64_t FoldWord(std::uint64_t x)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const std::uint64_t low7 = x & ~kHigh;
    const std::uint64_t atLeastA = low7 + kOnes * (0x80 - 'A');
    const std::uint64_t aboveZ = low7 + kOnes * (0x80 - 'Z' - 1);
    const std::uint64_t upper = atLeastA & ~aboveZ & ~x & kHigh;
    return x | (upper >> 2);
}

// ---- the archive index hash ----------------------------------------------------------------

inline std::uint32_t ArchiveStep(std::uint32_t h, char c)
{
    h = (h << 4) + Fold(c);
    const std::uint32_t g = h & 0xF0000000u;
    h ^= g >> 24;  // with g == 0 both steps change nothing
    return h ^ g;
}

// h continued over the characters of s up to its terminator: the hash of a path is the hash
// of its first part continued over the rest.
inline std::uint32_t ArchiveContinue(std::uint32_t h, const char* s)
{
    for (; *s; ++s) h = ArchiveStep(h, *s);
    return h;
}

inline std::uint32_t ArchiveHash(const char* path) { return ArchiveContinue(0, path); }

// ---- the bucket hash -----------------------------------------------------------------------

// What a listing's lookup table is keyed by: the path, ASCII letters folded, eight bytes at a
// time (each step a multiplication), so that hashing a path costs a few nanoseconds.
inline std::uint32_t BucketHash(const char* path, std::size_t length)
{
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = length * kMultiplier;
    for (; length >= 8; path += 8, length -= 8) {
        std::uint64_t word;
        std::memcpy(&word, path, 8);
        h = (h ^ FoldWord(word)) * kMultiplier;
        h ^= h >> 29;
    }
    if (length > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, path, length);
        h = (h ^ FoldWord(word)) * kMultiplier;
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    return static_cast<std::uint32_t>(h >> 32);
}

}  // namespace Tarn::VELL::Reader::PathHash
