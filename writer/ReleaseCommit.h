// How a release reaches the disk without ever being seen half written.
//
// Everything a write produces goes first to staged names beside the final places: the
// release directory as releases/<version>.vellpack-new, managed files under
// managedfiles/<version>.vellpack-new, archives as data_..._NNN.olm.vellpack-new and
// .olm.dat.vellpack-new in their archive directory. No staged name ends in ".olm", so readers
// enumerating archives never take one for an index, and no staged directory parses as a
// version. A failed or interrupted write removes what it staged and leaves everything else
// as it was.
//
// Only when all is staged does the commit move things into place. It first writes a journal
// (<directory>/<version>.vellpack-commit, created whole by a rename) listing every move in
// order: the old release directory, archives and managed directory to retired names
// (.vellpack-old), then the staged ones to their final names, the release directory last.
// Readers see the previous release until its directory moves away and the new one once the
// staged directory takes its name. Each move is done only when its source exists and its
// target does not, so a journal can be replayed from the start after a kill at any point:
// RecoverInterruptedWrites, run at the start of every write, replays what a killed commit
// left and removes every staged, retired or draft leftover.
//
// One writer at a time per project or solution directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "writer/FileIO.h"

namespace Tarn::VELL::Writer {

// The release exists and replacing it was not allowed.
class ReleaseExists : public IoError {
public:
    using IoError::IoError;
};

// The write was asked to stop before its commit; nothing was changed.
class WriteStopped : public IoError {
public:
    using IoError::IoError;
};

inline constexpr std::string_view kStagedSuffix = ".vellpack-new";
inline constexpr std::string_view kRetiredSuffix = ".vellpack-old";
inline constexpr std::string_view kJournalSuffix = ".vellpack-commit";
inline constexpr std::string_view kJournalDraftSuffix = ".vellpack-journal";

std::filesystem::path Staged(const std::filesystem::path& finalPath);   // finalPath + ".vellpack-new"
std::filesystem::path Retired(const std::filesystem::path& finalPath);  // finalPath + ".vellpack-old"

// The moves that put one staged release in place, run through a journal.
class ReleaseCommit {
public:
    // directory: the project's or solution's directory, which holds the journal; name: the
    // release version's text, which names the journal.
    ReleaseCommit(std::filesystem::path directory, std::string name);

    // Moves finalPath away to its retired name (when it exists at commit time).
    void Retire(const std::filesystem::path& finalPath);
    // Moves the staged path to finalPath.
    void Install(const std::filesystem::path& stagedPath, const std::filesystem::path& finalPath);

    // Writes the journal, makes every move, removes the journal, then the retired content.
    // Throws IoError when the journal cannot be written (nothing has moved then: Started() is
    // false) or a move fails (the journal stays, and the next write finishes the commit).
    void Run();
    bool Started() const { return mStarted; }

private:
    std::filesystem::path mDirectory;
    std::string mName;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> mMoves;
    bool mStarted = false;
};

// Replays every commit journal in directory, then removes every staged, retired or draft
// entry that a failed or killed write left in directory/releases, directory/managedfiles and
// the archive directories directory/filearchives/<version>.
void RecoverInterruptedWrites(const std::filesystem::path& directory);

// Removes path and everything below it, ignoring errors (for staged content being dropped).
void RemoveQuietly(const std::filesystem::path& path);

}  // namespace Tarn::VELL::Writer
