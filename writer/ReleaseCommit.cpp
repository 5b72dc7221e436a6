#include "writer/ReleaseCommit.h"

#include <system_error>

#include "writer/FileIO.h"

namespace Tarn::VELL::Writer {

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool EndsWith(const std::string& text, std::string_view suffix) { return text.ends_with(suffix); }

// Journal lines hold paths as UTF-8, whatever the system's narrow encoding.
std::string ToText(const fs::path& path)
{
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

fs::path FromText(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// The journal's moves, in order: each line the source, a tab, the target, both relative to the
// journal's directory.
std::vector<std::pair<std::string, std::string>> JournalMoves(const std::string& journal)
{
    std::vector<std::pair<std::string, std::string>> moves;
    size_t start = 0;
    while (start < journal.size()) {
        size_t end = journal.find('\n', start);
        if (end == std::string::npos) end = journal.size();
        const std::string line = journal.substr(start, end - start);
        start = end + 1;
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) moves.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return moves;
}

void Replay(const fs::path& directory, const std::string& journal)
{
    for (const auto& [source, target] : JournalMoves(journal)) {
        const fs::path from = directory / FromText(source), to = directory / FromText(target);
        if (!Exists(from) || Exists(to)) continue;
        CreateDirectories(to.parent_path());
        std::error_code error;
        if (const int fault = InjectedFault(FileOperation::Move, from, 0)) error.assign(fault, std::generic_category());
        else fs::rename(from, to, error);
        if (error) throw IoError("cannot move \"" + from.string() + "\" to \"" + to.string() + "\": " + error.message());
    }
}

void RemoveRetired(const fs::path& directory, const std::string& journal)
{
    for (const auto& [source, target] : JournalMoves(journal))
        if (EndsWith(target, kRetiredSuffix)) RemoveQuietly(directory / FromText(target));
}

// Removes the entries of folder whose names end in one of the leftover suffixes.
void SweepFolder(const fs::path& folder)
{
    std::error_code error;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (EndsWith(name, kStagedSuffix) || EndsWith(name, kRetiredSuffix) || EndsWith(name, kJournalDraftSuffix))
            leftovers.push_back(it->path());
    }
    for (const fs::path& leftover : leftovers) RemoveQuietly(leftover);
}

}  // namespace

fs::path Staged(const fs::path& finalPath)
{
    fs::path staged = finalPath;
    staged += std::string(kStagedSuffix);
    return staged;
}

fs::path Retired(const fs::path& finalPath)
{
    fs::path retired = finalPath;
    retired += std::string(kRetiredSuffix);
    return retired;
}

void RemoveQuietly(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
}

ReleaseCommit::ReleaseCommit(fs::path directory, std::string name) : mDirectory(std::move(directory)), mName(std::move(name)) {}

void ReleaseCommit::Retire(const fs::path& finalPath)
{
    if (Exists(finalPath)) mMoves.emplace_back(finalPath, Retired(finalPath));
}

void ReleaseCommit::Install(const fs::path& stagedPath, const fs::path& finalPath) { mMoves.emplace_back(stagedPath, finalPath); }

void ReleaseCommit::Run()
{
    std::string journal;
    for (const auto& [from, to] : mMoves)
        journal += ToText(from.lexically_relative(mDirectory)) + '\t' + ToText(to.lexically_relative(mDirectory)) + '\n';
    const fs::path journalPath = mDirectory / (mName + std::string(kJournalSuffix));
    const fs::path draft = mDirectory / (mName + std::string(kJournalDraftSuffix));
    try {
        WriteWholeFile(draft, journal);
    } catch (...) {
        RemoveQuietly(draft);
        throw;
    }
    std::error_code error;
    fs::rename(draft, journalPath, error);
    if (error) {
        RemoveQuietly(draft);
        throw IoError("cannot write \"" + journalPath.string() + "\": " + error.message());
    }
    mStarted = true;
    Replay(mDirectory, journal);
    fs::remove(journalPath, error);
    if (error) throw IoError("cannot remove \"" + journalPath.string() + "\": " + error.message());
    RemoveRetired(mDirectory, journal);
}

void RecoverInterruptedWrites(const fs::path& directory)
{
    std::error_code error;
    std::vector<fs::path> journals;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        if (EndsWith(it->path().filename().string(), kJournalSuffix)) journals.push_back(it->path());
    for (const fs::path& journalPath : journals) {
        const std::string journal = ReadWholeFile(journalPath);
        Replay(directory, journal);
        fs::remove(journalPath, error);
        if (error) throw IoError("cannot remove \"" + journalPath.string() + "\": " + error.message());
        RemoveRetired(directory, journal);
    }
    SweepFolder(directory);
    SweepFolder(directory / "releases");
    SweepFolder(directory / "managedfiles");
    for (fs::directory_iterator it(directory / "filearchives", error), end; !error && it != end; it.increment(error))
        if (it->is_directory()) SweepFolder(it->path());
}

}  // namespace Tarn::VELL::Writer
