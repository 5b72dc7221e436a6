// Messages logged from many threads at once arrive whole on each target.
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logger/Log.h"

#include "LoggerTestSupport.h"

using namespace Tarn::Logger;
using LoggerTesting::gDebuggerLines;
using LoggerTesting::LoggerTest;

TEST_F(LoggerTest, ConcurrentMessagesArriveWholeOnEachTarget)
{
    StderrOf([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 500; ++i) LogMessage(kSeverityError, 1, 0, "thread %d message %d", t, i);
            });
        for (auto& thread : threads) thread.join();
    });
    EXPECT_EQ(gDebuggerLines.size(), 2000u);
    const std::regex whole(".*\\):  ERROR\\| thread \\d message \\d+\n");
    for (const std::string& line : gDebuggerLines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
}
