// The solution manifest: a text file naming a solution and its version, every project of the
// solution with the release to use, a priority and flags, and named configurations (subsets
// of the projects). Projects and configurations are kept in ascending name order ignoring
// ASCII case; names are unique under that comparison. A project name chooses the project's
// directory, so it must be a plain path component (IsPlainPathComponent).
//
// Loading costs n log n in the number of lines: each section's entries are checked for
// repeated names as they come and put in order once, at the section's end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
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

    // Inserts at the sorted place; kFail (without a message) when the name is present, and
    // kFail after logging it when the name is not a plain path component.
    HRESULT AddProject(const std::string& name, std::uint32_t version, std::uint32_t priority, std::uint32_t flags);
    // Every project name must be known; kFail when the configuration's name is present.
    HRESULT AddConfiguration(const std::string& name, std::vector<std::string> projects, std::uint32_t flags);

    // The project of that name ignoring ASCII case, or null.
    const Project* FindProject(const char* name) const;

    const std::string& Name() const { return mName; }
    std::uint32_t Version() const { return mVersion; }
    const std::vector<Project>& Projects() const { return mProjects; }
    const std::vector<Configuration>& Configurations() const { return mConfigurations; }

    // Entries added to a list kept in ascending name order (ASCII case ignored): appended as
    // they come, refused when their name is already in the list or the batch, and merged into
    // place when the batch ends. A batch of n entries costs n log n.
    template <typename T>
    class SortedBatch {
    public:
        using Key = const std::string& (*)(const T&);
        SortedBatch(std::vector<T>& list, Key key);
        ~SortedBatch();
        SortedBatch(const SortedBatch&) = delete;
        SortedBatch& operator=(const SortedBatch&) = delete;
        // False, with the list unchanged, when the entry's name is already present.
        bool Add(T entry);

    private:
        struct Less {
            const std::vector<T>* list;
            Key key;
            bool operator()(std::size_t a, std::size_t b) const;
        };
        std::vector<T>& mList;
        Key mKey;
        std::size_t mSorted;  // the entries before this index were in order when the batch began
        std::set<std::size_t, Less> mAdded;
    };

private:
    HRESULT AddProject(SortedBatch<Project>& batch, const std::string& name, std::uint32_t version, std::uint32_t priority,
                       std::uint32_t flags);
    HRESULT AddConfiguration(SortedBatch<Configuration>& batch, const std::string& name, std::vector<std::string> projects,
                             std::uint32_t flags);

    std::string mName;
    std::uint32_t mVersion = 0xFFFFFFFFu;
    std::vector<Project> mProjects;
    std::vector<Configuration> mConfigurations;
};

}  // namespace Tarn::VELL::Reader
