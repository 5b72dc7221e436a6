// The rule for names taken from stored data: exactly the names that stay one entry inside the
// directory they are joined to, on POSIX and on Windows, pass.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "CStd/PathComponent.h"

namespace {

using Tarn::IsPlainPathComponent;

TEST(PathComponent, KeepsEveryOrdinaryNameAContentAuthorUses)
{
    for (std::string_view name : {"DATA", "x.dds", "Read Me.txt", ".hidden", "a..b", "...a", "file.", "name ", "_under",
                                  "CONSOLE", "CON_1", "nul-file", "COM10", "LPT", "AUXILIARY.txt", "com", "*", "?x",
                                  "\xC3\xA9t\xC3\xA9", "0.0.0.1"})
        EXPECT_TRUE(IsPlainPathComponent(name)) << name;
}

TEST(PathComponent, RefusesSeparatorsDrivesAndTheDirectoryItselfOrItsParent)
{
    for (std::string_view name : {"", ".", "..", "...", " ", ". .", ".. ", "../x", "a/b", "/tmp", "a\\b", "\\\\server",
                                  "C:", "c:x", "x:y", "file::$DATA"})
        EXPECT_FALSE(IsPlainPathComponent(name)) << '"' << name << '"';
    EXPECT_FALSE(IsPlainPathComponent(std::string_view("a\0b", 3)));
}

TEST(PathComponent, RefusesWindowsDeviceNamesInAnyCaseAndWithAnyExtension)
{
    for (std::string_view name : {"CON", "con", "Prn", "AUX", "nul", "NUL.txt", "nul.tar.gz", "con .txt", "AUX ", "COM1",
                                  "com9.log", "COM0", "LPT1", "lpt5.x", "COM\xB9", "lpt\xB2.txt", "CONIN$", "conout$.txt"})
        EXPECT_FALSE(IsPlainPathComponent(name)) << name;
}

}  // namespace
