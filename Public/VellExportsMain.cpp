#include "Public/VellExportsMain.h"

#include <memory>

#include "CStd/CStd.h"
#include "CStd/PathNormalize.h"
#include "logger/Log.h"
#include "platform/Win32.h"

namespace Tarn::VELL {

using namespace Tarn::Logger;

namespace {

constexpr char kInitializeName[] = "Tarn::VELL::Reader::VellExportsMain::Initialize";

// Empty at load; whatever it still holds is released when the library is unloaded.
std::unique_ptr<Reader::RuntimeEnvironment> gSlot;

}  // namespace

long NormalizePath(const char* input, char* output, std::size_t outputSize, bool trimTrailingSlash)
{
    return NormalizeSeparators(input, output, outputSize, trimTrailingSlash);
}

HRESULT VellExportsMain::Initialize(const char* workingDirectory)
{
    if (gSlot) {
        LogError("%s: VELL library initialization failed because it was already initialized and must only be initialized once.",
                 kInitializeName);
        return kFail;
    }
    char currentDirectory[kMaxPath] = {};
    const char* directory = workingDirectory;
    if (directory != nullptr) {
        LogInfo("%s: VELL library initializing with specified working directory \"%s\".", kInitializeName, directory);
    } else {
        // A current directory that does not fit names no release; creation then fails.
        const Win32::DWORD length = Win32::GetCurrentDirectoryA(sizeof(currentDirectory), currentDirectory);
        if (length == 0 || length >= sizeof(currentDirectory)) currentDirectory[0] = '\0';
        LogInfo("%s: VELL library initializing with current working directory \"%s\".", kInitializeName, currentDirectory);
        directory = currentDirectory;
    }
    gSlot = Reader::RuntimeEnvironment::Create(directory);
    if (!gSlot) {
        LogError("%s: VELL library initialization failed to create the runtime environment.", kInitializeName);
        return kFail;
    }
    return kOk;
}

Reader::RuntimeEnvironment* VellExportsMain::EnsureEnvironment()
{
    if (!gSlot) Initialize(nullptr);
    return gSlot.get();
}

Reader::RuntimeEnvironment* VellExportsMain::Environment() { return gSlot.get(); }

void VellExportsMain::Shutdown()
{
    std::unique_ptr<Reader::RuntimeEnvironment> environment = std::move(gSlot);
    environment.reset();
}

}  // namespace Tarn::VELL
