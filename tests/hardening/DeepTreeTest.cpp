// A release manifest whose tree nests long names far past the path limit.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/CStd.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "writer/ArchiveIndex.h"
#include "writer/ReleaseManifest.h"

namespace {

namespace W = Tarn::VELL::Writer;
using Tarn::VELL::Reader::ProjectListing;

// A chain of directories each named by one 200-character name, ending in a naked file and an
// archived file: their paths (about 60,000 characters) can never be opened, and building them
// in full once cost time and memory growing with the square of the depth.
TEST(DeepTree, PathsPastTheLimitAreCutThereAndReportedMissing)
{
    constexpr std::uint32_t kDepth = 300;
    std::vector<W::ManifestDirectory> directories(kDepth);
    for (std::uint32_t i = 0; i + 1 < kDepth; ++i) directories[i] = {1, i + 1, 1, 0, 0};
    directories[kDepth - 1] = {1, 0, 0, 0, 2};
    const std::vector<W::ManifestFile> files = {{2, 1, {}, 0, 10}, {3, 1, {}, 0x16, 10}};
    const std::string name(200, 'd');
    TarnSupport::TempDir dir;
    const std::string manifestPath = dir.Write(
        "releasemanifest", W::BuildRawManifest(W::kManifestFormatV2, 0, 1, directories, files, {"p", name, "naked.txt", "zipped.txt"}));
    // The archive holds the cut path: what no host can open must not be bound to it either.
    const std::string cut = name + "/" + name.substr(0, Tarn::kMaxPath - name.size() - 1);
    dir.Write("VELL/projects/p/filearchives/0.0.0.1/data.olm", W::BuildArchiveIndex({{cut + "zipped.txt", 0, 10}, {cut, 0, 10}}));
    dir.Write("VELL/projects/p/filearchives/0.0.0.1/data.olm.dat", std::string(10, 'z'));

    TarnTest::LogCapture log;
    auto manifest = Tarn::VELL::Reader::ReleaseManifest::Load(manifestPath.c_str());
    ASSERT_NE(manifest, nullptr);
    std::unique_ptr<ProjectListing> listing(manifest->CreateListing((dir / "VELL").c_str()));
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(listing->DirectoryCount(), kDepth);
    EXPECT_EQ(listing->File(0)->storage, nullptr);
    EXPECT_EQ(listing->File(1)->storage, nullptr);

    // Both files are reported with their path cut at the limit: the first directory's 200
    // characters, a slash and the first 59 characters of the next name.
    const std::string bind =
        "Tarn::VELL::Reader::ReleaseManifestTemplate<struct Tarn::VELL::Reader::FileTableEntry>::GetFileArchiveMetadata: ";
    EXPECT_TRUE(TarnTest::LoggedError(log, bind + "Missing naked file: " + cut));
    EXPECT_TRUE(TarnTest::LoggedError(log, bind + "Archives for version 0.0.0.1 are missing an entry for: " + cut));
}

}  // namespace
