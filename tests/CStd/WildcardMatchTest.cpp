// Wildcard matching: the non-backtracking rules, on many threads at once (it keeps no shared
// scratch state).
#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/WildcardMatch.h"

using namespace Tarn;

// A literal run after '*' takes its first occurrence for good: no backtracking.
TEST(WildcardMatch, FollowsTheNonBacktrackingRulesOnEveryThread)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"DATA/Foo.OLM", "data/*.olm", true}, {"a.olm.dat", "*.olm", false}, {"fo", "f?o", false},  {"", "*", true},
        {"x", "", false},                     {"", "", true},                {"a.dds", "*.dds", true}, {"a.dds.dds", "*.dds", false},
        {"a.txt.a.txt", "*a.txt", false},     {"any/thing\\at all", "*", true}, {"abc", "a*", true}, {"abcd", "?b*d", true},
        {"ABCD", "a?c?", true},               {"abc", "a?c?", false},        {"xaYb", "*a*b", true},   {nullptr, "*", false},
        {"a", nullptr, false}};
    for (const auto& [text, pattern, expected] : cases)
        EXPECT_EQ(WildcardMatch(text, pattern), expected) << (text ? text : "null") << " " << (pattern ? pattern : "null");
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&wrong, t] {
            std::string name = "File" + std::to_string(t) + ".DDS";
            for (int i = 0; i < 20000; ++i) wrong += !WildcardMatch(name.c_str(), "file*.dds") || WildcardMatch(name.c_str(), "*.dds.x");
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
