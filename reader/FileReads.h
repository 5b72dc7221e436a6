// Whole-file and block reads of small metadata files through C-runtime streams, and the
// report of an operating-system or C-runtime error number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "CStd/HResult.h"

namespace Tarn::VELL::Reader {

// Logs "name: text" with the C runtime's text for errorNumber: ERROR when it is not 0
// (returns kFail), information when it is 0 (returns kOk).
HRESULT LogSystemError(const char* name, std::int32_t errorNumber);

// Opens path with mode, sharing the file with every other reader and writer. Stores the
// stream (or null) in *stream and returns 0 or the C runtime's error number, after logging.
int vell_fopen_s(std::FILE** stream, const char* path, const char* mode);

// Reads the first n bytes of the file into data (resized to n).
HRESULT ReadFileBlockIntoBuffer(const char* path, std::uint32_t n, std::vector<std::uint8_t>& data);

// Reads the whole file into data. On failure data holds nothing a caller may use.
HRESULT ReadFileIntoBuffer(const char* path, std::vector<std::uint8_t>& data);

}  // namespace Tarn::VELL::Reader
