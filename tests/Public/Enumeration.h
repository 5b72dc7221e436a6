// What a host learns from an enumeration: every entry a search delivers, in order.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"

struct Found {
    std::string name;
    std::uint32_t isDirectory;
    std::uint64_t size;
    bool operator==(const Found&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Found& f) { return out << f.name << "/" << f.isDirectory << "/" << f.size; }
inline Found Dir(const std::string& name) { return {name, 1, 0}; }
inline Found File(const std::string& name, std::uint64_t size) { return {name, 0, size}; }

// Everything a search delivers (nullopt without a handle); past the end it stays there.
template <class First, class Next, class Close>
std::optional<std::vector<Found>> ListWith(First first, Next next, Close close, const std::string& pattern)
{
    VellFindHandle search = first(pattern.c_str());
    if (search == nullptr) return std::nullopt;
    std::vector<Found> found;
    Found f{"", 7, 7};
    char name[260];
    for (; next(search, &f.isDirectory, &f.size, sizeof(name), name) == VELL_OK; found.push_back(f)) f.name = name;
    EXPECT_EQ(next(search, nullptr, nullptr, 0, nullptr), VELL_E_FAIL);
    close(search);
    return found;
}
