// vell: looks inside a content layout through the library's public interface, as any host
// would: list, show, copy out, check, verify and mount the files of a project or solution
// release. Only stat, check and verify also read what the public interface does not tell
// (where a file is stored, the manifest's checksums) through the library's internal reader.
//
// Exit status: 0 ok; 1 a file failed, a path or pattern matched nothing, or DIR holds no
// release; 2 a bad command line.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "Commands.h"
#include "Diagnostics.h"
#include "TarnVellIO.h"

namespace fs = std::filesystem;
using namespace Vell;

namespace {

const char kHelp[] =
    "usage: vell [-C DIR] [-v|-q] COMMAND [ARGS]\n"
    "\n"
    "Looks inside a content layout through the TarnVellIO library.\n"
    "\n"
    "commands:\n"
    "  ls [-l] [-R] [--json] [PATTERN]  list a directory, or what matches PATTERN (such as DATA/*.txt)\n"
    "  cat PATH                         write a file's bytes to standard output\n"
    "  stat [--json] PATH...            kind and size of PATH; for a file also where it is stored\n"
    "  tree [PATH]                      draw the directory tree below PATH (default: the root)\n"
    "  extract PATTERN OUT_DIR          copy the matching files and directories below OUT_DIR\n"
    "  check [--json]                   read every file; name those that fail\n"
    "  verify [--json]                  read every file and compare it with its checksum\n"
    "  mount DIR MOUNTPOINT             serve the release of DIR as a read-only file system\n"
    "\n"
    "options:\n"
    "  -C DIR   the release directory to load (default: the current directory)\n"
    "  -v       show the library's messages as they come, information and traces included\n"
    "  -q       show none of the library's messages, only vell's own one-line reasons\n"
    "  -h, --help\n"
    "  --version\n"
    "\n"
    "By default a failed file costs one line saying why; -v shows the library's full report.\n"
    "'vell COMMAND --help' describes a command. Exit status: 0 ok; 1 a file failed, nothing\n"
    "matched, or DIR holds no release; 2 bad command line.\n";

struct Command {
    const char* name;
    int (*run)(const Invocation&);
    std::size_t fewest, most;
    const char* help;
};

const Command kCommands[] = {
    {"ls", Ls, 0, 4,
     "usage: vell ls [-l] [-R] [--json] [DIRECTORY | FILE | PATTERN]\n\nLists a directory, or the entries that match "
     "PATTERN (its last component may hold * and ?),\nsubdirectories first. -l shows kind and size, -R descends into "
     "subdirectories, --json writes\none JSON object per entry (path, name, kind, size). A pattern that matches nothing "
     "is an\nerror.\n"},
    {"cat", Cat, 1, 1, "usage: vell cat PATH\n\nWrites the file's bytes to standard output.\n"},
    {"stat", Stat, 1, static_cast<std::size_t>(-1),
     "usage: vell stat [--json] PATH...\n\nTells whether PATH is a directory or a file; for a file its size, the project "
     "that serves\nit, its storage (archived, managed or naked), codec, the version it is stored under, the\nfile that "
     "holds it and the manifest's checksum. --json writes one JSON object per path.\n"},
    {"tree", Tree, 0, 1, "usage: vell tree [PATH]\n\nDraws the directories and files below PATH (default: the release's root).\n"},
    {"extract", Extract, 2, 2,
     "usage: vell extract PATTERN OUT_DIR\n\nCopies every file and directory that matches PATTERN (such as DATA, DATA/* or "
     "DATA/*.dds),\nwith everything below the matching directories, to OUT_DIR, keeping their paths and the\nmanifest's "
     "spelling of every name; empty directories too. Each file is written under a\ntemporary name and renamed when "
     "complete; a failed or interrupted file leaves nothing.\nExits 1 when anything failed or nothing matched.\n"},
    {"check", Check, 0, 1,
     "usage: vell check [--json]\n\nOpens and reads every file of the release; names each file that fails and exits 1 if "
     "any\ndoes. Only zlib data carries a check of its own: 'vell verify' compares every file with\nits checksum.\n"},
    {"verify", Verify, 0, 1,
     "usage: vell verify [--json]\n\nReads every file and compares its MD5 with the checksum of the manifest. Names each "
     "file\nthat differs or cannot be read and exits 1 if any does; files whose manifest gives no\nchecksum are counted "
     "as unverified.\n"},
    {"mount", Mount, 2, 2,
     "usage: vell mount DIR MOUNTPOINT\n\nServes the release of DIR as a read-only file system at MOUNTPOINT (FUSE 3) "
     "until it is\nunmounted: Ctrl-C, SIGTERM, or 'fusermount3 -u MOUNTPOINT'. Runs in the foreground.\n"},
};

// The absolute form of the release directory; empty (after saying why) when it cannot be one.
std::string ReleaseDirectory(const std::string& given)
{
    std::error_code error;
    const fs::path path = given.empty() ? fs::current_path(error) : fs::path(given);
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        std::fprintf(stderr, "vell: %s: %s\n", path.string().c_str(),
                     (error ? error : std::make_error_code(std::errc::no_such_file_or_directory)).message().c_str());
        return {};
    }
    if (!fs::is_directory(status)) {
        std::fprintf(stderr, "vell: %s is not a directory\n", path.string().c_str());
        return {};
    }
    const fs::path absolute = fs::absolute(path, error).lexically_normal();
    bool underVell = false;
    for (const fs::path& component : absolute) underVell = underVell || component == "VELL";
    if (!underVell) {
        std::fprintf(stderr,
                     "vell: no VELL directory found above %s: a release lies inside a content root, as in\n"
                     "      .../VELL/projects/<project>/releases/<version>/deploy or\n"
                     "      .../VELL/solutions/<solution>/releases/<version>/deploy\n",
                     path.string().c_str());
        return {};
    }
    std::string text = absolute.string();
    while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // cat writes a file's bytes as they are; text mode would turn every LF into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
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
            SetVerbosity(Verbosity::Verbose);
        } else if (option == "-q") {
            SetVerbosity(Verbosity::Quiet);
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
    const std::string name = argv[i++];
    Invocation invocation;
    invocation.args.assign(argv + i, argv + argc);

    const Command* command = nullptr;
    for (const Command& candidate : kCommands)
        if (name == candidate.name) command = &candidate;
    if (command == nullptr) {
        std::fprintf(stderr, "vell: unknown command \"%s\"\n%s", name.c_str(), kHelp);
        return kExitUsage;
    }
    for (const std::string& arg : invocation.args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(command->help, stdout);
            return kExitOk;
        }
    }
    if (invocation.args.size() < command->fewest || invocation.args.size() > command->most) {
        std::fputs(command->help, stderr);
        return kExitUsage;
    }
    if (command->run == Mount) {
        if (haveDirectory) {
            std::fputs("vell mount: give the release directory as DIR, not with -C\n", stderr);
            return kExitUsage;
        }
        directory = invocation.args[0];
        haveDirectory = true;
    }

    invocation.directory = ReleaseDirectory(haveDirectory ? directory : std::string());
    if (invocation.directory.empty()) return kExitFailed;
    InstallLibraryLog();
    BeginCapture();
    if (VellInitialize(0, 0, 0, invocation.directory.c_str()) != VELL_OK) {
        const std::vector<std::string> messages = CapturedMessages();
        std::fprintf(stderr, "vell: %s holds no release: %s\n", haveDirectory ? directory.c_str() : "the current directory",
                     ExplainLoadFailure(messages).c_str());
        if (!messages.empty()) NoteHeldBack();
        PrintHint();
        return kExitFailed;
    }
    // Content missing at load does not stop the release from loading: say so once.
    const std::vector<std::string> problems = CapturedMessages();
    if (!problems.empty() && CurrentVerbosity() == Verbosity::Normal) {
        std::fprintf(stderr, "vell: the library reported %zu problem(s) while loading the release; the first: %s\n",
                     CapturedCount(), WithoutReporter(problems.front()).c_str());
        NoteHeldBack();
    }
    const int status = command->run(invocation);
    VellShutdown();
    PrintHint();
    return status;
}
