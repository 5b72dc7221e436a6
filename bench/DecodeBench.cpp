// First opens of compressed files through a project listing, beside the codecs decoding the
// same bytes already in memory: the listing adds the chunked reads from the data file, the
// block bookkeeping and the open/close around them.
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <lzma.h>
#include <zlib.h>

#include "bench/BenchLayouts.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "writer/Codecs.h"
#include "writer/ProjectWriter.h"

using namespace Tarn::VELL::Reader;
namespace Writer = Tarn::VELL::Writer;

namespace {

const std::vector<std::size_t> kSizes = {4096, 262144, 16u << 20};

// One layout per size, written when a benchmark of that size first runs (so that a run
// filtered to the small sizes never encodes the 16 MiB files).
struct DecodeLayout {
    std::unique_ptr<ProjectListing> listing;
    std::string content;
};

const DecodeLayout& Layout(std::size_t index)
{
    static std::unique_ptr<DecodeLayout> layouts[3];
    std::unique_ptr<DecodeLayout>& layout = layouts[index];
    if (layout) return *layout;
    layout = std::make_unique<DecodeLayout>();
    const std::string name = "decode" + std::to_string(kSizes[index]);
    Writer::ProjectRelease release(name, 0x00000001);
    layout->content = TarnBench::MixedContent(kSizes[index], static_cast<std::uint32_t>(index));
    release.Add("zlib/" + std::to_string(kSizes[index]), layout->content, Writer::Storage::Archived, Writer::Compression::Zlib);
    release.Add("lzma/" + std::to_string(kSizes[index]), layout->content, Writer::Storage::Archived, Writer::Compression::Lzma);
    release.Add("stored/" + std::to_string(kSizes[index]), layout->content, Writer::Storage::Archived, Writer::Compression::Stored);
    const auto root = TarnBench::ScratchDirectory() / name / "VELL";
    const auto written = release.Write(root);
    auto manifest = ReleaseManifest::Load(written.manifestPath.string().c_str());
    layout->listing.reset(manifest->CreateListing(root.string().c_str()));
    return *layout;
}

void OpenReadClose(benchmark::State& state, const char* codec)
{
    const std::size_t index = static_cast<std::size_t>(state.range(0));
    const DecodeLayout& layout = Layout(index);
    const std::string path = std::string(codec) + "/" + std::to_string(kSizes[index]);
    const ProjectListing::EntryHeader* entry = layout.listing->Lookup(path.c_str());
    std::string out(kSizes[index], '\0');
    for (auto _ : state) {
        std::uint32_t got = 0;
        if (!layout.listing->Open(entry) ||
            !layout.listing->Read(entry, 0, static_cast<std::uint32_t>(out.size()), &got, out.data())) {
            state.SkipWithError("open or read failed");
            break;
        }
        layout.listing->RemoveReference(entry);
    }
    if (out != layout.content) state.SkipWithError("wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSizes[index]));
}

void BM_OpenReadCloseZlib(benchmark::State& state) { OpenReadClose(state, "zlib"); }
void BM_OpenReadCloseLzma(benchmark::State& state) { OpenReadClose(state, "lzma"); }
void BM_OpenReadCloseStored(benchmark::State& state) { OpenReadClose(state, "stored"); }
BENCHMARK(BM_OpenReadCloseZlib)->DenseRange(0, 2);
BENCHMARK(BM_OpenReadCloseLzma)->DenseRange(0, 2);
BENCHMARK(BM_OpenReadCloseStored)->DenseRange(0, 2);

void BM_ZlibUncompressInMemory(benchmark::State& state)
{
    const std::size_t index = static_cast<std::size_t>(state.range(0));
    const std::string& content = Layout(index).content;
    const std::string compressed = Writer::CompressZlib(content);
    std::string out(content.size(), '\0');
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                   static_cast<uLong>(compressed.size()));
        benchmark::DoNotOptimize(out.data());
    }
    if (out != content) state.SkipWithError("wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_ZlibUncompressInMemory)->DenseRange(0, 2);

void BM_LzmaRawDecodeInMemory(benchmark::State& state)
{
    const std::size_t index = static_cast<std::size_t>(state.range(0));
    const std::string& content = Layout(index).content;
    const std::string record = Writer::CompressLzmaRecord(content);
    std::string out(content.size(), '\0');
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT);
    options.dict_size = std::max<std::uint32_t>(static_cast<std::uint32_t>(content.size()), LZMA_DICT_SIZE_MIN);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    for (auto _ : state) {
        size_t inPosition = 9, outPosition = 0;
        lzma_raw_buffer_decode(filters, nullptr, reinterpret_cast<const uint8_t*>(record.data()), &inPosition, record.size(),
                               reinterpret_cast<uint8_t*>(out.data()), &outPosition, out.size());
        benchmark::DoNotOptimize(out.data());
    }
    if (out != content) state.SkipWithError("wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_LzmaRawDecodeInMemory)->DenseRange(0, 2);

}  // namespace
