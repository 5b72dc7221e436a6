#include "reader/SolutionManifest.h"

#include <algorithm>

#include "CStd/PathComponent.h"
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
constexpr char kAddProjectName[] = "Tarn::VELL::Reader::SolutionManifest::AddProject";
constexpr char kAddConfigurationName[] = "Tarn::VELL::Reader::SolutionManifest::AddConfiguration";
constexpr std::uint32_t kFileVersion = kTextManifestFileVersion;

bool LessNoCase(const std::string& a, const std::string& b) { return Win32::_stricmp(a.c_str(), b.c_str()) < 0; }
bool SameNoCase(const std::string& a, const std::string& b) { return Win32::_stricmp(a.c_str(), b.c_str()) == 0; }

const std::string& ProjectKey(const SolutionManifest::Project& p) { return p.name; }
const std::string& ConfigurationKey(const SolutionManifest::Configuration& c) { return c.name; }
const std::string& NameKey(const std::string& s) { return s; }

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

// ---- sorted batches ---------------------------------------------------------------------------

template <typename T>
bool SolutionManifest::SortedBatch<T>::Less::operator()(std::size_t a, std::size_t b) const
{
    return LessNoCase(key((*list)[a]), key((*list)[b]));
}

template <typename T>
SolutionManifest::SortedBatch<T>::SortedBatch(std::vector<T>& list, Key key)
    : mList(list), mKey(key), mSorted(list.size()), mAdded(Less{&list, key})
{
}

template <typename T>
bool SolutionManifest::SortedBatch<T>::Add(T entry)
{
    const auto sortedEnd = mList.begin() + static_cast<std::ptrdiff_t>(mSorted);
    const auto at = std::lower_bound(mList.begin(), sortedEnd, mKey(entry),
                                     [this](const T& item, const std::string& n) { return LessNoCase(mKey(item), n); });
    if (at != sortedEnd && SameNoCase(mKey(*at), mKey(entry))) return false;
    mList.push_back(std::move(entry));
    if (!mAdded.insert(mList.size() - 1).second) {
        mList.pop_back();
        return false;
    }
    return true;
}

template <typename T>
SolutionManifest::SortedBatch<T>::~SortedBatch()
{
    mAdded.clear();
    auto less = [this](const T& a, const T& b) { return LessNoCase(mKey(a), mKey(b)); };
    const auto middle = mList.begin() + static_cast<std::ptrdiff_t>(mSorted);
    std::sort(middle, mList.end(), less);
    std::inplace_merge(mList.begin(), middle, mList.end(), less);
}

// ---- loading ----------------------------------------------------------------------------------

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
    SortedBatch<Project> batch(mProjects, ProjectKey);
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
        if (Failed(AddProject(batch, name, version, priority, flags))) {
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
    SortedBatch<Configuration> batch(mConfigurations, ConfigurationKey);
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
        {
            SortedBatch<std::string> names(projects, NameKey);
            std::string projectName;
            for (std::uint32_t k = 0; k < projectCount; ++k) {
                if (Failed(ReadString(stream, projectName))) {
                    LogError("%s: Failed to read name of project in configuration", kConfigurationsName);
                    return kFail;
                }
                if (!names.Add(projectName)) {
                    LogError("%s: Duplicate project in configuration", kConfigurationsName);
                    return kFail;
                }
            }
        }
        if (Failed(AddConfiguration(batch, name, std::move(projects), flags))) {
            LogError("%s: Failed to add configuration", kConfigurationsName);
            return kFail;
        }
    }
    return kOk;
}

HRESULT SolutionManifest::AddProject(const std::string& name, std::uint32_t version, std::uint32_t priority,
                                     std::uint32_t flags)
{
    SortedBatch<Project> batch(mProjects, ProjectKey);
    return AddProject(batch, name, version, priority, flags);
}

HRESULT SolutionManifest::AddProject(SortedBatch<Project>& batch, const std::string& name, std::uint32_t version,
                                     std::uint32_t priority, std::uint32_t flags)
{
    if (!IsPlainPathComponent(name)) {
        LogError("%s: The project name \"%s\" is not a plain path component.", kAddProjectName, name.c_str());
        return kFail;
    }
    return batch.Add(Project{name, version, priority, flags}) ? kOk : kFail;
}

HRESULT SolutionManifest::AddConfiguration(const std::string& name, std::vector<std::string> projects, std::uint32_t flags)
{
    SortedBatch<Configuration> batch(mConfigurations, ConfigurationKey);
    return AddConfiguration(batch, name, std::move(projects), flags);
}

HRESULT SolutionManifest::AddConfiguration(SortedBatch<Configuration>& batch, const std::string& name,
                                           std::vector<std::string> projects, std::uint32_t flags)
{
    for (const std::string& project : projects) {
        if (FindProject(project.c_str()) == nullptr) {
            LogError("%s: Configuration references unknown project.  Add projects before configurations.",
                     kAddConfigurationName);
            return kFail;
        }
    }
    return batch.Add(Configuration{name, flags, std::move(projects)}) ? kOk : kFail;
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
