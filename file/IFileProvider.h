// A file system as the library sees it: opening files, testing access, searching directories.
#pragma once

#include <cstdint>

namespace Tarn::File {

class IFile;
class FileIteratorBase;

class IFileProvider {
public:
    // A new file owned by the caller, or null. mode is a C-runtime open mode such as "rb".
    virtual IFile* OpenFile(const char* path, const char* mode) = 0;
    // 0 when the path is accessible with mode (0 existence, 2 write, 4 read, 6 both), else -1.
    virtual int Access(const char* path, int mode) = 0;
    // A new iterator over the entries matching the pattern, owned by the caller; null when
    // the search finds nothing or fails.
    virtual FileIteratorBase* CreateIterator(const char* pattern, std::uint32_t flags) = 0;
    virtual ~IFileProvider() = default;
    virtual bool ReservedQuery(std::uint32_t) { return false; }
    virtual bool ReservedCheck() { return false; }
};

}  // namespace Tarn::File
