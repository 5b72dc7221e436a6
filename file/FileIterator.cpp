#include "file/FileIterator.h"

#include <cstring>
#include <new>
#include <string>

#include "CStd/PathJoin.h"
#include "CStd/PathNormalize.h"
#include "file/FileProviderRegistry.h"
#include "file/MultipleProviderIterator.h"

namespace Tarn::File {

namespace {

// Normalises text into a kMaxPath buffer, cutting what does not fit.
void NormaliseInto(char (&out)[kMaxPath], const char* text)
{
    char copy[kMaxPath];
    std_strncpy(copy, sizeof(copy), text ? text : "", TRUNCATE);
    NormalizeSeparators(copy, out, sizeof(out), false);
}

void JoinInto(char (&out)[kMaxPath], const char* a, const char* b)
{
    if (!PathJoin(out, {a, b})) out[0] = '\0';
}

// Asks one provider; keeps the iterator only when it stands on an entry.
void Collect(IFileProvider* provider, const char* pattern, std::uint32_t flags, MultipleProviderIterator& into)
{
    std::unique_ptr<FileIteratorBase> iterator(provider->CreateIterator(pattern, flags));
    if (iterator && iterator->IsValid()) into.Add(std::move(iterator));
}

}  // namespace

WrapFileIteratorBase::WrapFileIteratorBase(const char* baseDirectory, const char* prefix,
                                           std::shared_ptr<FileIteratorBase> wrapped)
    : mWrapped(std::move(wrapped))
{
    NormaliseInto(mBaseDirectory, baseDirectory);
    NormaliseInto(mPrefix, prefix);
    JoinInto(mSearchDirectory, mBaseDirectory, mPrefix);
    Update();
}

void WrapFileIteratorBase::Next()
{
    mWrapped->Next();
    Update();
}

void WrapFileIteratorBase::Update()
{
    if (!mWrapped->IsValid()) return;  // the paths keep the last entry's values
    JoinInto(mFullPath, mSearchDirectory, mWrapped->GetName());
    JoinInto(mRelativePath, mPrefix, mWrapped->GetName());
}

std::shared_ptr<FileIteratorBase> CreateFileIterator(const char* path, std::uint32_t flags)
{
    // A pattern longer than a path may be would be cut short, and a shortened one searches
    // somewhere else (the directory itself, or its parent): no search at all.
    if (path == nullptr || std::strlen(path) >= kMaxPath) return nullptr;
    try {
        char pattern[kMaxPath];
        NormaliseInto(pattern, path);
        char base[kMaxPath];
        std::memcpy(base, pattern, sizeof(base));
        char* lastSlash = std::strrchr(base, '/');
        if (lastSlash)
            *lastSlash = '\0';
        else
            base[0] = '\0';

        auto collected = std::make_unique<MultipleProviderIterator>();
        RegisteredFileProviders& registered = RegisteredFileProviders::Instance();
        for (int i = 0; i < registered.count; ++i) Collect(registered.providers[i], pattern, flags, *collected);
        if (collected->Count() == 0) Collect(&DefaultFileProvider(), pattern, flags, *collected);

        std::shared_ptr<FileIteratorBase> wrapped;
        if (collected->Count() == 1)
            wrapped = collected->TakeOnly();
        else
            wrapped = std::move(collected);
        return std::make_shared<WrapFileIteratorBase>(base, "", std::move(wrapped));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace Tarn::File
