// Writes one solution release under a content root (the directory named VELL):
//
//   solutions/<name>/releases/<version>/solutionmanifest        text, see below
//   solutions/<name>/releases/<version>/configurationmanifest   text, see below
//   solutions/<name>/releases/<version>/deploy/                  created empty
//
// Both manifests are text with one field per line, each line ended by "\n":
//
//   solutionmanifest                      configurationmanifest
//     VELL Solution Manifest                VELL Configuration Manifest
//     1.0.0.0                               1.0.0.0
//     <solution name>                       <configuration name>
//     <solution version a.b.c.d>            <project count N>
//     <project count P>                     N project names, file order kept
//     P x { name, version a.b.c.d, priority, flags }
//     <configuration count C>
//     C x { name, flags, project count N, N project names }
//
// Readers load the projects that the configuration manifest names, at the versions the
// solution manifest gives them, highest priority first. The writer refuses (with
// std::invalid_argument) what a reader would refuse: a name holding a line break or longer
// than 1023 characters, a project or configuration named twice (ignoring ASCII case), a
// configuration naming a project twice or naming an unknown project, and a configuration
// manifest naming an unknown project. Deliberately broken manifests are easiest written by
// hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Tarn::VELL::Writer {

struct SolutionProject {
    std::string name;
    uint32_t version = 0;
    uint32_t priority = 0;
    uint32_t flags = 0;
};

struct SolutionConfiguration {
    std::string name;
    uint32_t flags = 0;
    std::vector<std::string> projects;
};

struct SolutionWriteResult {
    std::filesystem::path releaseDirectory;  // <root>/solutions/<name>/releases/<version>
    std::filesystem::path deployDirectory;   // releaseDirectory/deploy
    std::filesystem::path solutionManifestPath;
    std::filesystem::path configurationManifestPath;
};

class SolutionRelease {
public:
    using WriteResult = SolutionWriteResult;

    // name: one path component (std::invalid_argument otherwise).
    SolutionRelease(std::string name, uint32_t version);

    // Projects are written in the order added (readers sort them by name).
    SolutionRelease& AddProject(std::string name, uint32_t version, uint32_t priority, uint32_t flags = 0);
    SolutionRelease& AddConfiguration(std::string name, uint32_t flags, std::vector<std::string> projects);
    // The configuration manifest's content. Unless set, it names configuration "default"
    // with every project of the solution in the order added.
    SolutionRelease& SetConfigurationManifest(std::string configurationName, std::vector<std::string> projects);

    const std::string& Name() const { return mName; }
    uint32_t Version() const { return mVersion; }
    const std::vector<SolutionProject>& Projects() const { return mProjects; }

    std::string BuildSolutionManifest() const;
    std::string BuildConfigurationManifest() const;

    // Whether Write may replace an existing release of this version (default true); when
    // false, Write throws ReleaseExists before anything is written.
    SolutionRelease& SetReplaceExisting(bool replace);

    // Writes both manifests and creates the deploy directory, all or nothing as a project
    // release is written (writer/ReleaseCommit.h). Throws IoError on failure.
    WriteResult Write(const std::filesystem::path& contentRoot) const;

private:
    bool HasProject(const std::string& name) const;

    std::string mName;
    uint32_t mVersion;
    std::vector<SolutionProject> mProjects;
    std::vector<SolutionConfiguration> mConfigurations;
    bool mConfigurationManifestSet = false;
    std::string mConfigurationName = "default";
    std::vector<std::string> mConfigurationProjects;
    bool mReplaceExisting = true;
};

}  // namespace Tarn::VELL::Writer
