// An open file with stdio-like operations.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tarn::File {

class IFile {
public:
    virtual ~IFile() = default;  // closes the file
    // The path the file was opened with.
    virtual const char* GetName() const = 0;
    // Size in bytes, taken once at open.
    virtual std::int32_t GetSize() const = 0;
    virtual bool IsOpen() const = 0;
    // The whole contents from the current position, followed by a zero byte; read once and
    // kept. Null when not open.
    virtual const char* GetContents() = 0;
    virtual long Tell() const = 0;
    virtual int IsEof() const = 0;
    // origin: 0 start, 1 current, 2 end. 0 on success.
    virtual int Seek(std::int32_t offset, int origin) = 0;
    // Up to size - 1 characters through the end of a line; the buffer, or null at the end.
    virtual char* ReadLine(char* buffer, int size) = 0;
    virtual std::size_t Read(void* buffer, std::size_t elementSize, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t elementSize, std::size_t count) = 0;
};

}  // namespace Tarn::File
