// vell: looks inside a content layout through the library's public interface only, as any
// host would: list, show, copy out and check the files of a project or solution release.
//
//   vell [-C DIR] [-v|-q] ls [-l] [-R] [PATTERN]
//   vell [-C DIR] [-v|-q] cat PATH
//   vell [-C DIR] [-v|-q] stat PATH
//   vell [-C DIR] [-v|-q] tree [PATH]
//   vell [-C DIR] [-v|-q] extract PATTERN OUT_DIR
//   vell [-C DIR] [-v|-q] check
//
// DIR is the directory handed to the library (a release's deploy directory, or any directory
// below the release); without -C the library takes the current directory.
// Exit status: 0 ok, 1 a file failed (or was not found, or DIR holds no release), 2 usage.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define VELL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VELL_ISATTY(fd) isatty(fd)
#endif

#include "TarnVellIO.h"
#include "support/QuietLogTable.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "usage: vell [-C DIR] [-v|-q] COMMAND [ARGS]\n"
    "\n"
    "Looks inside a content layout through the TarnVellIO library.\n"
    "\n"
    "commands:\n"
    "  ls [-l] [-R] [PATTERN]   list a directory, or what matches PATTERN (such as DATA/*.txt)\n"
    "  cat PATH                 write a file's bytes to standard output\n"
    "  stat PATH                tell whether PATH exists, its kind and size\n"
    "  tree [PATH]              draw the directory tree below PATH (default: the root)\n"
    "  extract PATTERN OUT_DIR  copy the matching files, recursively, below OUT_DIR\n"
    "  check                    open and read every file; name those that fail\n"
    "\n"
    "options:\n"
    "  -C DIR   the release directory to load (default: the current directory)\n"
    "  -v       also show the library's information and trace messages\n"
    "  -q       show no library messages\n"
    "  -h, --help\n"
    "  --version\n"
    "\n"
    "'vell COMMAND --help' describes a command. Exit status: 0 ok, 1 a file failed or was\n"
    "not found (or DIR holds no release), 2 bad command line.\n";

struct CommandHelp {
    const char* name;
    const char* text;
};

const CommandHelp kCommandHelp[] = {
    {"ls",
     "usage: vell ls [-l] [-R] [DIRECTORY | PATTERN]\n\nLists a directory, or the entries that match PATTERN (its last "
     "component may hold * and ?),\nsubdirectories first. -l shows kind and size, -R descends into subdirectories.\n"},
    {"cat", "usage: vell cat PATH\n\nWrites the file's bytes to standard output.\n"},
    {"stat", "usage: vell stat PATH\n\nTells whether PATH exists, and whether it is a file (with its size) or a directory.\n"},
    {"tree", "usage: vell tree [PATH]\n\nDraws the directories and files below PATH (default: the release's root).\n"},
    {"extract",
     "usage: vell extract PATTERN OUT_DIR\n\nCopies every file that matches PATTERN (such as DATA/* or DATA/*.dds) and "
     "every file\nbelow the matching directories to OUT_DIR, keeping their paths.\n"},
    {"check",
     "usage: vell check\n\nOpens and reads every file of the release; names each file that fails and exits 1 if any "
     "does.\n"},
};

// ---- logging -----------------------------------------------------------------------------

enum class Verbosity { Quiet, Normal, Verbose };
Verbosity gVerbosity = Verbosity::Normal;

const char* VELL_CALL LogSeverityName(int32_t severity)
{
    static const char* names[] = {"info", "warning", "error", "note"};
    return severity >= 0 && severity <= 3 ? names[severity] : "?";
}
const char* VELL_CALL LogModuleName() { return "vell"; }

// Warnings and errors by default, everything with -v, nothing with -q; one line each.
void VELL_CALL LogV(int32_t severity, uint32_t, uint32_t, const char* format, va_list args)
{
    if (gVerbosity == Verbosity::Quiet) return;
    if (gVerbosity == Verbosity::Normal && severity < VELL_LOG_WARN) return;
    char text[8192];
    std::vsnprintf(text, sizeof(text), format, args);
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = '\0';
    std::fprintf(stderr, "vell: %s: %s\n", LogSeverityName(severity), text);
}

// The quiet table, with the messages printed and the names vell gives.
const LogFunctionTable kLogTable = [] {
    LogFunctionTable table = TarnSupport::QuietLogTable();
    table.GetSeverityName = LogSeverityName;
    table.GetModuleName = LogModuleName;
    table.LogV = LogV;
    return table;
}();

// ---- enumeration -------------------------------------------------------------------------

struct Entry {
    std::string path;  // below the release's root
    std::string name;
    bool directory;
    uint64_t size;
};

std::string Join(const std::string& directory, const std::string& name)
{
    return directory.empty() ? name : directory + "/" + name;
}

// The entries of directory matching pattern, in the library's order.
std::vector<Entry> List(const std::string& directory, const std::string& pattern)
{
    std::vector<Entry> entries;
    VellFindHandle search = VellFindFirstFile(Join(directory, pattern).c_str());
    if (search == nullptr) return entries;
    char name[260];
    uint32_t isDirectory = 0;
    uint64_t size = 0;
    while (VellFindNextFile(search, &isDirectory, &size, sizeof(name), name) == VELL_OK)
        entries.push_back({Join(directory, name), name, isDirectory != 0, size});
    VellFindClose(search);
    return entries;
}

// Splits "DATA/*.txt" into "DATA" and "*.txt".
void SplitPattern(const std::string& text, std::string& directory, std::string& pattern)
{
    std::string normalised = text;
    for (char& c : normalised)
        if (c == '\\') c = '/';
    while (normalised.size() > 1 && normalised.back() == '/') normalised.pop_back();
    const std::size_t slash = normalised.rfind('/');
    directory = slash == std::string::npos ? "" : normalised.substr(0, slash);
    pattern = slash == std::string::npos ? normalised : normalised.substr(slash + 1);
    if (pattern.empty()) pattern = "*";
}

// Every file below directory, depth first, in the library's order.
void CollectFiles(const std::string& directory, std::vector<Entry>& files)
{
    for (const Entry& entry : List(directory, "*")) {
        if (entry.directory)
            CollectFiles(entry.path, files);
        else
            files.push_back(entry);
    }
}

// ---- reading -------------------------------------------------------------------------------

// Reads the whole file in chunks, handing each to sink; false when the open or a read fails.
template <typename Sink>
bool ReadFile(const std::string& path, Sink sink)
{
    VellFileHandle file = VellOpenFile(path.c_str());
    if (file == nullptr) return false;
    const int64_t size = VellGetFileSize(file);
    std::vector<char> buffer(1 << 20);
    uint64_t offset = 0;
    bool ok = true;
    while (ok && offset < static_cast<uint64_t>(size)) {
        const uint64_t left = static_cast<uint64_t>(size) - offset;
        const uint32_t want = static_cast<uint32_t>(left < buffer.size() ? left : buffer.size());
        uint32_t got = 0;
        ok = VellRead(file, offset, want, &got, buffer.data()) == VELL_OK && got == want && sink(buffer.data(), got);
        offset += got;
    }
    VellCloseFile(file);
    return ok;
}

class ProgressBar {
public:
    ProgressBar(std::size_t total, bool shown) : mTotal(total), mShown(shown && total > 0) {}
    void Step(std::size_t done)
    {
        if (!mShown) return;
        const int width = 40;
        const int filled = static_cast<int>(width * done / mTotal);
        std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "########################################", width - filled, "", done,
                     mTotal);
        if (done == mTotal) std::fputc('\n', stderr);
    }

private:
    std::size_t mTotal;
    bool mShown;
};

// ---- commands ------------------------------------------------------------------------------

int Ls(const std::vector<std::string>& args)
{
    bool longFormat = false, recursive = false;
    std::string patternText = "*";
    for (const std::string& arg : args) {
        if (arg == "-l")
            longFormat = true;
        else if (arg == "-R")
            recursive = true;
        else if (arg == "-lR" || arg == "-Rl")
            longFormat = recursive = true;
        else if (!arg.empty() && arg[0] == '-')
            return std::fprintf(stderr, "vell ls: unknown option %s\n", arg.c_str()), kExitUsage;
        else
            patternText = arg;
    }
    std::string directory, pattern;
    SplitPattern(patternText, directory, pattern);
    // A plain directory name lists that directory, as ls does.
    if (pattern.find_first_of("*?") == std::string::npos) {
        if (VellFindHandle inside = VellFindFirstFile(Join(Join(directory, pattern), "*").c_str())) {
            VellFindClose(inside);
            directory = Join(directory, pattern);
            pattern = "*";
        }
    }
    VellFindHandle probe = VellFindFirstFile(Join(directory, "*").c_str());
    if (probe == nullptr) {
        std::fprintf(stderr, "vell ls: no directory \"%s\" in this release\n", directory.c_str());
        return kExitFailed;
    }
    VellFindClose(probe);
    std::vector<std::string> pending{directory};
    bool first = true, listedAny = false;
    while (!pending.empty()) {
        const std::string current = pending.front();
        pending.erase(pending.begin());
        if (recursive) std::printf("%s%s:\n", first ? "" : "\n", current.empty() ? "." : current.c_str());
        first = false;
        std::vector<std::string> subdirectories;
        for (const Entry& entry : List(current, recursive && current != directory ? "*" : pattern)) {
            listedAny = true;
            if (longFormat)
                std::printf("%c %12llu  %s\n", entry.directory ? 'd' : '-', static_cast<unsigned long long>(entry.size),
                            entry.name.c_str());
            else
                std::printf("%s%s\n", entry.name.c_str(), entry.directory ? "/" : "");
            if (recursive && entry.directory) subdirectories.push_back(entry.path);
        }
        pending.insert(pending.begin(), subdirectories.begin(), subdirectories.end());
    }
    if (!listedAny && pattern.find_first_of("*?") == std::string::npos) {
        std::fprintf(stderr, "vell ls: \"%s\" is not in this release\n", patternText.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

int Cat(const std::vector<std::string>& args)
{
    const bool ok = ReadFile(args[0], [](const char* data, uint32_t n) { return std::fwrite(data, 1, n, stdout) == n; });
    std::fflush(stdout);
    if (!ok) std::fprintf(stderr, "vell cat: cannot read \"%s\"\n", args[0].c_str());
    return ok ? kExitOk : kExitFailed;
}

int Stat(const std::vector<std::string>& args)
{
    const std::string& path = args[0];
    if (!VellFileExists(path.c_str())) {
        std::printf("%s: not found\n", path.c_str());
        return kExitFailed;
    }
    // A directory lists (possibly nothing); a file does not.
    if (VellFindHandle search = VellFindFirstFile(Join(path, "*").c_str())) {
        VellFindClose(search);
        std::printf("%s: directory\n", path.c_str());
        return kExitOk;
    }
    VellFileHandle file = VellOpenFile(path.c_str());
    if (file == nullptr) {
        std::printf("%s: file, cannot be opened\n", path.c_str());
        return kExitFailed;
    }
    std::printf("%s: file, %lld bytes\n", path.c_str(), static_cast<long long>(VellGetFileSize(file)));
    VellCloseFile(file);
    return kExitOk;
}

void DrawTree(const std::string& directory, const std::string& indent)
{
    const std::vector<Entry> entries = List(directory, "*");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool last = i + 1 == entries.size();
        std::printf("%s%s%s%s\n", indent.c_str(), last ? "`-- " : "|-- ", entries[i].name.c_str(), entries[i].directory ? "/" : "");
        if (entries[i].directory) DrawTree(entries[i].path, indent + (last ? "    " : "|   "));
    }
}

int Tree(const std::vector<std::string>& args)
{
    const std::string root = args.empty() ? "" : args[0];
    std::printf("%s\n", root.empty() ? "." : root.c_str());
    DrawTree(root, "");
    return kExitOk;
}

int Extract(const std::vector<std::string>& args)
{
    std::string directory, pattern;
    SplitPattern(args[0], directory, pattern);
    std::vector<Entry> files;
    for (const Entry& entry : List(directory, pattern)) {
        if (entry.directory)
            CollectFiles(entry.path, files);
        else
            files.push_back(entry);
    }
    const std::filesystem::path out = args[1];
    ProgressBar progress(files.size(), VELL_ISATTY(2) != 0);
    int failed = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::filesystem::path target = out / files[i].path;
        std::error_code error;
        std::filesystem::create_directories(target.parent_path(), error);
        std::ofstream stream(target, std::ios::binary | std::ios::trunc);
        const bool ok = stream && ReadFile(files[i].path, [&stream](const char* data, uint32_t n) {
                            return static_cast<bool>(stream.write(data, n));
                        });
        if (!ok) {
            std::fprintf(stderr, "vell extract: cannot extract \"%s\"\n", files[i].path.c_str());
            ++failed;
        }
        progress.Step(i + 1);
    }
    std::printf("%zu file(s) extracted to %s, %d failed\n", files.size() - static_cast<std::size_t>(failed), out.string().c_str(),
                failed);
    return failed ? kExitFailed : kExitOk;
}

int Check(const std::vector<std::string>&)
{
    std::vector<Entry> files;
    CollectFiles("", files);
    ProgressBar progress(files.size(), VELL_ISATTY(2) != 0);
    std::vector<std::string> failures;
    uint64_t bytes = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        uint64_t read = 0;
        const bool ok = ReadFile(files[i].path, [&read](const char*, uint32_t n) {
            read += n;
            return true;
        });
        if (!ok || read != files[i].size) failures.push_back(files[i].path);
        bytes += read;
        progress.Step(i + 1);
    }
    for (const std::string& path : failures) std::printf("FAILED %s\n", path.c_str());
    std::printf("%zu file(s) checked, %llu bytes read, %zu failed\n", files.size(), static_cast<unsigned long long>(bytes),
                failures.size());
    return failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string directory;
    bool haveDirectory = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (option == "--version") {
            std::printf("vell (TarnVellIO) %s\n", TARNVELLIO_VERSION_TEXT);
            return kExitOk;
        }
        if (option == "-v") {
            gVerbosity = Verbosity::Verbose;
        } else if (option == "-q") {
            gVerbosity = Verbosity::Quiet;
        } else if (option == "-C" && i + 1 < argc) {
            directory = argv[++i];
            haveDirectory = true;
        } else {
            std::fprintf(stderr, "vell: unknown option %s\n%s", option.c_str(), kHelp);
            return kExitUsage;
        }
    }
    if (i == argc) {
        std::fputs(kHelp, stderr);
        return kExitUsage;
    }
    const std::string command = argv[i++];
    const std::vector<std::string> args(argv + i, argv + argc);

    int (*run)(const std::vector<std::string>&) = nullptr;
    const char* help = nullptr;
    // Commands with their counts of arguments, checked before anything is loaded.
    static const struct {
        const char* name;
        int (*run)(const std::vector<std::string>&);
        std::size_t fewest, most;
    } kCommands[] = {{"ls", Ls, 0, 3},  {"cat", Cat, 1, 1},         {"stat", Stat, 1, 1},
                     {"tree", Tree, 0, 1}, {"extract", Extract, 2, 2}, {"check", Check, 0, 0}};
    bool arityOk = true;
    for (std::size_t k = 0; k < sizeof(kCommands) / sizeof(kCommands[0]); ++k) {
        if (command == kCommands[k].name) {
            run = kCommands[k].run;
            help = kCommandHelp[k].text;
            arityOk = args.size() >= kCommands[k].fewest && args.size() <= kCommands[k].most;
        }
    }
    if (run == nullptr) {
        std::fprintf(stderr, "vell: unknown command \"%s\"\n%s", command.c_str(), kHelp);
        return kExitUsage;
    }
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(help, stdout);
            return kExitOk;
        }
    }
    if (!arityOk) {
        std::fputs(help, stderr);
        return kExitUsage;
    }

    VellSetLogger(&kLogTable);
    if (VellInitialize(0, 0, 0, haveDirectory ? directory.c_str() : nullptr) != VELL_OK) {
        std::fprintf(stderr,
                     "vell: %s holds no release: the directory must lie inside a content root, as in\n"
                     "      .../VELL/projects/<project>/releases/<version>/deploy or\n"
                     "      .../VELL/solutions/<solution>/releases/<version>/deploy\n",
                     haveDirectory ? directory.c_str() : "the current directory");
        return kExitFailed;
    }
    const int status = run(args);
    VellShutdown();
    return status;
}
