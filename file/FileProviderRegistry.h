// The providers consulted by CreateFileIterator: a table of registered providers (the
// library registers none) and the process-wide default provider over the local disk.
#pragma once

#include "file/IFileProvider.h"

namespace Tarn::File {

struct RegisteredFileProviders {
    IFileProvider* providers[4] = {};
    int count = 0;

    static RegisteredFileProviders& Instance();
};

// The default provider, created on first use and destroyed at process exit. Use after that
// destruction throws std::logic_error("Dead Reference Detected"); a later use creates it anew.
IFileProvider& DefaultFileProvider();

}  // namespace Tarn::File
