#include "file/FileProviderRegistry.h"

#include <cstdlib>
#include <stdexcept>

#include "CStd/CheckedMutex.h"
#include "file/SparseFileProvider.h"

namespace Tarn::File {

namespace {

SparseFileProvider* gDefault = nullptr;
bool gDefaultDestroyed = false;
// Guards the default provider, whose first use may come from any thread. Made on first use
// and never destroyed, so that DestroyDefault may run at any point of the process's exit.
CheckedMutex& DefaultLock()
{
    static CheckedMutex& lock = *new CheckedMutex(false);
    return lock;
}

void DestroyDefault()
{
    ScopedLock guard(DefaultLock());
    delete gDefault;
    gDefault = nullptr;
    gDefaultDestroyed = true;
}

}  // namespace

RegisteredFileProviders& RegisteredFileProviders::Instance()
{
    static RegisteredFileProviders registered;
    return registered;
}

IFileProvider& DefaultFileProvider()
{
    ScopedLock guard(DefaultLock());
    if (gDefault != nullptr) return *gDefault;
    if (gDefaultDestroyed) {
        gDefaultDestroyed = false;
        throw std::logic_error("Dead Reference Detected");
    }
    gDefault = new SparseFileProvider();
    std::atexit(DestroyDefault);
    return *gDefault;
}

}  // namespace Tarn::File
