// The exported interface as a host calls it, linked against the shared library: random 4 KiB
// reads inside an open compressed file, VellFindFirstFile/VellFindNextFile over a directory
// of thousands of entries, open+read+close of small files per codec, and two threads reading
// different files at once (read with Threads(1) beside Threads(2)).
//
// The library keeps one environment per process, so each benchmark loads the layout it needs
// and the next one replaces it. Every benchmark checks what it reads and reports a wrong
// answer with SkipWithError ("ERROR OCCURRED" in the output).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "TarnVellIO.h"
#include "bench/BenchLayouts.h"
#include "writer/ProjectWriter.h"

namespace Writer = Tarn::VELL::Writer;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kReadSize = 4096;

struct Layout {
    fs::path deployDirectory;
    std::map<std::string, std::string> contents;  // path -> bytes, for the checks
};

Layout WriteLayout(const std::string& name, Writer::ProjectRelease& release, std::map<std::string, std::string> contents)
{
    Layout layout;
    layout.deployDirectory = release.Write(TarnBench::ScratchDirectory() / name / "VELL").deployDirectory;
    layout.contents = std::move(contents);
    return layout;
}

const char* CodecName(Writer::Compression codec) { return Writer::CompressionName(codec); }

// Two compressed files of the given size: "zlib/big.bin" and "lzma/big.bin".
const Layout& RandomReadLayout(std::size_t size)
{
    static std::mutex mutex;
    static std::map<std::size_t, std::unique_ptr<Layout>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = cache[size];
    if (slot) return *slot;
    const std::string name = "random" + std::to_string(size);
    Writer::ProjectRelease release(name, 0x00000001);
    std::map<std::string, std::string> contents;
    std::uint32_t seed = 1;
    for (Writer::Compression codec : {Writer::Compression::Zlib, Writer::Compression::Lzma}) {
        const std::string path = std::string(CodecName(codec)) + "/big.bin";
        contents[path] = TarnBench::MixedContent(size, seed++);
        release.Add(path, contents[path], Writer::Storage::Archived, codec);
    }
    slot = std::make_unique<Layout>(WriteLayout(name, release, std::move(contents)));
    return *slot;
}

// "Big/" with kDirectoryFiles files, half of them *.dds, and four subdirectories.
constexpr std::uint32_t kDirectoryFiles = 5000;
Layout WriteDirectoryLayout()
{
    Writer::ProjectRelease release("directory", 0x00000001);
    char path[64];
    for (std::uint32_t i = 0; i < kDirectoryFiles; ++i) {
        std::snprintf(path, sizeof path, "Big/%s%05u.%s", i % 2 ? "Sound" : "Tex", i, i % 2 ? "wav" : "dds");
        release.Add(path, std::string(16, static_cast<char>('a' + i % 26)), Writer::Storage::Archived,
                    Writer::Compression::Stored);
    }
    for (int d = 0; d < 4; ++d) release.Add("Big/Sub" + std::to_string(d) + "/inner.txt", "inner");
    return WriteLayout("directory", release, {});
}

const Layout& DirectoryLayout()
{
    static const Layout layout = WriteDirectoryLayout();  // once, whichever thread comes first
    return layout;
}

// Small files: "<codec>/<size>/fNN.bin", kSmallFiles of each codec and size; per reading
// thread t, "thread<t>/zNN.bin" (zlib, 64 KiB) and "thread<t>/stored.bin" (4 MiB).
constexpr std::uint32_t kSmallFiles = 64;
constexpr std::uint32_t kThreadFiles = 16;
constexpr std::uint32_t kThreadFileSize = 65536;
constexpr std::uint32_t kThreadStoredSize = 4u << 20;
Layout WriteSmallLayout()
{
    Writer::ProjectRelease release("small", 0x00000001);
    std::map<std::string, std::string> contents;
    std::uint32_t seed = 100;
    auto add = [&](const std::string& path, std::size_t size, Writer::Compression codec) {
        contents[path] = TarnBench::MixedContent(size, seed++);
        release.Add(path, contents[path], Writer::Storage::Archived, codec);
    };
    for (Writer::Compression codec : {Writer::Compression::Stored, Writer::Compression::Zlib, Writer::Compression::Lzma})
        for (std::size_t size : {4096u, 65536u})
            for (std::uint32_t i = 0; i < kSmallFiles; ++i)
                add(std::string(CodecName(codec)) + "/" + std::to_string(size) + "/f" + std::to_string(i) + ".bin", size, codec);
    for (int t = 0; t < 2; ++t) {
        for (std::uint32_t i = 0; i < kThreadFiles; ++i)
            add("thread" + std::to_string(t) + "/z" + std::to_string(i) + ".bin", kThreadFileSize, Writer::Compression::Zlib);
        add("thread" + std::to_string(t) + "/stored.bin", kThreadStoredSize, Writer::Compression::Stored);
    }
    return WriteLayout("small", release, std::move(contents));
}

const Layout& SmallLayout()
{
    static const Layout layout = WriteSmallLayout();
    return layout;
}

// Loads a layout unless it is the one loaded. Threads of one benchmark all call this before
// their first other call; the lock keeps them from overlapping VellInitialize.
bool Load(const Layout& layout)
{
    static std::mutex mutex;
    static std::string loaded;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded == layout.deployDirectory.string()) return true;
    if (!loaded.empty()) VellShutdown();
    loaded.clear();
    if (VellInitialize(0, 0, 0, layout.deployDirectory.c_str()) != VELL_OK) return false;
    loaded = layout.deployDirectory.string();
    return true;
}

// Ends a benchmark whose setup failed. The loop must still be entered (it runs no iteration):
// the threads of a benchmark meet at its start.
void Fail(benchmark::State& state, const char* message)
{
    state.SkipWithError(message);
    for (auto _ : state) {
    }
}

std::vector<std::uint64_t> RandomOffsets(std::uint64_t fileSize, std::uint32_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> offsets(4096);
    for (auto& offset : offsets) offset = random() % (fileSize - kReadSize + 1);
    return offsets;
}

// Random 4 KiB reads after one open: the file is decompressed on the open, so each read should
// cost a copy out of the blocks.
void BM_RandomRead4K(benchmark::State& state, Writer::Compression codec)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const Layout& layout = RandomReadLayout(size);
    const std::string path = std::string(CodecName(codec)) + "/big.bin";
    const std::string& content = layout.contents.at(path);
    if (!Load(layout)) return Fail(state, "VellInitialize failed");
    VellFileHandle file = VellOpenFile(path.c_str());
    if (!file) return Fail(state, "VellOpenFile failed");
    const std::vector<std::uint64_t> offsets = RandomOffsets(size, 7);
    std::string buffer(kReadSize, '\0');
    std::size_t i = 0, wrong = 0;
    for (auto _ : state) {
        std::uint32_t got = 0;
        wrong += VellRead(file, offsets[i++ & 4095], kReadSize, &got, buffer.data()) != VELL_OK || got != kReadSize;
        benchmark::DoNotOptimize(buffer.data());
    }
    if (i && buffer.compare(0, kReadSize, content, offsets[(i - 1) & 4095], kReadSize) != 0) ++wrong;
    VellCloseFile(file);
    if (wrong) state.SkipWithError("a read failed or gave the wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReadSize);
}
BENCHMARK_CAPTURE(BM_RandomRead4K, zlib, Writer::Compression::Zlib)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK_CAPTURE(BM_RandomRead4K, lzma, Writer::Compression::Lzma)->Arg(1 << 20)->Arg(16 << 20);

// The same offsets copied out of a buffer in memory: the limit of the reads above.
void BM_MemcpyRandom4K(benchmark::State& state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    static std::map<std::size_t, std::string> contents;
    std::string& content = contents[size];
    if (content.empty()) content = TarnBench::MixedContent(size, 1);
    const std::vector<std::uint64_t> offsets = RandomOffsets(size, 7);
    std::string buffer(kReadSize, '\0');
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(buffer.data(), content.data() + offsets[i++ & 4095], kReadSize);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReadSize);
}
BENCHMARK(BM_MemcpyRandom4K)->Arg(1 << 20)->Arg(16 << 20);

// One whole listing of a directory of kDirectoryFiles + 4 entries: all of it, and the half
// that a wildcard selects.
void BM_FindFirstNext(benchmark::State& state, const char* pattern, std::uint32_t expected)
{
    if (!Load(DirectoryLayout())) return Fail(state, "VellInitialize failed");
    std::size_t wrong = 0;
    char name[260];
    for (auto _ : state) {
        VellFindHandle search = VellFindFirstFile(pattern);
        std::uint32_t count = 0, isDirectory = 0;
        std::uint64_t size = 0;
        while (search && VellFindNextFile(search, &isDirectory, &size, sizeof name, name) == VELL_OK) ++count;
        VellFindClose(search);
        wrong += count != expected;
    }
    if (wrong) state.SkipWithError("a listing had the wrong number of entries");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * expected);
}
BENCHMARK_CAPTURE(BM_FindFirstNext, all, "Big/*", kDirectoryFiles + 4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FindFirstNext, dds, "Big/*.dds", kDirectoryFiles / 2)->Unit(benchmark::kMicrosecond);

// Opens, reads whole and closes the files of `paths` in turn, each `size` bytes long; the last
// file read is checked against the layout's content.
void OpenReadCloseInTurn(benchmark::State& state, const Layout& layout, const std::vector<std::string>& paths, std::uint32_t size)
{
    std::string buffer(size, '\0');
    std::size_t i = 0, wrong = 0;
    for (auto _ : state) {
        VellFileHandle file = VellOpenFile(paths[i++ % paths.size()].c_str());
        std::uint32_t got = 0;
        wrong += !file || VellRead(file, 0, size, &got, buffer.data()) != VELL_OK || got != size;
        VellCloseFile(file);
    }
    if (i && buffer != layout.contents.at(paths[(i - 1) % paths.size()])) ++wrong;
    if (wrong) state.SkipWithError("an open or read failed or gave the wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

// Open, read whole and close, through the exports, turning over kSmallFiles files.
void BM_ExportsOpenReadClose(benchmark::State& state, Writer::Compression codec)
{
    const Layout& layout = SmallLayout();
    if (!Load(layout)) return Fail(state, "VellInitialize failed");
    const auto size = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; i < kSmallFiles; ++i)
        paths.push_back(std::string(CodecName(codec)) + "/" + std::to_string(size) + "/f" + std::to_string(i) + ".bin");
    OpenReadCloseInTurn(state, layout, paths, size);
}
BENCHMARK_CAPTURE(BM_ExportsOpenReadClose, stored, Writer::Compression::Stored)->Arg(4096)->Arg(65536);
BENCHMARK_CAPTURE(BM_ExportsOpenReadClose, zlib, Writer::Compression::Zlib)->Arg(4096)->Arg(65536);
BENCHMARK_CAPTURE(BM_ExportsOpenReadClose, lzma, Writer::Compression::Lzma)->Arg(4096)->Arg(65536);

// Each thread opens, reads and closes its own zlib files: first-open decompression on two
// threads at once (each listing's lock serialises opens and closes).
void BM_ThreadsOpenReadClose(benchmark::State& state)
{
    const Layout& layout = SmallLayout();
    if (!Load(layout)) return Fail(state, "VellInitialize failed");
    const std::string prefix = "thread" + std::to_string(state.thread_index()) + "/z";
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; i < kThreadFiles; ++i) paths.push_back(prefix + std::to_string(i) + ".bin");
    OpenReadCloseInTurn(state, layout, paths, kThreadFileSize);
}
BENCHMARK(BM_ThreadsOpenReadClose)->Threads(1)->Threads(2)->UseRealTime();

// Each thread reads 4 KiB at random offsets of its own stored file: reads from the data file
// through the pool of sync tokens, on two threads at once.
void BM_ThreadsStoredReads(benchmark::State& state)
{
    const Layout& layout = SmallLayout();
    if (!Load(layout)) return Fail(state, "VellInitialize failed");
    const std::string path = "thread" + std::to_string(state.thread_index()) + "/stored.bin";
    VellFileHandle file = VellOpenFile(path.c_str());
    if (!file) return Fail(state, "VellOpenFile failed");
    const std::vector<std::uint64_t> offsets = RandomOffsets(kThreadStoredSize, 11 + state.thread_index());
    std::string buffer(kReadSize, '\0');
    std::size_t i = 0, wrong = 0;
    for (auto _ : state) {
        std::uint32_t got = 0;
        wrong += VellRead(file, offsets[i++ & 4095], kReadSize, &got, buffer.data()) != VELL_OK || got != kReadSize;
    }
    if (i && buffer.compare(0, kReadSize, layout.contents.at(path), offsets[(i - 1) & 4095], kReadSize) != 0) ++wrong;
    VellCloseFile(file);
    if (wrong) state.SkipWithError("a read failed or gave the wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReadSize);
}
BENCHMARK(BM_ThreadsStoredReads)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
