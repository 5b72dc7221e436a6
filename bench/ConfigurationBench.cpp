// Initialisation against the length of a solution's text manifests: a configuration manifest
// that names one project 1,000 to 100,000 times (in changing letter case), and a solution
// manifest of as many projects listed in reverse name order. The time per line should stay
// flat, or grow no faster than log n; each benchmark reports its fitted complexity.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "TarnVellIO.h"
#include "bench/BenchLayouts.h"
#include "logger/LogTable.h"
#include "reader/SolutionManifest.h"
#include "writer/FileIO.h"
#include "writer/ProjectWriter.h"
#include "writer/SolutionWriter.h"

namespace {

namespace fs = std::filesystem;
namespace W = Tarn::VELL::Writer;

// A repeated name is reported once per initialisation; the benchmark need not show it. The
// built-in table, with warnings and information dropped before they are formatted.
void VELL_CALL ErrorsOnly(int32_t severity, uint32_t tagsLow, uint32_t tagsHigh, const char* format, va_list args)
{
    if (severity >= VELL_LOG_ERROR) Tarn::Logger::BuiltInLogTable()->LogV(severity, tagsLow, tagsHigh, format, args);
}

void OnlyErrors()
{
    static LogFunctionTable table = [] {
        LogFunctionTable copy = *Tarn::Logger::BuiltInLogTable();
        copy.LogV = ErrorsOnly;
        return copy;
    }();
    static const bool installed = (VellSetLogger(&table), true);
    (void)installed;
}

// Solution "s" over projects "game" (twenty files of every storage kind) and "extra"; its
// configuration names extra once and game names - 1 times. Returns the deploy directory.
const std::string& RepeatedConfiguration(std::int64_t names)
{
    static std::map<std::int64_t, std::string> deploys;
    if (auto found = deploys.find(names); found != deploys.end()) return found->second;
    const fs::path root = TarnBench::ScratchDirectory() / ("repeated-" + std::to_string(names)) / "VELL";
    W::ProjectRelease game("game", 1);
    for (int i = 0; i < 20; ++i) {
        const auto storage = i % 3 == 0 ? W::Storage::Naked : i % 3 == 1 ? W::Storage::Managed : W::Storage::Archived;
        game.Add("DATA/f" + std::to_string(i) + ".txt", TarnBench::MixedContent(1000, i), storage);
    }
    game.Write(root);
    W::ProjectRelease("extra", 1).Add("extra.txt", "extra", W::Storage::Naked).Write(root);
    std::vector<std::string> configured{"extra"};
    for (std::int64_t i = 1; i < names; ++i) configured.push_back(i % 3 == 0 ? "GAME" : i % 3 == 1 ? "game" : "Game");
    W::SolutionRelease("s", 0x01000000)
        .AddProject("game", 1, 10)
        .AddProject("extra", 1, 5)
        .SetConfigurationManifest("default", configured)
        .Write(root);
    return deploys[names] = (root / "solutions/s/releases/1.0.0.0/deploy").string();
}

void BM_InitializeRepeatedConfiguration(benchmark::State& state)
{
    const std::string& deploy = RepeatedConfiguration(state.range(0));
    OnlyErrors();
    for (auto _ : state) {
        if (VellInitialize(0, 0, 0, deploy.c_str()) != VELL_OK || !VellFileExists("DATA/f7.txt")) {
            state.SkipWithError("the solution did not load");
            break;
        }
        state.PauseTiming();
        VellShutdown();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_InitializeRepeatedConfiguration)
    ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

// A solution manifest of n projects named in reverse name order, and a configuration of each.
const std::string& ReverseSolutionManifest(std::int64_t projects)
{
    static std::map<std::int64_t, std::string> paths;
    if (auto found = paths.find(projects); found != paths.end()) return found->second;
    std::string text = "VELL Solution Manifest\n1.0.0.0\ns\n1.0.0.0\n" + std::to_string(projects) + "\n", configurations;
    char name[32];
    for (std::int64_t i = projects - 1; i >= 0; --i) {
        std::snprintf(name, sizeof(name), "project%07lld", static_cast<long long>(i));
        text += std::string(name) + "\n0.0.0.1\n1\n0\n";
        configurations += std::string("c") + name + "\n0\n1\n" + name + "\n";
    }
    text += std::to_string(projects) + "\n" + configurations;
    const fs::path path = TarnBench::ScratchDirectory() / ("solutionmanifest-" + std::to_string(projects));
    W::WriteWholeFile(path, text);
    return paths[projects] = path.string();
}

void BM_LoadReverseOrderedSolutionManifest(benchmark::State& state)
{
    const std::string& path = ReverseSolutionManifest(state.range(0));
    for (auto _ : state) {
        Tarn::VELL::Reader::SolutionManifest manifest;
        if (Tarn::Failed(manifest.Load(path.c_str()))) {
            state.SkipWithError("the solution manifest did not load");
            break;
        }
        benchmark::DoNotOptimize(manifest.Projects().data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadReverseOrderedSolutionManifest)
    ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
