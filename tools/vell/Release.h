// The loaded release as vell sees it through the library's public interface: entries by
// path with the names the manifest gives them, listings in the library's order, whole-file
// reads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Vell {

struct Entry {
    std::string path;  // below the release's root, '/' between the manifest's names; "" for the root
    std::string name;
    bool directory = false;
    uint64_t size = 0;
};

std::string Join(const std::string& directory, const std::string& name);

// '\' to '/', runs of separators to one, no separator at either end: how the library reads
// a path, so that "DATA/" and "DATA" name the same directory.
std::string NormalisePath(const std::string& text);
bool HasWildcard(const std::string& text);
// Splits a normalised pattern at its last separator: "DATA/*.txt" into "DATA" and "*.txt".
void SplitPattern(const std::string& text, std::string& directory, std::string& pattern);

// The entries of directory whose names match pattern, in the library's order.
std::vector<Entry> List(const std::string& directory, const std::string& pattern);

// The entry a (normalised) path names, spelt as the manifest spells it; none when the
// release has no such entry. "" is the root.
std::optional<Entry> Resolve(const std::string& path);

// Every directory and file below directory, depth first in the library's order; directories
// are listed before what they hold.
void Walk(const std::string& directory, std::vector<Entry>& directories, std::vector<Entry>& files);

// Reads a whole file in chunks, handing each to sink (which returns false to stop: reason is
// then whatever the sink set). False with a reason in plain words when the file cannot be
// opened or read.
bool ReadWholeFile(const Entry& file, const std::function<bool(const char*, uint32_t)>& sink, std::string& reason);

}  // namespace Vell
