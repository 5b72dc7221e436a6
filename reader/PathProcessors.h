// The visitors that measure, build and match an entry's path by walking its parent links.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CStd/CStd.h"
#include "reader/ProjectListing.h"

namespace Tarn::VELL::Reader {

// Measures the path: after a walk, length is its number of characters.
class PathLengthProcessor final : public ProjectListing::PathProcessor {
public:
    bool Process(const ProjectListing::EntryHeader* entry) override;
    std::uint32_t length = 0;
    bool visited = false;
};

// Writes the path from its end towards its start, between start and cursor.
class PathBuilder final : public ProjectListing::PathProcessor {
public:
    PathBuilder(char* start, char* cursor) : start(start), cursor(cursor) {}
    bool Process(const ProjectListing::EntryHeader* entry) override;
    char* start;
    char* cursor;
};

// Compares the path from its end towards its start; matched is true after a walk only when
// the last name visited consumed the path up to its start (or a single leading '/').
class PathMatcher final : public ProjectListing::PathProcessor {
public:
    explicit PathMatcher(const char* path);
    PathMatcher(const char* path, std::size_t length) : start(path), cursor(path + length) {}
    bool Process(const ProjectListing::EntryHeader* entry) override;
    const char* start;
    const char* cursor;
    bool matched = false;
};

// Whether n bytes are equal when ASCII letters are folded to lower case (and nothing else is).
bool EqualIgnoringAsciiCase(const char* a, const char* b, std::size_t n);

// The walk of WalkPath for a processor whose type is known here, without virtual calls (the
// lookup path uses it with PathMatcher).
template <typename Processor>
void WalkPathWith(const ProjectListing::EntryHeader* entry, Processor& processor)
{
    if (entry == nullptr) return;
    // The parent record is fetched while this entry's name is looked at, so that the walk
    // waits for memory once per level rather than twice.
    TARN_PREFETCH(entry->parent);
    if (!processor.Process(entry)) return;
    for (const ProjectListing::EntryHeader* e = entry->parent; e != nullptr && e->parent != nullptr; e = e->parent) {
        TARN_PREFETCH(e->parent);
        if (!processor.Process(e)) return;
    }
}

// The path of an archive data file as the archive lookup found it (it already begins with the
// content root, relative or absolute), '\' turned into '/', into out (kMaxPath characters).
// When it does not fit, logs as the archive-data kind of GetNakedFile does.
bool BuildArchiveDataPath(char* out, const char* projectRoot, std::uint32_t fileVersion, const char* dataFile);

}  // namespace Tarn::VELL::Reader
