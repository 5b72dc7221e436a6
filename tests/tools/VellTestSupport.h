// Running vell as a user runs it, for the tool tests: a command line through the shell with
// both streams captured, and a fixture holding the sample layout.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"

namespace VellTestSupport {

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs a command line through the system's shell, capturing both streams through files.
inline Result Execute(const TarnSupport::TempDir& dir, const std::string& commandLine)
{
    const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
    const int status = TarnSupport::RunCommand(commandLine, out, err);
    std::string errors = TarnSupport::TempDir::Read(err);
#if defined(_WIN32)
    // Standard error is a text stream: on Windows its lines end in CR LF.
    for (std::size_t at; (at = errors.find("\r\n")) != std::string::npos;) errors.erase(at, 1);
#endif
    return {status, TarnSupport::TempDir::Read(out), errors};
}

// One argument quoted for the shell (sh or cmd).
inline std::string Quote(const std::string& text) { return TarnSupport::ShellQuote(text); }

inline std::size_t LineCount(const std::string& text)
{
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

// A release of two zlib files whose first entry (bad.txt, first in manifest order) has a
// damaged check value; returns its deploy directory.
inline std::string WriteDamagedRelease(const std::filesystem::path& root)
{
    using namespace Tarn::VELL::Writer;
    ProjectRelease release("broken", 0x00000001);
    release.Add("DATA/good.txt", std::string(5000, 'g'), Storage::Archived, Compression::Zlib);
    release.Add("DATA/bad.txt", std::string(5000, 'b'), Storage::Archived, Compression::Zlib);
    const auto written = release.Write(root);
    const auto& archive = written.archives.at(0);
    std::fstream data(archive.dataPath, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(data)), std::istreambuf_iterator<char>());
    const std::size_t firstEnd = bytes.size() / 2;
    data.seekp(static_cast<std::streamoff>(firstEnd - 1));
    data.put(static_cast<char>(bytes[firstEnd - 1] ^ 0x5A));
    return written.deployDirectory.string();
}

class VellFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tarn::VELL::Writer::WriteSampleLayout(mDir.Path() / "sample");
        mClient = (mDir.Path() / "sample/VELL/projects/client/releases/0.0.0.2/deploy").string();
        mGame = (mDir.Path() / "sample/VELL/solutions/game/releases/1.0.0.0/deploy").string();
    }
    // vell [-C directory] arguments (arguments are given to the shell as they are: quote patterns
// with Quote).
    Result Vell(const std::string& directory, const std::string& arguments)
    {
        return Execute(mDir, TarnSupport::ShellProgram(VELL_BINARY) + (directory.empty() ? "" : " -C " + Quote(directory)) + " " +
                                 arguments);
    }

    TarnSupport::TempDir mDir;
    std::string mClient, mGame;
};

}  // namespace VellTestSupport
