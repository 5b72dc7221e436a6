// Exports of the library's lifecycle and the simplest lookup. No exception leaves an export.
#include "CStd/CStd.h"
#include "Public/VellExportsMain.h"
#include "TarnVellIO.h"

using Tarn::VELL::VellExportsMain;

extern "C" VELL_API VellResult VELL_CALL VellInitialize(uint32_t, uint32_t, uint32_t, const char* workingDirectory)
{
    try {
        return VellExportsMain::Initialize(workingDirectory);
    } catch (...) {
        return VELL_E_FAIL;
    }
}

extern "C" VELL_API void VELL_CALL VellShutdown(void)
{
    try {
        VellExportsMain::Shutdown();
    } catch (...) {
    }
}

extern "C" VELL_API VellBool VELL_CALL VellFileExists(const char* path)
{
    try {
        if (path == nullptr || *path == '\0') return 0;
        Tarn::VELL::Reader::RuntimeEnvironment* environment = VellExportsMain::EnsureEnvironment();
        if (environment == nullptr) return 0;
        char normalised[Tarn::kMaxPath];
        const long length = Tarn::VELL::NormalizePath(path, normalised, sizeof(normalised), true);
        if (length < 0) return 0;
        return environment->FindEntry(normalised, static_cast<std::size_t>(length)).second != nullptr ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
