// The provider over the local disk: C-runtime streams and the system's directory search.
#pragma once

#include "file/IFileProvider.h"

namespace Tarn::File {

class SparseFileProvider final : public IFileProvider {
public:
    IFile* OpenFile(const char* path, const char* mode) override;
    int Access(const char* path, int mode) override;
    FileIteratorBase* CreateIterator(const char* pattern, std::uint32_t flags) override;
};

}  // namespace Tarn::File
