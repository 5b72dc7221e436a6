#include "reader/FileReads.h"

#include <cerrno>
#include <new>

#include "logger/Log.h"
#include "platform/Win32.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kOpenName[] = "Tarn::VELL::Reader::vell_fopen_s";
constexpr char kBlockName[] = "Tarn::VELL::Reader::ReadFileBlockIntoBuffer";
constexpr char kWholeName[] = "Tarn::VELL::Reader::ReadFileIntoBuffer";
constexpr int kNoMemory = 12;  // ENOMEM in the C runtime's numbering

const char* Text(const char* s) { return s ? s : ""; }
}  // namespace

HRESULT LogSystemError(const char* name, std::int32_t errorNumber)
{
    char text[1024];
    Win32::strerror_s(text, sizeof(text), errorNumber);
    if (errorNumber != 0) {
        LogError("%s: %s", name, text);
        return kFail;
    }
    LogInfo("%s: %s", name, text);
    return kOk;
}

int vell_fopen_s(std::FILE** stream, const char* path, const char* mode)
{
    errno = 0;
    *stream = Win32::_fsopen(path, mode, Win32::_SH_DENYNO);
    if (*stream != nullptr) return 0;
    const int error = errno;
    if (error == 0) return 0;
    LogSystemError(kOpenName, static_cast<std::int32_t>(Win32::GetLastError()));
    char text[4096];
    Win32::strerror_s(text, sizeof(text), error);
    LogError("%s: (\"%s\", \"%s\") failed: %s", kOpenName, Text(path), Text(mode), text);
    return error;
}

namespace {

template <typename Buffer>
HRESULT ReadBlock(const char* path, std::uint32_t n, Buffer& data)
{
    LogTrace("%s: (%s, %d, %d)", kBlockName, Text(path), 0, static_cast<int>(n));
    std::FILE* stream = nullptr;
    if (vell_fopen_s(&stream, path, "rb") != 0 || stream == nullptr) {
        LogSystemError(kBlockName, static_cast<std::int32_t>(Win32::GetLastError()));
        LogError("%s: Failed to open \"%s\".", kBlockName, Text(path));
        return kFail;
    }
    if (Win32::fseek(stream, 0, SEEK_SET) != 0) {
        const auto lastError = static_cast<std::int32_t>(Win32::GetLastError());
        LogSystemError(kBlockName, lastError);
        if (lastError != 0) {
            LogSystemError(kBlockName, Win32::ferror(stream));
            LogError("%s: Failed to fseek to offset.", kBlockName);
            Win32::fclose(stream);
            return kFail;
        }
    }
    try {
        data.resize(n);
    } catch (const std::bad_alloc&) {
        LogSystemError(kBlockName, kNoMemory);
        LogError("%s: fread failed", kBlockName);
        Win32::fclose(stream);
        return kFail;
    }
    if (Win32::fread(data.data(), 1, n, stream) < n) {
        LogSystemError(kBlockName, Win32::ferror(stream));
        LogError("%s: fread failed", kBlockName);
        Win32::fclose(stream);
        return kFail;
    }
    Win32::fclose(stream);
    return kOk;
}

template <typename Buffer>
HRESULT ReadWhole(const char* path, Buffer& data)
{
    LogTrace("%s: (%s)", kWholeName, Text(path));
    struct Win32::_stat64i32 status {};
    if (path == nullptr || Win32::_stat64i32(path, &status) != 0 || (status.st_mode & Win32::_S_IFMT) != Win32::_S_IFREG ||
        static_cast<std::uint32_t>(status.st_size) == 0xFFFFFFFFu) {
        LogError("%s: Failed to get size of \"%s\".", kWholeName, Text(path));
        return kFail;
    }
    HRESULT result = ReadBlock(path, static_cast<std::uint32_t>(status.st_size), data);
    if (Failed(result)) {
        LogError("%s: Failed to read \"%s\".", kWholeName, Text(path));
        return result;
    }
    return kOk;
}

}  // namespace

HRESULT ReadFileBlockIntoBuffer(const char* path, std::uint32_t n, std::vector<std::uint8_t>& data)
{
    return ReadBlock(path, n, data);
}

HRESULT ReadFileBlockIntoBuffer(const char* path, std::uint32_t n, ByteBuffer& data) { return ReadBlock(path, n, data); }

HRESULT ReadFileIntoBuffer(const char* path, std::vector<std::uint8_t>& data) { return ReadWhole(path, data); }

HRESULT ReadFileIntoBuffer(const char* path, ByteBuffer& data) { return ReadWhole(path, data); }

}  // namespace Tarn::VELL::Reader
