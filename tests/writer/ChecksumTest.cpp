// The MD5 piece against the digests RFC 1321 lists, and the ways a caller feeds it: in
// pieces of any size, and again after a digest has been taken.
#include <string>

#include <gtest/gtest.h>

#include "writer/Checksum.h"

using namespace Tarn::VELL::Writer;

TEST(Checksum, GivesTheDigestsOfTheReferenceSuite)
{
    const std::pair<std::string, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, expected] : suite) EXPECT_EQ(HexDigest(Md5Of(text)), expected) << '"' << text << '"';
}

// Pieces that split MD5's 64-byte blocks anywhere give the digest of the whole; Finish starts
// the next digest from nothing.
TEST(Checksum, PiecesAddUpToTheWholeAndFinishStartsAfresh)
{
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 7 + (i >> 8)));
    const Md5Digest whole = Md5Of(bytes);
    Md5 md5;
    for (size_t piece : {1u, 63u, 64u, 65u, 4096u}) {
        for (size_t at = 0; at < bytes.size(); at += piece) md5.Update(std::string_view(bytes).substr(at, piece));
        EXPECT_EQ(md5.Finish(), whole) << "pieces of " << piece;
    }
    md5.Update(nullptr, 0);
    EXPECT_EQ(HexDigest(md5.Finish()), "d41d8cd98f00b204e9800998ecf8427e");
}
