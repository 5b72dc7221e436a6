#include "file/SparseFileProvider.h"

#include <cstdio>
#include <new>
#include <string>

#include "CStd/StdFile.h"
#include "file/FileIteratorWin32.h"
#include "file/IFile.h"
#include "platform/Win32.h"

namespace Tarn::File {

namespace {

class SparseFile final : public IFile {
public:
    SparseFile(std::FILE* stream, const char* path) : mStream(stream), mName(path)
    {
        std::setvbuf(mStream, nullptr, _IOFBF, 64000);
        const long position = std::ftell(mStream);
        Win32::fseek(mStream, 0, SEEK_END);
        mSize = static_cast<std::int32_t>(std::ftell(mStream));
        Win32::fseek(mStream, position, SEEK_SET);
    }
    ~SparseFile() override
    {
        delete[] mContents;
        Win32::fclose(mStream);
    }

    const char* GetName() const override { return mName.c_str(); }
    std::int32_t GetSize() const override { return mSize; }
    bool IsOpen() const override { return mStream != nullptr; }

    const char* GetContents() override
    {
        if (mStream == nullptr) return nullptr;
        if (mContents == nullptr) {
            const std::size_t size = mSize > 0 ? static_cast<std::size_t>(mSize) : 0;
            mContents = new (std::nothrow) char[size + 1];
            if (mContents == nullptr) return nullptr;
            const std::size_t got = Win32::fread(mContents, 1, size, mStream);
            mContents[got] = '\0';
        }
        return mContents;
    }

    long Tell() const override { return mStream ? std::ftell(mStream) : 0; }
    int IsEof() const override { return mStream ? std::feof(mStream) : 0; }
    int Seek(std::int32_t offset, int origin) override { return mStream ? Win32::fseek(mStream, offset, origin) : 0; }
    char* ReadLine(char* buffer, int size) override { return mStream ? Win32::fgets(buffer, size, mStream) : nullptr; }
    std::size_t Read(void* buffer, std::size_t elementSize, std::size_t count) override
    {
        return mStream ? Win32::fread(buffer, elementSize, count, mStream) : 0;
    }
    std::size_t Write(const void* buffer, std::size_t elementSize, std::size_t count) override
    {
        return mStream ? std::fwrite(buffer, elementSize, count, mStream) : 0;
    }

private:
    std::FILE* mStream;
    char* mContents = nullptr;
    std::int32_t mSize = 0;
    std::string mName;
};

}  // namespace

IFile* SparseFileProvider::OpenFile(const char* path, const char* mode)
{
    // The foundation's open reports a failure itself.
    std::FILE* stream = std_fopen(path, mode);
    if (stream == nullptr) return nullptr;
    auto* file = new (std::nothrow) SparseFile(stream, path);
    if (file == nullptr) Win32::fclose(stream);
    return file;
}

int SparseFileProvider::Access(const char* path, int mode) { return Win32::_access(path, mode) == 0 ? 0 : -1; }

FileIteratorBase* SparseFileProvider::CreateIterator(const char* pattern, std::uint32_t flags)
{
    return FileIteratorWin32::Start(pattern, flags);
}

}  // namespace Tarn::File
