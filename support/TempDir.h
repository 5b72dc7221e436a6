// Scratch directories for tests, fuzz targets, benchmarks and tools: a directory of its own,
// removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace TarnSupport {

class TempDir {
public:
    // A new directory named PREFIX followed by random digits in the system's temporary
    // directory ($TMPDIR when it names a directory). Throws std::runtime_error when no
    // directory can be made.
    explicit TempDir(const std::string& prefix = "tarnvellio-test-");
    // Removes the directory and its content, first giving back any permission a test took away.
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return mPath; }
    // The path of a name inside the directory, as text.
    std::string operator/(const std::string& relative) const { return (mPath / relative).string(); }
    // Writes a file (creating its directories) and returns its path; throws std::runtime_error
    // when the file cannot be written.
    std::string Write(const std::string& relative, const std::string& content) const;
    // A whole file's bytes; empty when it cannot be read.
    static std::string Read(const std::string& path);

private:
    std::filesystem::path mPath;
};

// One directory for the whole process, made on first use (with the prefix of that call) and
// removed at exit.
const TempDir& ProcessTempDir(const std::string& prefix = "tarnvellio-");

}  // namespace TarnSupport
