// File reading and writing for the writer, with failures as exceptions that name the path
// and the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>

namespace Tarn::VELL::Writer {

// A file could not be read, created or written.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content of a file.
std::string ReadWholeFile(const std::filesystem::path& path);

// Reads a file in pieces of at most 1 MiB, handing each to consume; returns its size.
uint64_t ReadFileInPieces(const std::filesystem::path& path, const std::function<void(std::string_view)>& consume);

// Fault injection for tests: every file the writer opens for reading, every piece it writes
// and every move of a commit (writer/ReleaseCommit.h) passes through this function first
// (bytes is 0 but for writes). A nonzero errno value fails that operation with that error,
// as an unreadable source (EACCES), a full disk (ENOSPC) or a process killed before that
// move would. An empty function removes the fault. Set it while no write is running.
enum class FileOperation { OpenForReading, Write, Move };
using FileFault = std::function<int(FileOperation operation, const std::filesystem::path& path, size_t bytes)>;
void SetFileFault(FileFault fault);
// The fault set for this operation: 0 when none.
int InjectedFault(FileOperation operation, const std::filesystem::path& path, size_t bytes);

// Replaces the file with the bytes, creating its parent directories.
void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Creates a directory and its parents.
void CreateDirectories(const std::filesystem::path& path);

// Creates directories, remembering those already made so that writing many files into few
// directories does not ask the file system about the same directory again and again.
class DirectoryMaker {
public:
    void Ensure(const std::filesystem::path& directory);

private:
    std::unordered_set<std::string> mMade;
};

// A file written from start to end in appended pieces, with a large buffer.
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& path);  // creates or truncates
    ~OutputFile();                                           // closes, ignoring errors
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Append(std::string_view bytes);
    uint64_t Size() const { return mSize; }
    // Flushes and closes; throws IoError if any write failed.
    void Close();

private:
    std::filesystem::path mPath;
    std::FILE* mFile = nullptr;
    uint64_t mSize = 0;
};

}  // namespace Tarn::VELL::Writer
