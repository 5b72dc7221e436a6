#include <gtest/gtest.h>

#include "writer/ArchivePath.h"
#include "writer/Version.h"

using namespace Tarn::VELL::Writer;

TEST(ArchiveWriter, HashesPathsAsTheWorkedExamplesDo)
{
    EXPECT_EQ(HashArchivePath(""), 0u);
    EXPECT_EQ(HashArchivePath("abc"), 0x00006783u);
    EXPECT_EQ(HashArchivePath("ABC"), 0x00006783u);
    // Long enough for the top nibble to be folded back in.
    EXPECT_EQ(HashArchivePath("data/a.txt"), 0x0456F354u);
    EXPECT_EQ(HashArchivePath("DATA/A.TXT"), 0x0456F354u);
    // High bytes are added sign-extended and never case-folded.
    EXPECT_EQ(HashArchivePath("\xE9"), 0x0FFFFF19u);
    EXPECT_EQ(HashArchivePath("\xC9"), 0x0FFFFF39u);
}

TEST(ArchiveWriter, ComparesNamesAsStricmpDoes)
{
    EXPECT_EQ(CompareNoCase("Data", "dATA"), 0);
    // '_' (0x5F) lies between 'Z' and 'a': after folding it sorts before every letter.
    EXPECT_LT(CompareNoCase("_x", "Zeta"), 0);
    EXPECT_LT(CompareNoCase("alpha.txt", "Zeta.txt"), 0);
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);  // a proper prefix first
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);  // bytes compare unsigned
    EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);  // no folding outside ASCII
}

TEST(VersionWriter, PacksFormatsAndStrictlyParsesTheDottedForm)
{
    EXPECT_EQ(PackVersion(0, 0, 0, 118), 0x00000076u);
    EXPECT_EQ(PackVersion(1, 2, 3, 4), 0x01020304u);
    EXPECT_EQ(FormatVersion(0x01000000), "1.0.0.0");
    EXPECT_EQ(FormatVersion(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(ParseVersion("0.0.0.118"), 0x00000076u);
    EXPECT_EQ(ParseVersion("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.0.0", "1.0.0.256", "-1.0.0.0", "1.0.0.0xyz", " 1.0.0.0", "1..0.0", "1.0.0.0.0", "0001.0.0.0"})
        EXPECT_FALSE(ParseVersion(bad)) << bad;
    EXPECT_THROW(PackVersion(256, 0, 0, 0), std::invalid_argument);
}
