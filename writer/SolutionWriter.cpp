#include "writer/SolutionWriter.h"

#include <stdexcept>
#include <system_error>

#include "writer/ArchivePath.h"
#include "writer/FileIO.h"
#include "writer/PathNames.h"
#include "writer/ReleaseCommit.h"
#include "writer/Version.h"

namespace Tarn::VELL::Writer {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxLine = 1023;  // readers take at most this many characters per line

void CheckLine(const std::string& text, const char* what)
{
    if (text.find_first_of("\r\n") != std::string::npos)
        throw std::invalid_argument(std::string(what) + " \"" + text + "\" holds a line break");
    if (text.size() > kMaxLine)
        throw std::invalid_argument(std::string(what) + " is longer than 1023 characters");
}

void CheckComponent(const std::string& name, const char* what)
{
    RequirePathComponent(name, what);
    CheckLine(name, what);
}

void Line(std::string& out, const std::string& text)
{
    out += text;
    out.push_back('\n');
}

}  // namespace

SolutionRelease::SolutionRelease(std::string name, uint32_t version) : mName(std::move(name)), mVersion(version)
{
    CheckComponent(mName, "solution name");
    RequireProjectName(mName, "solution name");
}

bool SolutionRelease::HasProject(const std::string& name) const
{
    for (const SolutionProject& project : mProjects)
        if (CompareNoCase(project.name, name) == 0) return true;
    return false;
}

SolutionRelease& SolutionRelease::AddProject(std::string name, uint32_t version, uint32_t priority, uint32_t flags)
{
    CheckComponent(name, "project name");  // it names the project's directory
    RequireProjectName(name, "project name");
    if (HasProject(name)) throw std::invalid_argument("project \"" + name + "\" is already in the solution");
    mProjects.push_back({std::move(name), version, priority, flags});
    return *this;
}

SolutionRelease& SolutionRelease::AddConfiguration(std::string name, uint32_t flags, std::vector<std::string> projects)
{
    CheckLine(name, "configuration name");
    for (const SolutionConfiguration& configuration : mConfigurations)
        if (CompareNoCase(configuration.name, name) == 0)
            throw std::invalid_argument("configuration \"" + name + "\" is already in the solution");
    for (size_t i = 0; i < projects.size(); ++i) {
        CheckLine(projects[i], "project name");
        for (size_t j = 0; j < i; ++j)
            if (CompareNoCase(projects[i], projects[j]) == 0)
                throw std::invalid_argument("configuration \"" + name + "\" names project \"" + projects[i] + "\" twice");
    }
    mConfigurations.push_back({std::move(name), flags, std::move(projects)});
    return *this;
}

SolutionRelease& SolutionRelease::SetConfigurationManifest(std::string configurationName, std::vector<std::string> projects)
{
    CheckLine(configurationName, "configuration name");
    for (const std::string& project : projects) CheckLine(project, "project name");
    mConfigurationManifestSet = true;
    mConfigurationName = std::move(configurationName);
    mConfigurationProjects = std::move(projects);
    return *this;
}

std::string SolutionRelease::BuildSolutionManifest() const
{
    std::string out;
    Line(out, "VELL Solution Manifest");
    Line(out, "1.0.0.0");
    Line(out, mName);
    Line(out, FormatVersion(mVersion));
    Line(out, std::to_string(mProjects.size()));
    for (const SolutionProject& project : mProjects) {
        Line(out, project.name);
        Line(out, FormatVersion(project.version));
        Line(out, std::to_string(project.priority));
        Line(out, std::to_string(project.flags));
    }
    Line(out, std::to_string(mConfigurations.size()));
    for (const SolutionConfiguration& configuration : mConfigurations) {
        Line(out, configuration.name);
        Line(out, std::to_string(configuration.flags));
        Line(out, std::to_string(configuration.projects.size()));
        for (const std::string& project : configuration.projects) {
            if (!HasProject(project))
                throw std::invalid_argument("configuration \"" + configuration.name + "\" names project \"" + project +
                                            "\", which is not in the solution");
            Line(out, project);
        }
    }
    return out;
}

std::string SolutionRelease::BuildConfigurationManifest() const
{
    std::vector<std::string> projects;
    if (mConfigurationManifestSet) {
        projects = mConfigurationProjects;
    } else {
        for (const SolutionProject& project : mProjects) projects.push_back(project.name);
    }
    std::string out;
    Line(out, "VELL Configuration Manifest");
    Line(out, "1.0.0.0");
    Line(out, mConfigurationName);
    Line(out, std::to_string(projects.size()));
    for (const std::string& project : projects) {
        if (!HasProject(project))
            throw std::invalid_argument("the configuration manifest names project \"" + project +
                                        "\", which is not in the solution");
        Line(out, project);
    }
    return out;
}

SolutionRelease& SolutionRelease::SetReplaceExisting(bool replace)
{
    mReplaceExisting = replace;
    return *this;
}

SolutionRelease::WriteResult SolutionRelease::Write(const fs::path& contentRoot) const
{
    const std::string solutionManifest = BuildSolutionManifest();
    const std::string configurationManifest = BuildConfigurationManifest();
    const fs::path solutionDirectory = contentRoot / "solutions" / mName;
    const std::string versionText = FormatVersion(mVersion);
    WriteResult result;
    result.releaseDirectory = solutionDirectory / "releases" / versionText;
    result.deployDirectory = result.releaseDirectory / "deploy";
    result.solutionManifestPath = result.releaseDirectory / "solutionmanifest";
    result.configurationManifestPath = result.releaseDirectory / "configurationmanifest";

    CreateDirectories(solutionDirectory / "releases");
    RecoverInterruptedWrites(solutionDirectory);
    std::error_code error;
    if (!mReplaceExisting && fs::exists(result.releaseDirectory, error))
        throw ReleaseExists("release " + versionText + " of solution \"" + mName + "\" exists already");
    const fs::path staged = Staged(result.releaseDirectory);
    try {
        CreateDirectories(staged / "deploy");
        WriteWholeFile(staged / "solutionmanifest", solutionManifest);
        WriteWholeFile(staged / "configurationmanifest", configurationManifest);
    } catch (...) {
        RemoveQuietly(staged);
        throw;
    }
    ReleaseCommit commit(solutionDirectory, versionText);
    commit.Retire(result.releaseDirectory);
    commit.Install(staged, result.releaseDirectory);
    try {
        commit.Run();
    } catch (...) {
        if (!commit.Started()) RemoveQuietly(staged);
        throw;
    }
    return result;
}

}  // namespace Tarn::VELL::Writer
