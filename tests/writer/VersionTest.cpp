// The writer's version numbers: packing, printing and the strict dotted form.
#include <stdexcept>

#include <gtest/gtest.h>

#include "writer/Version.h"

using namespace Tarn::VELL::Writer;

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
