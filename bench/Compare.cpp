// vell_compare: TarnVellIO beside its peers (PhysicsFS and libzip reading a zip of the same
// files) and beside the limits of the work (a hash map, the codecs on bytes in memory, pread
// from the page cache), all in one run.
//
// Every round runs every measurement on every backend, the backends in an order that turns
// from round to round, so that drift of the machine (other builds, frequency) hits all
// alike; the table shows medians over the rounds. Every answer is checked: contents by CRC-32,
// existence and listings against the truth of the content set. A backend that answers wrong
// is reported as WRONG and the program exits with status 1.
//
//   vell_compare [--files N] [--tiny] [--rounds N] [--smoke] [--work-dir DIR [--reuse]] [--only GROUP]
//                [--verbose] [--backends LIST]
//
// --files N: the number of small files (100,000 by default), 4-64 KiB of every codec two
// directory levels deep, or with --tiny 64 B-1 KiB zlib files three levels deep (a million
// of those: --files 1000000 --tiny).
// --smoke: about 500 small files and one 1 MiB file (the random-read file), 3 rounds.
// --work-dir keeps the content set there; --reuse takes a set already written there with
// the same parameters instead of writing it again. --only runs one group of measurements
// (init, exists, small, random, enumerate, memory), for profiling; --verbose prints every
// round's values; --backends measures only the columns listed (vell, physfs, libzip, limit,
// pread), also for profiling.
#include <physfs.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <unordered_map>

#include "TarnVellIO.h"
#include "bench/Comparison.h"
#include "support/TempDir.h"

namespace {

using namespace TarnCompare;

// --memory-child BACKEND ARGUMENT: prints how far the resident set grew during one mount at
// its highest, then how much of that growth stays after it.
int MemoryChild(const std::string& backend, const std::string& argument, const char* argv0)
{
    std::unordered_map<std::string, std::uint32_t> map;
    // A fresh process: its highest resident set so far is its start-up; where the kernel lets
    // the highest value start again here, even that does not count.
    ResetResidentPeak();
    const std::int64_t before = ReadResidentSet().now;
    bool ok = false;
    if (backend == "vell") {
        ok = VellInitialize(0, 0, 0, argument.c_str()) == VELL_OK;
    } else if (backend == "physfs") {
        ok = PHYSFS_init(argv0) != 0 && PHYSFS_mount(argument.c_str(), nullptr, 1) != 0;
    } else if (backend == "libzip") {
        int error = 0;
        ok = zip_open(argument.c_str(), ZIP_RDONLY, &error) != nullptr;
    } else if (backend == "map") {
        std::ifstream in(argument);
        std::string line;
        std::getline(in, line);
        std::getline(in, line);
        std::uint32_t i = 0;
        while (std::getline(in, line) && line != "end") map.emplace(FoldCase(line.substr(0, line.find('\t'))), i++);
        ok = i > 0;
    }
    const ResidentSet after = ReadResidentSet();
    if (!ok) return 2;
    std::printf("%lld %lld\n", static_cast<long long>(std::max(after.peak, after.now) - before),
                static_cast<long long>(after.now - before));
    return 0;
}

void Usage()
{
    std::fprintf(stderr, "usage: vell_compare [--files N] [--tiny] [--rounds N] [--smoke] [--work-dir DIR [--reuse]]\n"
                         "                    [--only init|exists|small|random|enumerate|memory] [--verbose]\n"
                         "                    [--backends vell,physfs,libzip,limit,pread]\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--memory-child") == 0) return MemoryChild(argv[2], argv[3], argv[0]);
    Options options;
    bool roundsGiven = false, filesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--files") options.files = static_cast<std::uint32_t>(std::stoul(value())), filesGiven = true;
        else if (arg == "--rounds") options.rounds = std::stoi(value()), roundsGiven = true;
        else if (arg == "--smoke") options.smoke = true;
        else if (arg == "--tiny") options.tiny = true;
        else if (arg == "--reuse") options.reuse = true;
        else if (arg == "--work-dir") options.workDirectory = value();
        else if (arg == "--only") options.only = value();
        else if (arg == "--verbose") options.verbose = true;
        else if (arg == "--backends") options.backends = value();
        else {
            Usage();
            return 2;
        }
    }
    if (options.smoke) {
        if (!filesGiven) options.files = 500;
        if (!roundsGiven) options.rounds = 3;
    }
    if (options.files < 200 || options.rounds < 1) {
        std::fprintf(stderr, "vell_compare: --files must be at least 200 and --rounds at least 1\n");
        return 2;
    }

    // Without --work-dir the content set lives in a scratch directory removed at the end.
    std::optional<TarnSupport::TempDir> scratch;
    if (options.workDirectory.empty()) options.workDirectory = scratch.emplace("vell-compare-").Path();
    int status = 0;
    try {
        const ContentSet set =
            PrepareContentSet(options.workDirectory, {options.files, options.smoke, options.tiny}, options.reuse);
        Comparison comparison(set, options, argv[0]);
        comparison.Run();
        comparison.Print();
        status = comparison.AllCorrect() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vell_compare: %s\n", e.what());
        status = 2;
    }
    return status;
}
