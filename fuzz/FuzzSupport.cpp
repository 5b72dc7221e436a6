#include "FuzzSupport.h"

#include <filesystem>
#include <system_error>

#include "TarnVellIO.h"
#include "support/QuietLogTable.h"
#include "support/TempDir.h"

namespace TarnFuzz {

void QuietLogging()
{
    static const LogFunctionTable table = TarnSupport::QuietLogTable();
    static const bool installed = (VellSetLogger(&table), true);
    (void)installed;
}

const std::string& ScratchDir()
{
    static const std::string path = TarnSupport::ProcessTempDir("vell-fuzz-").Path().string();
    return path;
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        file = std::fopen(path.c_str(), "wb");
    }
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

std::string Canonical(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(path, error);
    return error ? path : canonical.string();
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::vector<std::string_view> SplitParts(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count) {
        const std::size_t at = rest.find(kPartMarker);
        if (at == std::string_view::npos) break;
        parts.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kPartMarker.size());
    }
    parts.push_back(rest);
    parts.resize(count);
    return parts;
}

std::string JoinParts(const std::vector<std::string>& parts)
{
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) joined.append(i ? kPartMarker : "").append(parts[i]);
    return joined;
}

std::string LooseContent(const char* path) { return std::string("loose file ") + path + "\n"; }

LayoutPaths GetLayoutPaths()
{
    LayoutPaths paths;
    paths.root = ScratchDir() + "/VELL";
    paths.project = paths.root + "/projects/" + kProject;
    paths.release = paths.project + "/releases/" + kVersionText;
    paths.solution = paths.root + "/solutions/" + kSolution + "/releases/" + kSolutionVersionText;
    return paths;
}

}  // namespace TarnFuzz
