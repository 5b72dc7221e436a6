// The tools' progress line: what it says at each stage of the work, and that it writes
// nothing at all unless it is enabled (standard error a terminal).
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tools/common/Progress.h"

using TarnTools::Progress;

TEST(ProgressLine, SaysFilesBytesRateAndTimeLeft)
{
    // Nothing measured yet: no rate, no estimate.
    EXPECT_EQ(Progress::Format("packing", 0, 400, 0, 10 << 20, 0.1), "packing: 0/400 files, 0 B of 10.0 MiB");
    // A quarter of the bytes in 2 s leaves 6 s, whatever the share of files.
    EXPECT_EQ(Progress::Format("packing", 300, 400, 5 << 19, 10 << 20, 2.0),
              "packing: 300/400 files, 2.5 MiB of 10.0 MiB, 1.2 MiB/s, 0:06 left");
    // Without a byte total the files give the estimate; hours appear when needed.
    EXPECT_EQ(Progress::Format("hashing", 1, 1000, 2048, 0, 4.0), "hashing: 1/1000 files, 2.0 KiB, 512 B/s, 1:06:36 left");
    // Unknown totals: counts only.
    EXPECT_EQ(Progress::Format("reading", 7, 0, 100, 0, 1.0), "reading: 7 files, 100 B, 100 B/s");
}

TEST(ProgressLine, WritesOnlyWhenEnabledAndClearsItsLineAtTheEnd)
{
    auto written = [](bool enabled) {
        std::FILE* out = std::tmpfile();
        {
            Progress progress("extracting", 2, 10, out, enabled);
            progress.Add(1, 5);
            progress.Add(1, 5);  // within 100 ms of the first: not shown again
        }
        std::string text(256, '\0');
        std::rewind(out);
        text.resize(std::fread(text.data(), 1, text.size(), out));
        std::fclose(out);
        return text;
    };
    EXPECT_EQ(written(false), "");
    EXPECT_EQ(written(true), "\rextracting: 1/2 files, 5 B of 10 B\033[K\r\033[K");
}
