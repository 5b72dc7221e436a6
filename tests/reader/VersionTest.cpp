// Version numbers in their dotted text form: what parses, what is refused, how they print.
#include "reader/Version.h"

#include "ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;

TEST(VersionString, ParsesFourNumbersUpTo255AndFormatsWithoutPadding)
{
    const std::pair<const char*, uint32_t> valid[] = {
        {"1.0.0.0", 0x01000000u},   {"255.255.255.255", 0xFFFFFFFFu}, {"1.0.0.0xyz", 0x01000000u}, {"1.0.0.0\r\n", 0x01000000u},
        {"\t1.2.3.4", 0x01020304u}, {"+1.\t2.3.4", 0x01020304u},       {"-0.0.0.7", 7u}};
    for (const auto& [text, value] : valid) {
        uint32_t version = 0xDEADBEEF;
        EXPECT_TRUE(ParseVersionString(text, &version)) << text;
        EXPECT_EQ(version, value) << text;
    }
    for (const char* bad : {"1.0.0.256", "-1.0.0.0", "1.0.0", "1. 0.0.0", "1.0.0.0 ", "1..0.0", "a.b.c.d", "",
                            "99999999999999999999.0.0.0", "1.0.0.4294967297", static_cast<const char*>(nullptr)}) {
        uint32_t version = 0xDEADBEEF;
        EXPECT_FALSE(ParseVersionString(bad, &version)) << (bad ? bad : "(null)");
        EXPECT_EQ(version, 0u) << (bad ? bad : "(null)");
    }
    EXPECT_STREQ(FormatVersionString(0x00000076).c_str(), "0.0.0.118");
    EXPECT_STREQ(FormatVersionString(0xFFFFFFFF).c_str(), "255.255.255.255");
}
