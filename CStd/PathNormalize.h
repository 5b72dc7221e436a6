// Separator normalisation shared by every place that takes a path from outside.
#pragma once

#include <cstddef>

namespace Tarn {

// Copies input to output (outputSize bytes, terminator included): '\' becomes '/', and a
// slash is dropped when at least two characters have been written and the last one written
// is a slash, so runs collapse except that two leading slashes (a network path) stay. With
// trimTrailingSlash a final slash is removed (and needs no room in output). Nothing else
// changes. Returns the length written, or -1 (output empty) when input is null or the result
// does not fit.
long NormalizeSeparators(const char* input, char* output, size_t outputSize, bool trimTrailingSlash);

}  // namespace Tarn
