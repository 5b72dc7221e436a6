#include "FuzzSupport.h"

#include <cstdarg>
#include <filesystem>
#include <random>
#include <system_error>

#include "TarnVellIO.h"

namespace TarnFuzz {

namespace {

int32_t VELL_CALL Version() { return 1; }
void VELL_CALL Nothing() {}
void VELL_CALL IgnoreSeverity(int32_t) {}
int32_t VELL_CALL Level() { return 0; }
void VELL_CALL IgnoreTags(uint32_t, uint32_t) {}
uint64_t VELL_CALL NoTags() { return 0; }
void VELL_CALL IgnoreTarget(ITarnLogTarget*) {}
ITarnLogTarget* VELL_CALL NoTargetNamed(const char*) { return nullptr; }
ITarnLogTarget* VELL_CALL NoTarget() { return nullptr; }
void VELL_CALL NoTagText(char* d, uint32_t size, uint32_t, uint32_t) { if (d && size) d[0] = '\0'; }
void VELL_CALL NoLine(char* d, uint32_t size, const char*, const LogRecord*) { if (d && size) d[0] = '\0'; }
const char* VELL_CALL NoName(int32_t) { return ""; }
const char* VELL_CALL NoModule() { return ""; }
void VELL_CALL NoTime(LogTime*) {}
int32_t VELL_CALL NoTimeText(char* d, uint32_t size, const LogTime*) { if (d && size) d[0] = '\0'; return 0; }
uint64_t VELL_CALL Register(uint64_t* mask, const char*) { if (mask) *mask = 0; return 0; }
void VELL_CALL Drop(int32_t, uint32_t, uint32_t, const char* format, va_list args)
{
    char text[4096];
    std::vsnprintf(text, sizeof(text), format, args);
}

const LogFunctionTable kQuietTable = {
    Version, Nothing, Nothing, IgnoreSeverity, Level, IgnoreTags, NoTags, Nothing, Nothing, Nothing, Nothing, IgnoreTarget,
    IgnoreTarget, NoTargetNamed, NoTarget, NoTarget, NoTarget, Register, NoTagText, NoLine, NoName, NoModule, NoTime,
    NoTimeText, NoTimeText, Drop,
};

struct Scratch {
    std::string path;
    Scratch()
    {
        const char* base = std::getenv("TMPDIR");
        std::error_code error;
        if (base == nullptr || !std::filesystem::is_directory(base, error)) base = "/tmp";
        std::random_device random;
        for (;;) {
            path = std::string(base) + "/vell-fuzz-" + std::to_string(random());
            if (std::filesystem::create_directory(path, error)) break;
        }
    }
    ~Scratch()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
};

}  // namespace

void QuietLogging()
{
    static const bool installed = (VellSetLogger(&kQuietTable), true);
    (void)installed;
}

const std::string& ScratchDir()
{
    static Scratch scratch;
    return scratch.path;
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
