// extract: copies files out of the release into a directory, named as the manifest names
// them, each complete or not at all.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "Commands.h"
#include "Diagnostics.h"
#include "Release.h"
#include "tools/common/Progress.h"

namespace fs = std::filesystem;

namespace Vell {

namespace {

volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnSignal(int signal) { gSignal = signal; }

// Catches the signals that ask to stop, so that a partial file can be removed first.
class StopSignals {
public:
    StopSignals()
    {
        mInt = std::signal(SIGINT, OnSignal);
        mTerm = std::signal(SIGTERM, OnSignal);
#ifdef SIGHUP
        mHup = std::signal(SIGHUP, OnSignal);
#endif
    }
    ~StopSignals() { Restore(); }
    void Restore()
    {
        std::signal(SIGINT, mInt);
        std::signal(SIGTERM, mTerm);
#ifdef SIGHUP
        std::signal(SIGHUP, mHup);
#endif
    }

private:
    using Handler = void (*)(int);
    Handler mInt, mTerm;
#ifdef SIGHUP
    Handler mHup;
#endif
};

// A name from the content that may become one component of a path below OUT_DIR.
bool IsSafeName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

bool IsSafePath(const std::string& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (!IsSafeName(path.substr(start, slash - start))) return false;
        start = slash + 1;
    }
    return true;
}

fs::path Below(const fs::path& out, const std::string& path)
{
    fs::path result = out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        result /= path.substr(start, slash - start);
        start = slash + 1;
    }
    return result;
}

// Makes the directory at path (its parent exists); an existing directory is used, anything
// else there (a file, a link) is refused so that nothing is written through it.
bool MakeDirectory(const fs::path& path, std::string& reason)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::is_directory(status)) return true;
    if (fs::exists(status)) {
        reason = fs::is_symlink(status) ? "it exists as a symbolic link" : "it exists and is not a directory";
        return false;
    }
    if (fs::create_directory(path, error) || !error) return true;
    reason = error.message();
    return false;
}

std::string SystemReason() { return std::strerror(errno); }

// Writes one file under a temporary name beside its target and renames it when complete;
// on any failure (or a stop signal) removes what it wrote.
bool ExtractFile(const Entry& file, const fs::path& target, TarnTools::Progress& progress, std::string& reason)
{
    const fs::path partial = target.parent_path() / ("." + target.filename().string() + ".vell-partial");
    std::error_code ignored;
    fs::remove(partial, ignored);
    std::FILE* stream = std::fopen(partial.string().c_str(), "wb");
    if (stream == nullptr) {
        reason = "cannot create " + partial.string() + ": " + SystemReason();
        return false;
    }
    bool ok = ReadWholeFile(file, [&](const char* data, uint32_t n) {
        if (gSignal != 0) {
            reason = "interrupted";
            return false;
        }
        if (std::fwrite(data, 1, n, stream) != n) {
            reason = "cannot write " + partial.string() + ": " + SystemReason();
            return false;
        }
        progress.Add(0, n);
        return true;
    }, reason);
    if (std::fclose(stream) != 0 && ok) {
        reason = "cannot write " + partial.string() + ": " + SystemReason();
        ok = false;
    }
    if (ok && gSignal != 0) {
        reason = "interrupted";
        ok = false;
    }
    if (ok) {
        std::error_code error;
        fs::rename(partial, target, error);
        if (!error) return true;
        reason = "cannot rename " + partial.string() + " to " + target.filename().string() + ": " + error.message();
    }
    fs::remove(partial, ignored);
    return false;
}

}  // namespace

int Extract(const Invocation& invocation)
{
    const std::string& patternText = invocation.args[0];
    const fs::path out = invocation.args[1];
    const std::string normalised = NormalisePath(patternText);

    // What matched, spelt as the manifest spells it.
    std::vector<Entry> matches;
    std::string parentPath;
    if (!HasWildcard(normalised)) {
        if (std::optional<Entry> entry = Resolve(normalised)) matches.push_back(*entry);
    } else {
        std::string directory, pattern;
        SplitPattern(normalised, directory, pattern);
        if (std::optional<Entry> parent = Resolve(directory); parent && parent->directory) matches = List(parent->path, pattern);
    }
    if (matches.empty()) {
        Complain("extract", "nothing in this release matches " + Quoted(patternText));
        return kExitFailed;
    }

    // The directories to make (those on the way to the matches, then every one below them)
    // and the files to write.
    std::vector<std::string> directories;
    std::set<std::string> planned;
    std::vector<Entry> files;
    for (const Entry& match : matches) {
        for (std::size_t slash = match.path.find('/'); slash != std::string::npos; slash = match.path.find('/', slash + 1))
            if (planned.insert(match.path.substr(0, slash)).second) directories.push_back(match.path.substr(0, slash));
        if (!match.directory) {
            files.push_back(match);
            continue;
        }
        if (!match.path.empty() && planned.insert(match.path).second) directories.push_back(match.path);
        std::vector<Entry> below;
        Walk(match.path, below, files);
        for (const Entry& directory : below)
            if (planned.insert(directory.path).second) directories.push_back(directory.path);
    }

    std::error_code error;
    if (fs::create_directories(out, error); error || !fs::is_directory(out)) {
        Complain("extract", "cannot use " + Quoted(out.string()) + " as the output directory: " +
                                (error ? error.message() : std::string("it exists and is not a directory")));
        return kExitFailed;
    }

    int failed = 0;
    std::set<std::string> unusable;  // directories not made: nothing is written below them
    std::size_t madeDirectories = 0;
    for (const std::string& directory : directories) {
        std::string reason;
        const std::size_t slash = directory.rfind('/');
        if (slash != std::string::npos && unusable.count(directory.substr(0, slash))) {
            unusable.insert(directory);
            continue;
        }
        if (!IsSafePath(directory)) {
            reason = "its name cannot be used as a directory name";
        } else if (MakeDirectory(Below(out, directory), reason)) {
            ++madeDirectories;
            continue;
        }
        Complain("extract", "cannot create directory " + Quoted(Below(out, directory).string()) + ": " + reason);
        unusable.insert(directory);
        ++failed;
    }

    uint64_t totalBytes = 0;
    for (const Entry& file : files) totalBytes += file.size;
    TarnTools::Progress progress("extracting", files.size(), totalBytes);
    StopSignals stopSignals;
    std::size_t extracted = 0;
    std::string interruptedFile;
    for (const Entry& file : files) {
        if (gSignal != 0) break;
        const std::size_t slash = file.path.rfind('/');
        if (slash != std::string::npos && unusable.count(file.path.substr(0, slash))) {
            ++failed;  // its directory was reported
            continue;
        }
        std::string reason;
        if (!IsSafePath(file.path)) {
            reason = "its name cannot be used as a file name";
        } else if (ExtractFile(file, Below(out, file.path), progress, reason)) {
            ++extracted;
            progress.Add(1, 0);
            continue;
        }
        if (gSignal != 0) {
            interruptedFile = file.path;
            break;
        }
        progress.Finish();
        Complain("extract", "cannot extract " + Quoted(file.path) + ": " + reason);
        ++failed;
    }
    progress.Finish();
    if (gSignal != 0) {
        const int signal = gSignal;
        std::fprintf(stderr, "vell extract: interrupted after %zu file(s)%s\n", extracted,
                     interruptedFile.empty() ? "" : ("; the partial " + Quoted(interruptedFile) + " was removed").c_str());
        std::fflush(stdout);
        stopSignals.Restore();
        std::raise(signal);
        return kExitFailed;
    }
    std::printf("%zu file(s) and %zu directories extracted to %s, %d failed\n", extracted, madeDirectories, out.string().c_str(),
                failed);
    return failed ? kExitFailed : kExitOk;
}

}  // namespace Vell
