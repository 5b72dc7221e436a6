// What a host reads from a release, through the library's exported functions: every file of
// the release by path, with its bytes. And what lies on disk below a content root, for
// checking that a failed write changed nothing.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "TarnVellIO.h"
#include "support/LogCapture.h"
#include "writer/FormatCheck.h"

namespace ReadBack {

using Files = std::map<std::string, std::string>;

inline void Walk(const std::string& directory, Files& files)
{
    const std::string pattern = directory.empty() ? "*" : directory + "/*";
    VellFindHandle search = VellFindFirstFile(pattern.c_str());
    ASSERT_NE(search, nullptr) << pattern;
    uint32_t isDirectory = 0;
    uint64_t size = 0;
    char name[260];
    std::map<std::string, bool> entries;
    while (VellFindNextFile(search, &isDirectory, &size, sizeof name, name) == VELL_OK) entries[name] = isDirectory != 0;
    VellFindClose(search);
    for (const auto& [entry, isSubdirectory] : entries) {
        const std::string path = directory.empty() ? entry : directory + "/" + entry;
        if (isSubdirectory) {
            Walk(path, files);
            continue;
        }
        VellFileHandle file = VellOpenFile(path.c_str());
        ASSERT_NE(file, nullptr) << path;
        std::string bytes(static_cast<size_t>(VellGetFileSize(file)), '\0');
        uint32_t read = 0;
        if (!bytes.empty()) {
            EXPECT_EQ(VellRead(file, 0, static_cast<uint32_t>(bytes.size()), &read, bytes.data()), VELL_OK) << path;
        }
        EXPECT_EQ(read, bytes.size()) << path;
        VellCloseFile(file);
        files[path] = bytes;
    }
}

// Every file of the release whose deploy directory is given, as the library serves it.
// Fails the test when the library cannot load the release or logs an error doing so.
inline Files ThroughLibrary(const std::filesystem::path& deploy)
{
    TarnTest::LogCapture log;
    Files files;
    EXPECT_EQ(VellInitialize(0, 0, 0, deploy.string().c_str()), VELL_OK) << deploy << "\n" << log.Dump();
    Walk("", files);
    VellShutdown();
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    return files;
}

// Every entry below directory by relative path, with the bytes of the regular files.
inline Files OnDisk(const std::filesystem::path& directory)
{
    Files files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(directory))
        files[item.path().lexically_relative(directory).generic_string()] = item.is_regular_file() ? WriterTest::ReadBytes(item.path()) : "";
    return files;
}

// The paths whose presence or bytes differ, one a line; empty when the two are the same. Keeps
// failure messages short where whole trees are compared.
inline std::string Differences(const Files& got, const Files& expected)
{
    std::string out;
    for (const auto& [path, bytes] : got) {
        auto found = expected.find(path);
        if (found == expected.end()) out += "unexpected " + path + "\n";
        else if (found->second != bytes) out += "other bytes " + path + "\n";
    }
    for (const auto& [path, bytes] : expected)
        if (!got.count(path)) out += "missing " + path + "\n";
    return out;
}

}  // namespace ReadBack
