// Opening a C-runtime stream with a diagnostic on failure.
#pragma once

#include <cstdio>

namespace Tarn {

// Opens fileName with mode through the secure open; on failure sends the error report
// "std_fopen failed: ..." (see ReportError) and returns null.
std::FILE* std_fopen(const char* fileName, const char* mode);

}  // namespace Tarn
