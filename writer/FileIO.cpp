#include "writer/FileIO.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace Tarn::VELL::Writer {

namespace {

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path, int error)
{
    throw IoError(std::string(what) + " \"" + path.string() + "\": " + std::strerror(error));
}

std::FILE* Open(const std::filesystem::path& path, const char* mode)
{
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), mode[0] == 'r' ? L"rb" : L"wb");
#else
    std::FILE* file = std::fopen(path.c_str(), mode);
#endif
    return file;
}

}  // namespace

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::FILE* file = Open(path, "rb");
    if (file == nullptr) Fail("cannot open", path, errno);
    std::string content;
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) Fail("cannot read", path, error);
    return content;
}

void CreateDirectories(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throw IoError("cannot create the directory \"" + path.string() + "\": " + error.message());
}

void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes)
{
    if (path.has_parent_path()) CreateDirectories(path.parent_path());
    OutputFile file(path);
    file.Append(bytes);
    file.Close();
}

void DirectoryMaker::Ensure(const std::filesystem::path& directory)
{
    if (mMade.insert(directory.string()).second) CreateDirectories(directory);
}

OutputFile::OutputFile(const std::filesystem::path& path) : mPath(path)
{
    mFile = Open(path, "wb");
    if (mFile == nullptr) Fail("cannot create", path, errno);
    std::setvbuf(mFile, nullptr, _IOFBF, 1 << 20);
}

OutputFile::~OutputFile()
{
    if (mFile != nullptr) std::fclose(mFile);
}

void OutputFile::Append(std::string_view bytes)
{
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), mFile) != bytes.size())
        Fail("cannot write", mPath, errno);
    mSize += bytes.size();
}

void OutputFile::Close()
{
    std::FILE* file = mFile;
    mFile = nullptr;
    if (file == nullptr) return;
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) Fail("cannot write", mPath, errno);
}

}  // namespace Tarn::VELL::Writer
