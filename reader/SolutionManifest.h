// The solution manifest: a text file naming a solution and its version, every project of the
// solution with the release to use, a priority and flags, and named configurations (subsets
// of the projects). Projects and configurations are kept in ascending name order ignoring
// ASCII case; names are unique under that comparison.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "CStd/HResult.h"

namespace Tarn::VELL::Reader {

class SolutionManifest {
public:
    struct Project {
        std::string name;
        std::uint32_t version;
        std::uint32_t priority;
        std::uint32_t flags;
    };
    struct Configuration {
        std::string name;
        std::uint32_t flags;
        std::vector<std::string> projects;  // ascending, unique, ignoring ASCII case
    };

    // Reads the file; kOk when every section loaded. On failure the tables hold what was
    // added before it.
    HRESULT Load(const char* path);
    HRESULT LoadHeader(std::FILE* stream);
    HRESULT LoadProjects(std::FILE* stream);
    HRESULT LoadConfigurations(std::FILE* stream);

    // Inserts at the sorted place; kFail (without a message) when the name is present.
    HRESULT AddProject(const std::string& name, std::uint32_t version, std::uint32_t priority, std::uint32_t flags);
    // Every project name must be known; kFail when the configuration's name is present.
    HRESULT AddConfiguration(const std::string& name, std::vector<std::string> projects, std::uint32_t flags);

    // The project of that name ignoring ASCII case, or null.
    const Project* FindProject(const char* name) const;

    const std::string& Name() const { return mName; }
    std::uint32_t Version() const { return mVersion; }
    const std::vector<Project>& Projects() const { return mProjects; }
    const std::vector<Configuration>& Configurations() const { return mConfigurations; }

private:
    std::string mName;
    std::uint32_t mVersion = 0xFFFFFFFFu;
    std::vector<Project> mProjects;
    std::vector<Configuration> mConfigurations;
};

}  // namespace Tarn::VELL::Reader
