// Whole-file and block reads into buffers, and the C-runtime open they go through.
#include <cstdio>

#include "reader/FileReads.h"

#include "ReaderTestSupport.h"
#include "support/Platform.h"

using namespace Tarn;
using namespace Tarn::VELL::Reader;
using namespace ReaderTest;

TEST(FileReads, ReadsWholeFilesAndBlocksAndRefusesWhatHasNoSizeOrComesUpShort)
{
    LogCapture log;
    TempDir dir;
    std::vector<uint8_t> data{1, 2, 3};
    EXPECT_EQ(ReadFileIntoBuffer(dir.Write("empty.bin", "").c_str(), data), kOk);
    EXPECT_TRUE(data.empty());
    const std::string content("abc\0def", 7), file = dir.Write("file.bin", content);
    EXPECT_EQ(ReadFileIntoBuffer(file.c_str(), data), kOk);
    EXPECT_EQ(std::string(data.begin(), data.end()), content);
    EXPECT_EQ(ReadFileBlockIntoBuffer(file.c_str(), 3, data), kOk);
    EXPECT_EQ(std::string(data.begin(), data.end()), "abc");

    // Directories and missing files fail at the status step, before any open.
    const std::string missing = dir / "missing.bin", fopenFailed = "Tarn::VELL::Reader::vell_fopen_s: (\"" + missing +
                                                                  "\", \"rb\") failed: No such file or directory";
    for (const std::string& path : {dir.Path().string(), missing}) {
        EXPECT_EQ(ReadFileIntoBuffer(path.c_str(), data), kFail);
        EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to get size of \"" + path + "\"."));
    }
    EXPECT_FALSE(log.Contains(fopenFailed));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags,
                                 "Tarn::VELL::Reader::ReadFileIntoBuffer: (" + missing + ")"));

    // An open that fails reports both error texts.
    std::FILE* stream = reinterpret_cast<std::FILE*>(1);
    EXPECT_EQ(vell_fopen_s(&stream, missing.c_str(), "rb"), 2);
    EXPECT_EQ(stream, nullptr);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::vell_fopen_s: No such file or directory"));
    EXPECT_TRUE(LoggedError(log, fopenFailed));
    EXPECT_EQ(ReadFileBlockIntoBuffer(missing.c_str(), 4, data), kFail);
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ReadFileBlockIntoBuffer: Failed to open \"" + missing + "\"."));

    // A read that comes up short fails.
    TarnTest::ScopedCalls calls;
    Win32::gCalls.fread = [](void* b, size_t s, size_t n, std::FILE* f) { return std::fread(b, s, n > 0 ? n - 1 : 0, f); };
    log.Clear();
    EXPECT_EQ(ReadFileIntoBuffer(file.c_str(), data), kFail);
    EXPECT_TRUE(log.InOrder({"Tarn::VELL::Reader::ReadFileBlockIntoBuffer: " + TarnTest::CrtText(0),
                             "Tarn::VELL::Reader::ReadFileBlockIntoBuffer: fread failed",
                             "Tarn::VELL::Reader::ReadFileIntoBuffer: Failed to read \"" + file + "\"."}))
        << log.Dump();
}
