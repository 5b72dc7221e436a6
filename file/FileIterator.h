// Directory iteration: an iterator walks the entries of one directory that match a wildcard
// pattern. CreateFileIterator asks the registered providers, then the default provider, and
// wraps what it gets in an iterator that also knows the directory it searched.
//
// Use: while IsValid(), look at IsDirectory() and GetName() (or GetFullPath()), then Next().
// An iterator is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "CStd/CStd.h"

namespace Tarn::File {

// Search flag: only directories.
constexpr std::uint32_t kDirectoriesOnly = 4;

class FileIteratorBase {
public:
    // The iterator stands on an entry.
    virtual bool IsValid() const = 0;
    // Moves to the next entry, or makes the iterator invalid.
    virtual void Next() = 0;
    // The current entry's name, without directory; only while valid.
    virtual const char* GetName() const = 0;
    virtual bool IsDirectory() const = 0;
    virtual bool IsReadOnly() const = 0;
    virtual ~FileIteratorBase() = default;
};

class FileIterator : public FileIteratorBase {};

class ExtendedFileIterator : public FileIterator {
public:
    virtual const char* GetBaseDirectory() const = 0;
    virtual const char* GetSearchDirectory() const = 0;
    virtual const char* GetRelativePath() const = 0;
    virtual const char* GetFullPath() const = 0;
    virtual std::shared_ptr<FileIteratorBase> GetWrappedIterator() const = 0;
    virtual std::shared_ptr<FileIteratorBase> GetWrappedIterator() = 0;
};

// Wraps an iterator with the directory it searched, so that it can give the full and the
// relative path of each entry. Paths are normalised ('/' separators, no doubled slashes but
// a leading pair); a path that does not fit kMaxPath characters is cut.
class WrapFileIteratorBase final : public ExtendedFileIterator {
public:
    WrapFileIteratorBase(const char* baseDirectory, const char* prefix, std::shared_ptr<FileIteratorBase> wrapped);

    bool IsValid() const override { return mWrapped->IsValid(); }
    void Next() override;
    const char* GetName() const override { return mWrapped->GetName(); }
    bool IsDirectory() const override { return mWrapped->IsDirectory(); }
    bool IsReadOnly() const override { return mWrapped->IsReadOnly(); }

    const char* GetBaseDirectory() const override { return mBaseDirectory; }
    const char* GetSearchDirectory() const override { return mSearchDirectory; }
    const char* GetRelativePath() const override { return mRelativePath; }
    const char* GetFullPath() const override { return mFullPath; }
    std::shared_ptr<FileIteratorBase> GetWrappedIterator() const override { return mWrapped; }
    std::shared_ptr<FileIteratorBase> GetWrappedIterator() override { return mWrapped; }

private:
    void Update();

    char mBaseDirectory[kMaxPath] = {};
    char mPrefix[kMaxPath] = {};
    char mSearchDirectory[kMaxPath] = {};
    char mRelativePath[kMaxPath] = {};
    char mFullPath[kMaxPath] = {};
    std::shared_ptr<FileIteratorBase> mWrapped;
};

// An iterator over the entries matching path (a directory, a slash and a last component
// that may hold '*' and '?'). A missing directory or no match gives an iterator that is
// invalid from the start; null when memory runs out or the pattern would not fit in a path.
std::shared_ptr<FileIteratorBase> CreateFileIterator(const char* path, std::uint32_t flags);

}  // namespace Tarn::File
