// Whole-file and block reads of small metadata files through C-runtime streams, and the
// report of an operating-system or C-runtime error number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "CStd/HResult.h"

namespace Tarn::VELL::Reader {

// Logs "name: text" with the C runtime's text for errorNumber: ERROR when it is not 0
// (returns kFail), information when it is 0 (returns kOk).
HRESULT LogSystemError(const char* name, std::int32_t errorNumber);

// Opens path with mode, sharing the file with every other reader and writer. Stores the
// stream (or null) in *stream and returns 0 or the C runtime's error number, after logging.
int vell_fopen_s(std::FILE** stream, const char* path, const char* mode);

// An allocator that leaves new elements uninitialised (for buffers that are read into at once:
// writing zeros first would touch every page twice).
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* p, Arguments&&... arguments)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Arguments>(arguments)...);
    }
};

// The bytes of a file read whole.
using ByteBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// Reads the first n bytes of the file into data (resized to n).
HRESULT ReadFileBlockIntoBuffer(const char* path, std::uint32_t n, std::vector<std::uint8_t>& data);
HRESULT ReadFileBlockIntoBuffer(const char* path, std::uint32_t n, ByteBuffer& data);

// Reads the whole file into data. On failure data holds nothing a caller may use.
HRESULT ReadFileIntoBuffer(const char* path, std::vector<std::uint8_t>& data);
HRESULT ReadFileIntoBuffer(const char* path, ByteBuffer& data);

}  // namespace Tarn::VELL::Reader
