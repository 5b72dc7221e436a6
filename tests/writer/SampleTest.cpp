#include <filesystem>

#include <gtest/gtest.h>

#include "FormatCheck.h"
#include "writer/Sample.h"
#include "writer/Version.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;

TEST(SampleWriter, WritesEveryReleaseItDocumentsAndEachFileReadsBack)
{
    WriterTest::ScratchDir temp;
    WriteSampleLayout(temp.Path());
    const fs::path root = temp.Path() / "VELL";
    bool largeLzma = false, exactBlock = false;
    for (const ProjectRelease& release : {SampleClientPreviousRelease(), SampleClientRelease(), SamplePatchRelease()}) {
        const auto manifest = WriterTest::ParseManifest(WriterTest::ReadBytes(
            root / "projects" / release.Name() / "releases" / FormatVersion(release.Version()) / "releasemanifest"));
        const auto listed = manifest.FilesByPath();
        ASSERT_EQ(listed.size(), release.Files().size());
        for (const FileSpec& given : release.Files()) {
            const WriterTest::File& file = listed.at(given.path);
            EXPECT_EQ(WriterTest::ReadListedFile(root, release.Name(), manifest, given.path, file), given.content) << given.path;
            largeLzma = largeLzma || (file.flags == 0x32 && file.size > 262144);
            exactBlock = exactBlock || file.size == 262144;
        }
    }
    EXPECT_TRUE(largeLzma);
    EXPECT_TRUE(exactBlock);
    // Shared paths differ between the two projects of the solution.
    EXPECT_NE(SampleContent("client", kSampleClientVersion, "DATA/readme.txt", 100),
              SampleContent("patch", kSamplePatchVersion, "DATA/readme.txt", 100));
    EXPECT_TRUE(fs::is_regular_file(root / "solutions/game/releases/1.0.0.0/solutionmanifest"));
    EXPECT_TRUE(fs::is_regular_file(root / "solutions/game/releases/1.0.0.0/configurationmanifest"));
}
