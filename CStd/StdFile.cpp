#include "CStd/StdFile.h"

#include <cstdint>

#include "CStd/CStd.h"
#include "CStd/Report.h"
#include "platform/Win32.h"

namespace Tarn {

std::FILE* std_fopen(const char* fileName, const char* mode)
{
    std::FILE* stream = nullptr;
    int error = Win32::fopen_s(&stream, fileName, mode);
    if (error == 0 && stream != nullptr) return stream;

    char description[128];
    Win32::strerror_s(description, sizeof(description), error);
    char text[452];
    FormatBounded(text, sizeof(text), "std_fopen failed: pFile = 0x%08X; pMode = %s; errno = %i; pFilename = %s; msg = %s;",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(stream)), mode ? mode : "NULL", error,
                  fileName ? fileName : "NULL", description);
    ReportError(text);
    if (stream != nullptr) Win32::fclose(stream);
    return nullptr;
}

}  // namespace Tarn
