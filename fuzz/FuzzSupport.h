// What every fuzz target shares: a log table that formats each message and drops it, a scratch
// directory of this process, whole-file writes, the split of one input into several files,
// and the fixed names of the small layouts the targets build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A broken property: report it and stop, as a sanitizer would, in the fuzzer and the replay.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace TarnFuzz {

// Installs (once) a host log table that formats every message, so that each argument is
// used as the library would use it, and then drops it.
void QuietLogging();

// A directory of this process in $TMPDIR (else /tmp), removed at exit.
const std::string& ScratchDir();

void WriteFile(const std::string& path, std::string_view bytes);
// The path with every link, "." and ".." resolved; the path itself when it cannot be.
std::string Canonical(const std::string& path);
bool FileExists(const std::string& path);

// Parts of an input holding several files, separated by kPartMarker; always `count` parts,
// the missing ones empty, the last one taking the rest.
constexpr std::string_view kPartMarker{"\n--vell-part--\n"};
std::vector<std::string_view> SplitParts(const std::uint8_t* data, std::size_t size, std::size_t count);
std::string JoinParts(const std::vector<std::string>& parts);

// The layout of the whole-initialisation target: project kProject, release kVersion, one
// archive (index and data file), a managed and a naked file; solution kSolution over it.
constexpr char kProject[] = "p";
constexpr std::uint32_t kVersion = 0x00000001;  // 0.0.0.1
constexpr char kVersionText[] = "0.0.0.1";
constexpr char kSolution[] = "s";
constexpr std::uint32_t kSolutionVersion = 0x01000000;
constexpr char kSolutionVersionText[] = "1.0.0.0";
constexpr char kArchiveName[] = "data_0.0.0.1_000.olm";
constexpr char kManagedPath[] = "Config/m.ini";
constexpr char kNakedPath[] = "n.cfg";
std::string LooseContent(const char* path);

// Where that layout lies: the content root below the scratch directory, the project's
// directory, its release directory and the solution's release directory.
struct LayoutPaths {
    std::string root, project, release, solution;
};
LayoutPaths GetLayoutPaths();

// Header of the decompression target's input: codec and padding, then the declared size.
constexpr std::size_t kDecodeHeaderSize = 4;

}  // namespace TarnFuzz
