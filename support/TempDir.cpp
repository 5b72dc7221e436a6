#include "support/TempDir.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace TarnSupport {

namespace fs = std::filesystem;

namespace {

fs::path TemporaryBase()
{
    std::error_code error;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && fs::is_directory(tmpdir, error)) return tmpdir;
    fs::path base = fs::temp_directory_path(error);  // fails when TMPDIR names no directory
    if (error || !fs::is_directory(base, error)) base = fs::current_path();
    return base;
}

}  // namespace

TempDir::TempDir(const std::string& prefix)
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const fs::path base = TemporaryBase();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << prefix << random() << '-' << counter++;
        const fs::path candidate = base / name.str();
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            mPath = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Make everything writable again first, in case a test took permissions away.
    // The walk ends at its first error: an entry it cannot step over (a file named like a
    // Windows device, say) would otherwise hold it in place for ever.
    std::error_code walk;
    for (auto it = fs::recursive_directory_iterator(mPath, walk); !walk && it != fs::recursive_directory_iterator();
         it.increment(walk))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(mPath, ignored);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const
{
    const fs::path path = mPath / relative;
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size())) || !out.flush())
        throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

std::string TempDir::Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

const TempDir& ProcessTempDir(const std::string& prefix)
{
    static const TempDir directory(prefix);
    return directory;
}

}  // namespace TarnSupport
