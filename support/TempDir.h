// A directory of its own for one test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace TarnTest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return mPath; }
    // The path of a name inside the directory, as text.
    std::string operator/(const std::string& relative) const { return (mPath / relative).string(); }
    // Writes a file (creating its directories) and returns its path.
    std::string Write(const std::string& relative, const std::string& content) const;
    static std::string Read(const std::string& path);

private:
    std::filesystem::path mPath;
};

}  // namespace TarnTest
