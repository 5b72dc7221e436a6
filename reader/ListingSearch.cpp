#include "reader/ListingSearch.h"

#include <algorithm>
#include <cstring>

#include "platform/Win32.h"
#include "reader/RuntimeEnvironment.h"

namespace Tarn::VELL::Reader {

const ProjectListing::EntryHeader* DirectoryCursor::Entry() const
{
    if (AtDirectory()) return &directory->firstSubdirectory[index];
    return &directory->firstFile[index - directory->subdirectoryCount];
}

ListingSearch::ListingSearch(std::vector<DirectoryCursor> cursors) : mCursors(std::move(cursors))
{
    mCursors.erase(std::remove_if(mCursors.begin(), mCursors.end(), [](const DirectoryCursor& c) { return c.Exhausted(); }),
                   mCursors.end());
    mCurrent = mCursors.size();
    Advance();
}

void ListingSearch::Advance()
{
    if (mCurrent < mCursors.size()) {
        ++mCursors[mCurrent].index;
        if (mCursors[mCurrent].Exhausted()) mCursors.erase(mCursors.begin() + static_cast<std::ptrdiff_t>(mCurrent));
    }
    mDirectoryPhase = std::any_of(mCursors.begin(), mCursors.end(), [](const DirectoryCursor& c) { return c.AtDirectory(); });
    if (mCursors.empty()) return;

    // The first cursor of the current phase (directories while any remain, then files) is the
    // first candidate; a later cursor of that phase displaces it with a smaller name. An
    // equal name is a repetition: that cursor moves on, and its next entry waits for the next
    // pass. Cursors of the other phase wait, so every directory comes before every file and
    // a name is delivered once, by the first listing that has it.
    mCurrent = 0;
    while (mCursors[mCurrent].AtDirectory() != mDirectoryPhase) ++mCurrent;
    const char* best = mCursors[mCurrent].Entry()->name;
    for (std::size_t i = mCurrent + 1; i < mCursors.size();) {
        DirectoryCursor& cursor = mCursors[i];
        if (cursor.AtDirectory() != mDirectoryPhase) {
            ++i;
            continue;
        }
        const int order = Win32::_stricmp(cursor.Entry()->name, best);
        if (order < 0) {
            mCurrent = i;
            best = cursor.Entry()->name;
            ++i;
        } else if (order == 0) {
            ++cursor.index;
            if (cursor.Exhausted())
                mCursors.erase(mCursors.begin() + static_cast<std::ptrdiff_t>(i));
            else
                ++i;
        } else {
            ++i;
        }
    }
}

std::unique_ptr<ListingSearch> RuntimeEnvironment::BeginSearch(const char* directoryPath) const
{
    std::vector<DirectoryCursor> cursors;
    const std::uint32_t hash = ProjectListing::BucketHash(directoryPath, std::strlen(directoryPath));
    for (const auto& listing : mListings) {
        const ProjectListing::EntryHeader* entry = listing->Lookup(directoryPath, hash);
        if (entry != nullptr && listing->IsDirectory(entry))
            cursors.push_back({static_cast<const ProjectListing::DirectoryRecord*>(entry), 0});
    }
    if (cursors.empty()) return nullptr;
    return std::make_unique<ListingSearch>(std::move(cursors));
}

}  // namespace Tarn::VELL::Reader
