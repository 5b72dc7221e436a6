#include "reader/SolutionManifest.h"

#include <algorithm>

#include "CStd/StdFile.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/FieldReaders.h"
#include "reader/FileReads.h"
#include "reader/Formats.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kLoadName[] = "Tarn::VELL::Reader::SolutionManifest::Load";
constexpr char kHeaderName[] = "Tarn::VELL::Reader::SolutionManifest::LoadHeader";
constexpr char kProjectsName[] = "Tarn::VELL::Reader::SolutionManifest::LoadProjects";
constexpr char kConfigurationsName[] = "Tarn::VELL::Reader::SolutionManifest::LoadConfigurations";
constexpr char kAddConfigurationName[] = "Tarn::VELL::Reader::SolutionManifest::AddConfiguration";
constexpr std::uint32_t kFileVersion = kTextManifestFileVersion;

bool LessNoCase(const std::string& a, const std::string& b) { return Win32::_stricmp(a.c_str(), b.c_str()) < 0; }

// Where name stands, or would stand, in a list sorted ignoring ASCII case.
template <typename T, typename Key>
auto LowerBound(std::vector<T>& list, const std::string& name, Key key)
{
    return std::lower_bound(list.begin(), list.end(), name,
                            [&key](const T& item, const std::string& n) { return LessNoCase(key(item), n); });
}

bool SameNoCase(const std::string& a, const std::string& b) { return Win32::_stricmp(a.c_str(), b.c_str()) == 0; }

// Reads a count line with a plain fgets (1024 characters); nothing read with a last error of
// 0 counts as an empty line.
HRESULT ReadCountLine(std::FILE* stream, const char* name, int& count)
{
    char line[1024];
    if (Win32::fgets(line, sizeof(line), stream) == nullptr) {
        const auto lastError = static_cast<std::int32_t>(Win32::GetLastError());
        LogSystemError(name, lastError);
        if (lastError != 0) return kFail;
        line[0] = '\0';
    }
    count = ConvertInt(line);
    return kOk;
}

}  // namespace

HRESULT SolutionManifest::Load(const char* path)
{
    LogInfo("%s: (\"%s\")", kLoadName, path ? path : "");
    mProjects.clear();
    mConfigurations.clear();
    std::FILE* stream = std_fopen(path, "rt");
    if (stream == nullptr) {
        LogSystemError(kLoadName, static_cast<std::int32_t>(Win32::GetLastError()));
        LogError("%s: Failed to open \"%s\".", kLoadName, path ? path : "");
        return kFail;
    }
    HRESULT result = kOk;
    if (Failed(LoadHeader(stream))) {
        LogError("%s: Failed to load header", kLoadName);
        result = kFail;
    } else if (Failed(LoadProjects(stream))) {
        LogError("%s: Failed to load projects", kLoadName);
        result = kFail;
    } else if (Failed(LoadConfigurations(stream))) {
        LogError("%s: Failed to load configurations", kLoadName);
        result = kFail;
    }
    Win32::fclose(stream);
    return result;
}

HRESULT SolutionManifest::LoadHeader(std::FILE* stream)
{
    std::string line;
    if (Failed(ReadString(stream, line))) {
        LogError("%s: Failure while getting magic string", kHeaderName);
        return kFail;
    }
    if (Win32::_stricmp(line.c_str(), kSolutionManifestMagic) != 0) {
        LogError("%s: Magic string does not match", kHeaderName);
        return kFail;
    }
    if (Failed(ReadString(stream, line))) {
        LogError("%s: Failure while getting file version string", kHeaderName);
        return kFail;
    }
    std::uint32_t fileVersion = 0;
    if (!ParseVersionString(line.c_str(), &fileVersion)) {
        LogError("%s: Invalid format for file version string \"%s\".", kHeaderName, line.c_str());
        return kFail;
    }
    if (fileVersion != kFileVersion) {
        LogError("%s: File version mismatch", kHeaderName);
        return kFail;
    }
    if (Failed(ReadString(stream, mName))) {
        LogError("%s: Failed to read solution name", kHeaderName);
        return kFail;
    }
    if (Failed(ReadString(stream, line))) {
        LogError("%s: Failure while getting solution version string", kHeaderName);
        return kFail;
    }
    std::uint32_t version = 0;
    if (!ParseVersionString(line.c_str(), &version)) {
        LogError("%s: Invalid format for solution version string \"%s\".", kHeaderName, line.c_str());
        return kFail;
    }
    mVersion = version;
    return kOk;
}

HRESULT SolutionManifest::LoadProjects(std::FILE* stream)
{
    int count = 0;
    if (Failed(ReadCountLine(stream, kProjectsName, count))) {
        LogError("%s: fgets failed while reading project count", kProjectsName);
        return kFail;
    }
    // Each record needs lines of its own; a count beyond the file ends at the first record
    // that cannot be read, so nothing is sized by the count.
    for (int i = 0; i < count; ++i) {
        std::string name;
        std::uint32_t version = 0, priority = 0, flags = 0;
        if (Failed(ReadString(stream, name))) {
            LogError("%s: Failed to read project name", kProjectsName);
            return kFail;
        }
        if (Failed(ReadVellVersion(stream, version))) {
            LogError("%s: Failed to read project version", kProjectsName);
            return kFail;
        }
        if (Failed(ReadDWORD(stream, priority))) {
            LogError("%s: Failed to read priority", kProjectsName);
            return kFail;
        }
        if (Failed(ReadDWORD(stream, flags))) {
            LogError("%s: Failed to read flags", kProjectsName);
            return kFail;
        }
        if (Failed(AddProject(name, version, priority, flags))) {
            LogError("%s: Failed to add project", kProjectsName);
            return kFail;
        }
    }
    return kOk;
}

HRESULT SolutionManifest::LoadConfigurations(std::FILE* stream)
{
    int count = 0;
    if (Failed(ReadCountLine(stream, kConfigurationsName, count))) return kFail;
    for (int i = 0; i < count; ++i) {
        std::string name;
        std::uint32_t flags = 0, projectCount = 0;
        if (Failed(ReadString(stream, name))) {
            LogError("%s: Failed to read name", kConfigurationsName);
            return kFail;
        }
        if (Failed(ReadDWORD(stream, flags))) {
            LogError("%s: Failed to read flags", kConfigurationsName);
            return kFail;
        }
        if (Failed(ReadDWORD(stream, projectCount))) {
            LogError("%s: Failed to read project count", kConfigurationsName);
            return kFail;
        }
        // Past the end of the file the name read repeats, which the duplicate check refuses,
        // so a count beyond the file ends after one repetition.
        std::vector<std::string> projects;
        std::string projectName;
        for (std::uint32_t k = 0; k < projectCount; ++k) {
            if (Failed(ReadString(stream, projectName))) {
                LogError("%s: Failed to read name of project in configuration", kConfigurationsName);
                return kFail;
            }
            auto at = LowerBound(projects, projectName, [](const std::string& s) -> const std::string& { return s; });
            if (at != projects.end() && SameNoCase(*at, projectName)) {
                LogError("%s: Duplicate project in configuration", kConfigurationsName);
                return kFail;
            }
            projects.insert(at, projectName);
        }
        if (Failed(AddConfiguration(name, std::move(projects), flags))) {
            LogError("%s: Failed to add configuration", kConfigurationsName);
            return kFail;
        }
    }
    return kOk;
}

HRESULT SolutionManifest::AddProject(const std::string& name, std::uint32_t version, std::uint32_t priority,
                                     std::uint32_t flags)
{
    auto at = LowerBound(mProjects, name, [](const Project& p) -> const std::string& { return p.name; });
    if (at != mProjects.end() && SameNoCase(at->name, name)) return kFail;
    mProjects.insert(at, Project{name, version, priority, flags});
    return kOk;
}

HRESULT SolutionManifest::AddConfiguration(const std::string& name, std::vector<std::string> projects, std::uint32_t flags)
{
    for (const std::string& project : projects) {
        if (FindProject(project.c_str()) == nullptr) {
            LogError("%s: Configuration references unknown project.  Add projects before configurations.",
                     kAddConfigurationName);
            return kFail;
        }
    }
    auto at = LowerBound(mConfigurations, name, [](const Configuration& c) -> const std::string& { return c.name; });
    if (at != mConfigurations.end() && SameNoCase(at->name, name)) return kFail;
    mConfigurations.insert(at, Configuration{name, flags, std::move(projects)});
    return kOk;
}

const SolutionManifest::Project* SolutionManifest::FindProject(const char* name) const
{
    if (name == nullptr) return nullptr;
    auto at = std::lower_bound(mProjects.begin(), mProjects.end(), name,
                               [](const Project& p, const char* n) { return Win32::_stricmp(p.name.c_str(), n) < 0; });
    if (at != mProjects.end() && Win32::_stricmp(at->name.c_str(), name) == 0) return &*at;
    return nullptr;
}

}  // namespace Tarn::VELL::Reader
