// The entries of several providers' iterators one after another (no merging of names).
#pragma once

#include <deque>
#include <memory>

#include "file/FileIterator.h"

namespace Tarn::File {

class MultipleProviderIterator final : public FileIteratorBase {
public:
    // Appends an iterator that stands on an entry.
    void Add(std::unique_ptr<FileIteratorBase> iterator) { mIterators.push_back(std::move(iterator)); }
    std::size_t Count() const { return mIterators.size(); }
    // Takes the only iterator out (Count() must be 1).
    std::unique_ptr<FileIteratorBase> TakeOnly();

    bool IsValid() const override { return !mIterators.empty(); }
    void Next() override;
    const char* GetName() const override { return mIterators.front()->GetName(); }
    bool IsDirectory() const override { return mIterators.front()->IsDirectory(); }
    bool IsReadOnly() const override { return mIterators.front()->IsReadOnly(); }

private:
    std::deque<std::unique_ptr<FileIteratorBase>> mIterators;
};

}  // namespace Tarn::File
