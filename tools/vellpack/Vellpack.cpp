// vellpack: writes content layouts with the writer library.
//   vellpack project   packs a directory tree as a project release
//   vellpack solution  writes a solution release over existing project releases
//   vellpack sample    writes the sample layout
// Exit status: 0 success, 1 unreadable source or failed write, 2 bad command line.

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define VELLPACK_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VELLPACK_ISATTY(fd) isatty(fd)
#endif

#include "CommandLine.h"
#include "SourceTree.h"
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
    "naked files in the release's deploy directory. Empty directories are listed too; what\n"
    "is neither a regular file nor a directory (FIFOs, sockets, devices, links to directories)\n"
    "is skipped with a warning. Every name must be a plain path component on every platform:\n"
    "a name holding '\\' or ':', or a Windows device name (CON, NUL, COM1, ...) is refused.\n"
    "\n"
    "options:\n"
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
    "  --max-archive=BYTES          size limit of one archive data file (default 256M)\n"
    "  --lzma-dict=BYTES            LZMA2 dictionary size (default 1M)\n"
    "  --zlib-level=0..9            zlib compression level (default 6)\n"
    "  --threads=N                  compression threads (default: one per processor)\n"
    "  --quiet                      no progress line\n"
    "BYTES may end in K, M or G (binary multiples).\n";

const char kSolutionHelp[] =
    "usage: vellpack solution --root VELL_DIR --name NAME --version a.b.c.d\n"
    "                         --project NAME:VERSION:PRIORITY[:FLAGS] ... [OPTIONS]\n"
    "\n"
    "Writes VELL_DIR/solutions/NAME/releases/a.b.c.d/ with its solutionmanifest,\n"
    "configurationmanifest and deploy directory. Every project release named must already\n"
    "exist under VELL_DIR. Projects of higher PRIORITY hide the same paths in projects of\n"
    "lower priority.\n"
    "\n"
    "options:\n"
    "  --project NAME:VERSION:PRIORITY[:FLAGS]   a project of the solution (repeatable)\n"
    "  --config NAME                the configuration's name (default \"default\")\n"
    "  --config-projects A,B,...    the projects of the configuration, in this order\n"
    "                               (default: every --project, in the order given)\n";

const char kSampleHelp[] =
    "usage: vellpack sample OUT_DIR\n"
    "\n"
    "Writes the sample layout to OUT_DIR/VELL: project \"client\" (releases 0.0.0.1 and\n"
    "0.0.0.2, every storage kind and codec), project \"patch\" 0.0.0.1 and solution \"game\"\n"
    "1.0.0.0 over both.\n";

// Rewrites a progress line on standard error, at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : mEnabled(enabled) {}
    void Update(size_t done, size_t total)
    {
        if (!mEnabled) return;
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - mLast < std::chrono::milliseconds(100)) return;
        mLast = now;
        std::fprintf(stderr, "\rvellpack: %zu/%zu files", done, total);
        mShown = true;
    }
    void Finish()
    {
        if (mShown) std::fputc('\n', stderr);
        mShown = false;
    }

private:
    bool mEnabled;
    bool mShown = false;
    std::chrono::steady_clock::time_point mLast{};
};

int RunProject(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments,
                           {"root", "name", "version", "compress", "compress-by-ext", "store-below", "managed", "naked",
                            "format", "max-archive", "lzma-dict", "zlib-level", "threads"},
                           {"quiet"});
    if (line.Has("help")) {
        std::fputs(kProjectHelp, stdout);
        return 0;
    }
    const fs::path root = line.Required("root");
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
    } catch (const std::invalid_argument& error) {
        throw UsageError(error.what());
    }

    const VellPack::SourceTree tree = VellPack::ScanSourceTree(source);
    for (const std::string& note : tree.skipped) std::fprintf(stderr, "vellpack: warning: %s\n", note.c_str());
    for (const VellPack::SourceFile& file : tree.files) release.Add(rules.Describe(file));
    for (const std::string& directory : tree.emptyDirectories) release.AddDirectory(directory);

    ProgressLine progress(!line.Has("quiet") && VELLPACK_ISATTY(2));
    release.SetProgressCallback([&](size_t done, size_t total) { progress.Update(done, total); });
    const auto started = std::chrono::steady_clock::now();
    ProjectRelease::WriteResult result;
    try {
        result = release.Write(root);
    } catch (...) {
        progress.Finish();
        throw;
    }
    progress.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "vellpack: %s %s: %zu files, %zu archives, %.2f s\n", name.c_str(), FormatVersion(version).c_str(),
                 tree.files.size(), result.archives.size(), seconds);
    return 0;
}

int RunSolution(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments, {"root", "name", "version", "project", "config", "config-projects"}, {});
    if (line.Has("help")) {
        std::fputs(kSolutionHelp, stdout);
        return 0;
    }
    const fs::path root = line.Required("root");
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
    const SolutionRelease::WriteResult result = solution.Write(root);
    std::fprintf(stderr, "vellpack: wrote %s\n", result.releaseDirectory.string().c_str());
    return 0;
}

int RunSample(const std::vector<std::string>& arguments)
{
    const CommandLine line(arguments, {}, {});
    if (line.Has("help")) {
        std::fputs(kSampleHelp, stdout);
        return 0;
    }
    if (line.Positional().size() != 1) throw UsageError("sample needs exactly one output directory");
    WriteSampleLayout(line.Positional().front());
    std::fprintf(stderr, "vellpack: wrote %s\n", (fs::path(line.Positional().front()) / "VELL").string().c_str());
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
