// Content layouts for the benchmarks, written once per run into a temporary directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace TarnBench {

// A project release of fileCount small stored files in directoryCount directories, spread
// over archives of at most archiveBytes each. Returns the release's deploy directory.
struct LargeRelease {
    std::filesystem::path contentRoot;    // .../VELL
    std::filesystem::path deployDirectory;
    std::filesystem::path manifestPath;
    std::vector<std::filesystem::path> indexPaths;
    std::vector<std::string> paths;       // every file's path, in manifest order
};
const LargeRelease& GetLargeRelease(std::uint32_t fileCount, std::uint32_t directoryCount);

// Bytes that compress like game content: runs of text-like words mixed with noise.
std::string MixedContent(std::size_t size, std::uint32_t seed);

// A scratch directory removed at exit.
const std::filesystem::path& ScratchDirectory();

}  // namespace TarnBench
