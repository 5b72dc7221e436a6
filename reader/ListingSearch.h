// A search through one virtual directory across the listings that hold it. With one listing
// it delivers the directory's subdirectories, then its files, each in ascending name order
// ignoring ASCII case; with several it merges their children into one sequence and drops
// repeated names: the first listing (in lookup order) that has a name delivers it.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/ProjectListing.h"

namespace Tarn::VELL::Reader {

// A position among one directory's children: subdirectories first, then files.
struct DirectoryCursor {
    const ProjectListing::DirectoryRecord* directory;
    std::uint32_t index;

    bool Exhausted() const { return index >= directory->subdirectoryCount + directory->fileCount; }
    bool AtDirectory() const { return index < directory->subdirectoryCount; }
    const ProjectListing::EntryHeader* Entry() const;
};

class ListingSearch {
public:
    // Takes the cursors (one per listing whose tree holds the directory, in lookup order),
    // drops those of empty directories and moves to the first entry.
    explicit ListingSearch(std::vector<DirectoryCursor> cursors);

    // Moves past the current entry (and past repetitions of the next one).
    void Advance();
    bool Finished() const { return mCursors.empty(); }
    // The current entry; only while not finished.
    const DirectoryCursor& Current() const { return mCursors[mCurrent]; }

private:
    std::vector<DirectoryCursor> mCursors;
    std::size_t mCurrent;
    bool mDirectoryPhase = false;
};

}  // namespace Tarn::VELL::Reader
