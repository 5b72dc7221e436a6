// The one object behind the exported interface: built from a single directory (the working
// directory of a project or solution release), it works out the content root, the kind of
// release, its name and version from the path alone, builds one project listing for a
// project or one per project of a solution's configuration, and keeps them in lookup order.
// Once created it never changes; lookups only read it and may run on many threads at once.
//
// Layout below the content root (a directory named VELL; versions in their dotted form):
//   projects/<project>/releases/<version>/releasemanifest      the release manifest
//   projects/<project>/releases/<version>/deploy/<path>        naked files
//   projects/<project>/managedfiles/<version>/<path>           managed files
//   projects/<project>/filearchives/<version>/                  archives (X.olm + X.olm.dat)
//   solutions/<solution>/releases/<version>/solutionmanifest
//   solutions/<solution>/releases/<version>/configurationmanifest
//   solutions/<solution>/releases/<version>/deploy
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "reader/ProjectListing.h"

namespace Tarn::VELL::Reader {

class ListingSearch;

enum class ProjectType : std::uint32_t { Project = 0, Solution = 1 };

class RuntimeEnvironment {
public:
    using Listings = std::vector<std::unique_ptr<ProjectListing>>;
    using Found = std::pair<ProjectListing*, const ProjectListing::EntryHeader*>;

    // The environment of the release whose directory is given, or null after logging why.
    static std::unique_ptr<RuntimeEnvironment> Create(const char* directory);

    // The listing and entry of the first listing (in lookup order) that holds the normalised
    // path, directories included; both null when none does. Allocates nothing.
    Found FindEntry(const char* path) const;
    Found FindEntry(const char* path, std::size_t length) const;

    // A search of the directory of that path across every listing that has it; null when
    // no listing has a directory there.
    std::unique_ptr<ListingSearch> BeginSearch(const char* directoryPath) const;

    const std::string& Root() const { return mRoot; }
    const std::string& DeployDirectory() const { return mDeployDirectory; }
    const Listings& GetListings() const { return mListings; }
    ProjectType Type() const { return mType; }
    const std::string& Name() const { return mName; }
    std::uint32_t Version() const { return mVersion; }

    RuntimeEnvironment(std::string root, std::string deployDirectory, Listings listings, ProjectType type, std::string name,
                       std::uint32_t version);

private:
    std::string mRoot;
    std::string mDeployDirectory;
    Listings mListings;
    ProjectType mType;
    std::string mName;
    std::uint32_t mVersion;
};

// The steps of creation, exposed for tests.
// The content root: the text before the last "VELL/" followed by "VELL" (case matters); the
// whole normalised directory when "VELL/" does not occur.
std::string FindRootDirectory(const char* directory);
// Type, name and version from the path after its last "projects/" (or "solutions/").
bool GetProjectTypeNameAndVersion(const char* path, ProjectType& type, std::string& name, std::uint32_t& version);
// The project listing of one release directory, or null after logging.
std::unique_ptr<ProjectListing> CreateReleaseListing(const char* root, const char* releaseDirectory);

}  // namespace Tarn::VELL::Reader
