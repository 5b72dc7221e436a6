#include "file/FileProviderRegistry.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "file/SparseFileProvider.h"

namespace Tarn::File {

namespace {

SparseFileProvider* gDefault = nullptr;
bool gDefaultDestroyed = false;
std::mutex gDefaultMutex;  // first use may come from any thread

void DestroyDefault()
{
    std::lock_guard<std::mutex> guard(gDefaultMutex);
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
    std::lock_guard<std::mutex> guard(gDefaultMutex);
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
