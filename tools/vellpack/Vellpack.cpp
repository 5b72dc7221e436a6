// vellpack: writes content layouts with the writer library.
//   vellpack project   packs a directory tree as a project release
//   vellpack solution  writes a solution release over existing project releases
//   vellpack sample    writes the sample layout
// Exit status: 0 success, 1 unreadable source or failed write, 2 bad command line; stopped by
// SIGINT or SIGTERM, it removes what it staged and ends by that signal.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "SourceTree.h"
#include "tools/common/Progress.h"
#include "writer/ArchivePath.h"
#include "writer/FileIO.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"
#include "writer/SolutionWriter.h"
#include "writer/Version.h"

namespace {

namespace fs = std::filesystem;
using namespace Tarn::VELL::Writer;
using VellPack::CommandLine;
using VellPack::UsageError;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kToolHelp[] =
    "usage: vellpack COMMAND [OPTIONS]\n"
    "\n"
    "Writes content layouts under a content root (a directory named VELL).\n"
    "\n"
    "commands:\n"
    "  project   pack a directory tree as a project release\n"
    "  solution  write a solution release over existing project releases\n"
    "  sample    write the sample layout\n"
    "\n"
    "'vellpack COMMAND --help' describes a command; 'vellpack --version' prints the version.\n"
    "Exit status: 0 success, 1 unreadable source or failed write, 2 bad command line.\n";

const char kProjectHelp[] =
    "usage: vellpack project --root VELL_DIR --name NAME --version a.b.c.d [OPTIONS] SRC_DIR\n"
    "\n"
    "Packs every file below SRC_DIR (paths relative to it) as release a.b.c.d of project NAME:\n"
    "VELL_DIR/projects/NAME/releases/a.b.c.d/releasemanifest, archives in\n"
    "VELL_DIR/projects/NAME/filearchives/a.b.c.d/, managed files in managedfiles/a.b.c.d/,\n"
    "naked files in the release's deploy directory. VELL_DIR is the content root and must be\n"
    "named VELL. Empty directories are listed too; what is neither a regular file nor a\n"
    "directory (FIFOs, sockets, devices, links to directories) is skipped with a warning. Every\n"
    "name must be a plain path component on every platform: a name holding '\\' or ':', or a\n"
    "Windows device name (CON, NUL, COM1, ...) is refused. Each file's MD5 goes into the\n"
    "manifest.\n"
    "\n"
    "The release appears whole or not at all: it is written under temporary names and moved\n"
    "into place at the end, so a failure or an interruption (Ctrl-C) leaves everything as it\n"
    "was. An existing release is replaced only with --force, and never when another release\n"
    "reads content stored under its version that would change.\n"
    "\n"
    "options:\n"
    "  --base=a.b.c.d               write a patch over that earlier release of the project:\n"
    "                               archived and managed files whose content (MD5) and storage\n"
    "                               kind are unchanged stay where that release stores them and\n"
    "                               are not written again; new and changed files are stored\n"
    "                               under the new version; naked files are always written.\n"
    "                               Codec rules do not make an unchanged file count as changed.\n"
    "  --force                      replace the release if it exists\n"
    "  --compress=zlib|lzma|none    codec of archived files (default zlib)\n"
    "  --compress-by-ext=EXT:CODEC,...\n"
    "                               codec by file extension, e.g. txt:zlib,dds:lzma,ogg:none\n"
    "  --store-below=BYTES          store files smaller than BYTES uncompressed\n"
    "  --managed=PATTERN            files whose relative path matches are managed (repeatable)\n"
    "  --naked=PATTERN              files whose relative path matches are naked (repeatable;\n"
    "                               checked before --managed)\n"
    "                               patterns: '*' any characters including '/', '?' one\n"
    "                               character, letters match in either case\n"
    "  --format=1|2                 manifest file records of 44 bytes (1) or 36 bytes (2, default)\n"
    "  --max-archive=BYTES          size limit of one archive data file (default 256M); an entry\n"
    "                               whose stored bytes exceed it gets an archive of its own\n"
    "  --lzma-dict=BYTES            LZMA2 dictionary size (default 1M)\n"
    "  --zlib-level=0..9            zlib compression level (default 6)\n"
    "  --threads=N                  compression threads (default: one per processor)\n"
    "  --quiet                      no progress line (it shows only on a terminal anyway)\n"
    "BYTES may end in K, M or G (binary multiples).\n";

const char kSolutionHelp[] =
    "usage: vellpack solution --root VELL_DIR --name NAME --version a.b.c.d\n"
    "                         --project NAME:VERSION:PRIORITY[:FLAGS] ... [OPTIONS]\n"
    "\n"
    "Writes VELL_DIR/solutions/NAME/releases/a.b.c.d/ with its solutionmanifest,\n"
    "configurationmanifest and deploy directory. VELL_DIR is the content root and must be\n"
    "named VELL. Every project release named must already exist under VELL_DIR. Projects of\n"
    "higher PRIORITY hide the same paths in projects of lower priority. The release appears\n"
    "whole or not at all; an existing one is replaced only with --force.\n"
    "\n"
    "options:\n"
    "  --force                      replace the release if it exists\n"
    "  --project NAME:VERSION:PRIORITY[:FLAGS]   a project of the solution (repeatable)\n"
    "  --config NAME                the configuration's name (default \"default\")\n"
    "  --config-projects A,B,...    the projects of the configuration, in this order\n"
    "                               (default: every --project, in the order given)\n";

const char kSampleHelp[] =
    "usage: vellpack sample [--force] OUT_DIR\n"
    "\n"
    "Writes the sample layout to OUT_DIR/VELL: project \"client\" (releases 0.0.0.1 and\n"
    "0.0.0.2, every storage kind and codec), project \"patch\" 0.0.0.1 and solution \"game\"\n"
    "1.0.0.0 over both. An existing OUT_DIR/VELL is removed first with --force, else refused.\n";

// SIGINT and SIGTERM ask a running write to stop; it then removes what it staged, and
// vellpack ends by the same signal once the previous state is back.
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void AskToStop(int signal) { gStopSignal = signal; }

void CatchStopSignals()
{
    std::signal(SIGINT, AskToStop);
    std::signal(SIGTERM, AskToStop);
}

[[noreturn]] void EndByStopSignal()
{
    std::fprintf(stderr, "vellpack: interrupted; nothing was changed\n");
    const int signal = gStopSignal;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// The content root as the library finds it: the directory named VELL.
fs::path ContentRoot(const std::string& option, const std::string& given)
{
    fs::path root = fs::path(given).lexically_normal();
    if (!root.has_filename()) root = root.parent_path();
    std::error_code error;
    const std::string name = fs::absolute(root, error).lexically_normal().filename().string();
    if (name != "VELL")
        throw UsageError("--" + option + " must be the content root, a directory named VELL (readers find the root by that " +
                         "name); \"" + given + "\" is named \"" + name + "\": use --" + option + " " +
                         (root / "VELL").generic_string() + " or rename it");
    return root;
}

std::string Megabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

void PrintPatch(const PatchSummary& patch, uint64_t bytesWritten)
{
    auto row = [](const char* what, const FileCount& count) {
        std::fprintf(stderr, "vellpack:   %-8s %7llu files %12llu bytes\n", what, static_cast<unsigned long long>(count.files),
                     static_cast<unsigned long long>(count.bytes));
    };
    std::fprintf(stderr, "vellpack: patch over %s (bytes of the files' content):\n", FormatVersion(*patch.base).c_str());
    row("new", patch.added);
    row("changed", patch.changed);
    row("removed", patch.removed);
    row("kept", patch.kept);
    row("naked", patch.naked);
    std::fprintf(stderr, "vellpack: the patch ships %llu bytes on disk (%s; kept files add nothing)\n",
                 static_cast<unsigned long long>(bytesWritten), Megabytes(bytesWritten).c_str());
}

int RunProject(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments,
                           {"root", "name", "version", "compress", "compress-by-ext", "store-below", "managed", "naked",
                            "format", "max-archive", "lzma-dict", "zlib-level", "threads", "base"},
                           {"quiet", "force"});
    if (line.Has("help")) {
        std::fputs(kProjectHelp, stdout);
        return 0;
    }
    const fs::path root = ContentRoot("root", line.Required("root"));
    const std::string name = line.Required("name");
    const uint32_t version = VellPack::ParseVersionArgument("version", line.Required("version"));
    if (line.Positional().size() != 1) throw UsageError("project needs exactly one source directory");
    const fs::path source = line.Positional().front();

    VellPack::PackRules rules;
    if (auto codec = line.Last("compress")) {
        auto parsed = VellPack::ParseCodec(*codec);
        if (!parsed) throw UsageError("--compress must be zlib, lzma or none, got \"" + *codec + "\"");
        rules.defaultCompression = *parsed;
    }
    for (const std::string& list : line.All("compress-by-ext"))
        for (const std::string& item : VellPack::Split(list, ',')) {
            const size_t colon = item.find(':');
            auto codec = colon == std::string::npos ? std::nullopt : VellPack::ParseCodec(item.substr(colon + 1));
            std::string extension = colon == std::string::npos ? std::string() : item.substr(0, colon);
            if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
            if (!codec || extension.empty())
                throw UsageError("--compress-by-ext needs EXT:CODEC items (codec zlib, lzma or none), got \"" + item + "\"");
            rules.byExtension[FoldCase(extension)] = *codec;
        }
    if (auto bytes = line.Last("store-below")) rules.storeBelow = VellPack::ParseByteCount("store-below", *bytes);
    rules.managedPatterns = line.All("managed");
    rules.nakedPatterns = line.All("naked");

    ProjectRelease release = [&] {
        try {
            return ProjectRelease(name, version);
        } catch (const std::invalid_argument& error) {
            throw UsageError(std::string("--name: ") + error.what());
        }
    }();
    try {
        if (auto format = line.Last("format")) {
            if (*format != "1" && *format != "2") throw UsageError("--format must be 1 or 2, got \"" + *format + "\"");
            release.SetFormatVersion(*format == "1" ? kManifestFormatV1 : kManifestFormatV2);
        }
        if (auto bytes = line.Last("max-archive")) release.SetMaxArchiveDataSize(VellPack::ParseByteCount("max-archive", *bytes));
        if (auto bytes = line.Last("lzma-dict")) {
            const uint64_t size = VellPack::ParseByteCount("lzma-dict", *bytes);
            if (size > UINT32_MAX) throw UsageError("--lzma-dict is too large");
            release.SetLzmaDictionarySize(static_cast<uint32_t>(size));
        }
        if (auto level = line.Last("zlib-level")) release.SetZlibLevel(static_cast<int>(VellPack::ParseUnsigned("zlib-level", *level)));
        if (auto threads = line.Last("threads")) release.SetThreadCount(VellPack::ParseUnsigned("threads", *threads));
        if (auto base = line.Last("base")) release.SetBaseRelease(VellPack::ParseVersionArgument("base", *base));
        release.SetReplaceExisting(line.Has("force"));
    } catch (const std::invalid_argument& error) {
        throw UsageError(error.what());
    }

    const VellPack::SourceTree tree = VellPack::ScanSourceTree(source);
    for (const std::string& note : tree.skipped) std::fprintf(stderr, "vellpack: warning: %s\n", note.c_str());
    for (const VellPack::SourceFile& file : tree.files) release.Add(rules.Describe(file));
    for (const std::string& directory : tree.emptyDirectories) release.AddDirectory(directory);

    std::unique_ptr<TarnTools::Progress> progress;
    std::string phase;
    uint64_t filesShown = 0, bytesShown = 0;
    if (!line.Has("quiet") && TarnTools::Progress::StandardErrorIsTerminal())
        release.SetProgressCallback([&](const WriteProgress& now) {
            if (!progress || phase != now.phase) {
                phase = now.phase;
                filesShown = bytesShown = 0;
                if (progress) progress->Restart(phase, now.totalFiles, now.totalBytes);
                else progress = std::make_unique<TarnTools::Progress>(phase, now.totalFiles, now.totalBytes);
            }
            progress->Add(now.files - filesShown, now.bytes - bytesShown);
            filesShown = now.files;
            bytesShown = now.bytes;
        });
    release.SetStopCheck([] { return gStopSignal != 0; });
    CatchStopSignals();
    const auto started = std::chrono::steady_clock::now();
    ProjectRelease::WriteResult result;
    try {
        result = release.Write(root);
    } catch (const WriteStopped&) {
        if (progress) progress->Finish();
        EndByStopSignal();
    } catch (const ReleaseExists& error) {
        if (progress) progress->Finish();
        throw IoError(std::string(error.what()) + "; --force replaces it");
    } catch (...) {
        if (progress) progress->Finish();
        throw;
    }
    if (progress) progress->Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (const std::string& path : result.oversizedEntries)
        std::fprintf(stderr, "vellpack: note: \"%s\" is larger than --max-archive when stored; it has an archive of its own\n",
                     path.c_str());
    if (result.patch.base) PrintPatch(result.patch, result.bytesWritten);
    std::fprintf(stderr, "vellpack: %s %s: %zu files, %zu archives, %llu bytes written (%s), %.2f s\n", name.c_str(),
                 FormatVersion(version).c_str(), tree.files.size(), result.archives.size(),
                 static_cast<unsigned long long>(result.bytesWritten), Megabytes(result.bytesWritten).c_str(), seconds);
    if (gStopSignal != 0) {  // asked to stop while committing: the release is complete, now stop
        std::fprintf(stderr, "vellpack: interrupted after the release was complete\n");
        std::raise(gStopSignal);
    }
    return 0;
}

int RunSolution(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments, {"root", "name", "version", "project", "config", "config-projects"}, {"force"});
    if (line.Has("help")) {
        std::fputs(kSolutionHelp, stdout);
        return 0;
    }
    const fs::path root = ContentRoot("root", line.Required("root"));
    const std::string name = line.Required("name");
    const uint32_t version = VellPack::ParseVersionArgument("version", line.Required("version"));
    if (!line.Positional().empty()) throw UsageError("unexpected argument \"" + line.Positional().front() + "\"");
    const std::vector<std::string> projects = line.All("project");
    if (projects.empty()) throw UsageError("solution needs at least one --project NAME:VERSION:PRIORITY");

    std::vector<std::string> projectNames;
    SolutionRelease solution = [&] {
        try {
            return SolutionRelease(name, version);
        } catch (const std::invalid_argument& error) {
            throw UsageError(std::string("--name: ") + error.what());
        }
    }();
    try {
        for (const std::string& project : projects) {
            const std::vector<std::string> fields = VellPack::Split(project, ':');
            if (fields.size() != 3 && fields.size() != 4)
                throw UsageError("--project needs NAME:VERSION:PRIORITY[:FLAGS], got \"" + project + "\"");
            const uint32_t projectVersion = VellPack::ParseVersionArgument("project", fields[1]);
            const uint32_t priority = VellPack::ParseUnsigned("project", fields[2]);
            const uint32_t flags = fields.size() == 4 ? VellPack::ParseUnsigned("project", fields[3]) : 0;
            solution.AddProject(fields[0], projectVersion, priority, flags);
            projectNames.push_back(fields[0]);
            const fs::path manifest = root / "projects" / fields[0] / "releases" / FormatVersion(projectVersion) / "releasemanifest";
            std::error_code error;
            if (!fs::is_regular_file(manifest, error))
                throw IoError("project release " + fields[0] + " " + fields[1] + " not found: no \"" + manifest.string() + "\"");
        }
        std::vector<std::string> configuration = projectNames;
        if (auto list = line.Last("config-projects")) configuration = VellPack::Split(*list, ',');
        // The solution manifest's configuration lists each project once; the configuration
        // manifest keeps the order and repetitions given.
        std::vector<std::string> unique;
        for (const std::string& project : configuration) {
            bool seen = false;
            for (const std::string& kept : unique) seen = seen || CompareNoCase(kept, project) == 0;
            if (!seen) unique.push_back(project);
        }
        const std::string configName = line.Last("config").value_or("default");
        solution.AddConfiguration(configName, 0, unique);
        solution.SetConfigurationManifest(configName, configuration);
        solution.BuildSolutionManifest();  // reports unknown projects before anything is written
        solution.BuildConfigurationManifest();
    } catch (const std::invalid_argument& error) {
        throw UsageError(error.what());
    }
    solution.SetReplaceExisting(line.Has("force"));
    SolutionRelease::WriteResult result;
    try {
        result = solution.Write(root);
    } catch (const ReleaseExists& error) {
        throw IoError(std::string(error.what()) + "; --force replaces it");
    }
    std::fprintf(stderr, "vellpack: wrote %s\n", result.releaseDirectory.string().c_str());
    return 0;
}

int RunSample(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments, {}, {"force"});
    if (line.Has("help")) {
        std::fputs(kSampleHelp, stdout);
        return 0;
    }
    if (line.Positional().size() != 1) throw UsageError("sample needs exactly one output directory");
    const fs::path root = fs::path(line.Positional().front()) / "VELL";
    std::error_code error;
    if (fs::exists(root, error)) {
        if (!line.Has("force")) throw IoError("\"" + root.string() + "\" exists already; --force replaces it");
        fs::remove_all(root, error);
        if (error) throw IoError("cannot remove \"" + root.string() + "\": " + error.message());
    }
    WriteSampleLayout(line.Positional().front());
    std::fprintf(stderr, "vellpack: wrote %s\n", root.string().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(kToolHelp, stderr);
        return kExitUsage;
    }
    const std::string& command = arguments.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kToolHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("vellpack (TarnVellIO) %s\n", TARNVELLIO_VERSION_TEXT);
        return 0;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    try {
        if (command == "project") return RunProject(rest);
        if (command == "solution") return RunSolution(rest);
        if (command == "sample") return RunSample(rest);
        throw UsageError("unknown command \"" + command + "\"");
    } catch (const UsageError& error) {
        const bool known = command == "project" || command == "solution" || command == "sample";
        std::fprintf(stderr, "vellpack: %s\n(see 'vellpack %s--help')\n", error.what(), known ? (command + " ").c_str() : "");
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vellpack: %s\n", error.what());
        return kExitFailure;
    }
}
