#include "file/MultipleProviderIterator.h"

namespace Tarn::File {

std::unique_ptr<FileIteratorBase> MultipleProviderIterator::TakeOnly()
{
    std::unique_ptr<FileIteratorBase> only = std::move(mIterators.front());
    mIterators.clear();
    return only;
}

void MultipleProviderIterator::Next()
{
    if (mIterators.empty()) return;
    mIterators.front()->Next();
    if (!mIterators.front()->IsValid()) mIterators.pop_front();
}

}  // namespace Tarn::File
