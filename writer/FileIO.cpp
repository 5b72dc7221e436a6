#include "writer/FileIO.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace Tarn::VELL::Writer {

namespace {

FileFault gFault;

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path, int error)
{
    throw IoError(std::string(what) + " \"" + path.string() + "\": " + std::strerror(error));
}

std::FILE* Open(const std::filesystem::path& path, const char* mode)
{
    if (gFault && mode[0] == 'r') {
        if (const int error = gFault(FileOperation::OpenForReading, path, 0)) {
            errno = error;
            return nullptr;
        }
    }
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), mode[0] == 'r' ? L"rb" : L"wb");
#else
    std::FILE* file = std::fopen(path.c_str(), mode);
#endif
    return file;
}

}  // namespace

void SetFileFault(FileFault fault) { gFault = std::move(fault); }

int InjectedFault(FileOperation operation, const std::filesystem::path& path, size_t bytes)
{
    return gFault ? gFault(operation, path, bytes) : 0;
}

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::string content;
    ReadFileInPieces(path, [&](std::string_view piece) { content.append(piece); });
    return content;
}

uint64_t ReadFileInPieces(const std::filesystem::path& path, const std::function<void(std::string_view)>& consume)
{
    std::FILE* file = Open(path, "rb");
    if (file == nullptr) Fail("cannot open", path, errno);
    std::string buffer(1 << 20, '\0');
    uint64_t size = 0;
    size_t count;
    try {
        while ((count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
            consume(std::string_view(buffer.data(), count));
            size += count;
        }
    } catch (...) {
        std::fclose(file);
        throw;
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) Fail("cannot read", path, error);
    return size;
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
    if (gFault && !bytes.empty()) {
        if (const int error = gFault(FileOperation::Write, mPath, bytes.size())) Fail("cannot write", mPath, error);
    }
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
