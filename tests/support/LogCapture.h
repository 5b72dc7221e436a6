// A host log table for tests: installed with VellSetLogger, it records every message the
// library sends (severity, tags, fully formatted text) until the capture is destroyed, which
// puts back the table and category that were current before.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TarnVellIO.h"

namespace TarnTest {

class LogCapture {
public:
    // The mask this table hands out for "VEL": a bit the built-in categories never use.
    static constexpr std::uint64_t kCategoryMask = std::uint64_t{1} << 40;
    // Tags of the library's own messages, as they arrive in this table.
    static constexpr std::uint64_t kErrorTags = kCategoryMask | 1;
    static constexpr std::uint64_t kInfoTags = kCategoryMask | 2;
    static constexpr std::uint64_t kTraceTags = kCategoryMask | 5;

    struct Entry {
        std::int32_t severity;
        std::uint64_t tags;
        std::string text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Entry> Entries() const;
    // The texts in order, of messages at or above minSeverity.
    std::vector<std::string> Texts(std::int32_t minSeverity = VELL_LOG_OKAY) const;
    size_t Count(const std::string& text) const;
    bool Contains(const std::string& text) const { return Count(text) > 0; }
    // Whether exactly this text was logged with this severity and these tags.
    bool Contains(std::int32_t severity, std::uint64_t tags, const std::string& text) const;
    // Whether the texts appear in this relative order (others may stand between them).
    bool InOrder(const std::vector<std::string>& texts) const;
    // Every registered code, in order of registration.
    std::vector<std::string> RegisteredCodes() const;
    void Clear();

    // For failure messages: everything logged, one line each.
    std::string Dump() const;

private:
    const LogFunctionTable* mPreviousTable;
    std::uint64_t mPreviousCategory;
};

// gtest helpers that print the whole log on failure.
::testing::AssertionResult Logged(const LogCapture& log, std::int32_t severity, std::uint64_t tags, const std::string& text);
::testing::AssertionResult LoggedError(const LogCapture& log, const std::string& text);
::testing::AssertionResult NotLogged(const LogCapture& log, const std::string& text);

}  // namespace TarnTest
