#include "bench/BenchLayouts.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <system_error>

#include "support/TempDir.h"
#include "writer/ProjectWriter.h"

namespace TarnBench {

namespace fs = std::filesystem;

const fs::path& ScratchDirectory() { return TarnSupport::ProcessTempDir("tarnvellio-bench-").Path(); }

std::string MixedContent(std::size_t size, std::uint32_t seed)
{
    static const char* words[] = {"texture ", "mesh ", "vertex ", "index ", "shader ", "sound ", "level ", "actor ",
                                  "0.25 ",    "1.0 ",  "-3.5 ",   "true ",  "false ", "name=", "id=",   "\n"};
    std::mt19937 random(seed);
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) {
        if (random() % 4 == 0) {
            for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(random()));
        } else {
            out += words[random() % 16];
        }
    }
    out.resize(size);
    return out;
}

const LargeRelease& GetLargeRelease(std::uint32_t fileCount, std::uint32_t directoryCount)
{
    static std::map<std::pair<std::uint32_t, std::uint32_t>, std::unique_ptr<LargeRelease>> cache;
    auto& slot = cache[{fileCount, directoryCount}];
    if (slot) return *slot;

    using namespace Tarn::VELL::Writer;
    const std::string name = "bench" + std::to_string(fileCount);
    ProjectRelease release(name, 0x00000001);
    release.SetMaxArchiveDataSize(fileCount * 16ull / 4 + 1);  // a few archives
    auto result = std::make_unique<LargeRelease>();
    for (std::uint32_t i = 0; i < fileCount; ++i) {
        const std::uint32_t d = i % directoryCount;
        std::string path = "Data/Group" + std::to_string(d % 100) + "/Set" + std::to_string(d) + "/file" + std::to_string(i) + ".bin";
        release.Add(path, std::string(16, static_cast<char>('a' + i % 26)), Storage::Archived, Compression::Stored);
        result->paths.push_back(std::move(path));
    }
    result->contentRoot = ScratchDirectory() / name / "VELL";
    const ProjectWriteResult written = release.Write(result->contentRoot);
    result->deployDirectory = written.deployDirectory;
    result->manifestPath = written.manifestPath;
    for (const ArchiveInfo& archive : written.archives) result->indexPaths.push_back(archive.indexPath);
    slot = std::move(result);
    return *slot;
}

}  // namespace TarnBench
