// Listing build, lookups and initialisation on releases of 10,000 to 200,000 files.
//
// BM_ReadListingInputs reads the manifest and every archive index the way a build does, so
// that BM_BuildListing can be read as "reading" plus "building". BM_FileExists* compare the
// library's lookup with a prebuilt hash map of the lower-cased paths, the fastest a host
// could do with its own table.
#include <algorithm>
#include <cctype>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "TarnVellIO.h"
#include "bench/BenchLayouts.h"
#include "reader/FileReads.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"

using namespace Tarn::VELL::Reader;
using TarnBench::GetLargeRelease;

namespace {

constexpr std::uint32_t DirectoriesFor(std::uint32_t files) { return std::max<std::uint32_t>(1, files / 10); }

void BM_ReadListingInputs(benchmark::State& state)
{
    const auto files = static_cast<std::uint32_t>(state.range(0));
    const auto& release = GetLargeRelease(files, DirectoriesFor(files));
    std::vector<std::uint8_t> buffer;
    for (auto _ : state) {
        ReadFileIntoBuffer(release.manifestPath.string().c_str(), buffer);
        for (const auto& index : release.indexPaths) ReadFileIntoBuffer(index.string().c_str(), buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_ReadListingInputs)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_BuildListing(benchmark::State& state)
{
    const auto files = static_cast<std::uint32_t>(state.range(0));
    const auto& release = GetLargeRelease(files, DirectoriesFor(files));
    const std::string root = release.contentRoot.string();
    std::size_t blockSize = 0;
    for (auto _ : state) {
        std::unique_ptr<ReleaseManifest> manifest = ReleaseManifest::Load(release.manifestPath.string().c_str());
        std::unique_ptr<ProjectListing> listing(manifest->CreateListing(root.c_str()));
        blockSize = listing->BlockSize();
        state.PauseTiming();
        listing.reset();
        manifest.reset();
        state.ResumeTiming();
    }
    state.counters["listing_bytes_per_file"] = static_cast<double>(blockSize) / files;
}
BENCHMARK(BM_BuildListing)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_VellInitialize(benchmark::State& state)
{
    const auto files = static_cast<std::uint32_t>(state.range(0));
    const auto& release = GetLargeRelease(files, DirectoriesFor(files));
    for (auto _ : state) {
        VellInitialize(0, 0, 0, release.deployDirectory.string().c_str());
        state.PauseTiming();
        VellShutdown();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_VellInitialize)->Arg(200000)->Unit(benchmark::kMillisecond);

// Lookups: the same queries for every contender, chosen at random from the release.
struct Queries {
    std::vector<std::string> present, absent, wrongCase, lowerPresent;
};

const Queries& QueriesFor(std::uint32_t files)
{
    static std::unique_ptr<Queries> queries;
    if (queries) return *queries;
    const auto& release = GetLargeRelease(files, DirectoriesFor(files));
    queries = std::make_unique<Queries>();
    std::mt19937 random(42);
    for (int i = 0; i < 4096; ++i) {
        const std::string& path = release.paths[random() % release.paths.size()];
        queries->present.push_back(path);
        queries->absent.push_back(path + ".missing");
        std::string upper = path, lower = path;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        queries->wrongCase.push_back(upper);
        queries->lowerPresent.push_back(lower);
    }
    return *queries;
}

class LoadedRelease {
public:
    explicit LoadedRelease(std::uint32_t files)
    {
        VellInitialize(0, 0, 0, GetLargeRelease(files, DirectoriesFor(files)).deployDirectory.string().c_str());
    }
    ~LoadedRelease() { VellShutdown(); }
};

void LookupWith(benchmark::State& state, const std::vector<std::string>& queries, bool expected)
{
    LoadedRelease loaded(200000);
    std::size_t i = 0, wrong = 0;
    for (auto _ : state) {
        const bool found = VellFileExists(queries[i++ & 4095].c_str()) != 0;
        wrong += found != expected;
    }
    if (wrong) state.SkipWithError("a lookup gave the wrong answer");
}

void BM_FileExistsHit(benchmark::State& state) { LookupWith(state, QueriesFor(200000).present, true); }
void BM_FileExistsMiss(benchmark::State& state) { LookupWith(state, QueriesFor(200000).absent, false); }
void BM_FileExistsWrongCase(benchmark::State& state) { LookupWith(state, QueriesFor(200000).wrongCase, true); }
BENCHMARK(BM_FileExistsHit);
BENCHMARK(BM_FileExistsMiss);
BENCHMARK(BM_FileExistsWrongCase);

void BM_UnorderedMapHit(benchmark::State& state)
{
    const auto& release = GetLargeRelease(200000, DirectoriesFor(200000));
    std::unordered_map<std::string, std::uint32_t> map;
    for (std::uint32_t i = 0; i < release.paths.size(); ++i) {
        std::string lower = release.paths[i];
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        map.emplace(std::move(lower), i);
    }
    const auto& queries = QueriesFor(200000).lowerPresent;
    std::size_t i = 0, wrong = 0;
    for (auto _ : state) wrong += map.find(queries[i++ & 4095]) == map.end();
    if (wrong) state.SkipWithError("a lookup gave the wrong answer");
}
BENCHMARK(BM_UnorderedMapHit);

}  // namespace
