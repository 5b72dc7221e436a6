// Enumeration exports: a find handle searches one virtual directory with a wildcard pattern.
#include <cstring>
#include <memory>
#include <string>

#include "CStd/CStd.h"
#include "CStd/WildcardMatch.h"
#include "Public/VellExportsMain.h"
#include "TarnVellIO.h"
#include "reader/ListingSearch.h"

namespace {

// The object behind a find handle.
struct FindHandleRecord {
    std::unique_ptr<Tarn::VELL::Reader::ListingSearch> search;
    std::string pattern;  // the part of the host's text after its last slash
};

FindHandleRecord* Record(VellFindHandle handle) { return reinterpret_cast<FindHandleRecord*>(handle); }

}  // namespace

extern "C" VELL_API VellFindHandle VELL_CALL VellFindFirstFile(const char* pattern)
{
    try {
        if (pattern == nullptr) return nullptr;
        Tarn::VELL::Reader::RuntimeEnvironment* environment = Tarn::VELL::VellExportsMain::EnsureEnvironment();
        if (environment == nullptr) return nullptr;
        auto record = std::make_unique<FindHandleRecord>();
        char normalised[Tarn::kMaxPath];
        if (Tarn::VELL::NormalizePath(pattern, normalised, sizeof(normalised), true) < 0) return nullptr;
        // Wildcards count only after the last slash; before it they are taken literally.
        char* slash = std::strrchr(normalised, '/');
        const char* patternPart = normalised;
        if (slash != nullptr) {
            *slash = '\0';
            patternPart = slash + 1;
        }
        record->search = environment->BeginSearch(slash ? normalised : "");
        if (!record->search) return nullptr;
        record->pattern = patternPart;
        return reinterpret_cast<VellFindHandle>(record.release());
    } catch (...) {
        return nullptr;
    }
}

extern "C" VELL_API VellResult VELL_CALL VellFindNextFile(VellFindHandle handle, uint32_t* isDirectory, uint64_t* fileSize,
                                                          uint32_t nameBufferSize, char* nameBuffer)
{
    if (handle == nullptr) return VELL_E_HANDLE;
    FindHandleRecord* record = Record(handle);
    auto& search = record->search;
    if (!search || search->Finished()) return VELL_E_FAIL;
    while (!Tarn::WildcardMatch(search->Current().Entry()->name, record->pattern.c_str())) {
        search->Advance();
        if (search->Finished()) return VELL_E_FAIL;
    }
    const Tarn::VELL::Reader::DirectoryCursor& current = search->Current();
    const bool directory = current.AtDirectory();
    if (isDirectory) *isDirectory = directory ? 1 : 0;
    if (fileSize)
        *fileSize = directory ? 0 : static_cast<const Tarn::VELL::Reader::ProjectListing::FileRecord*>(current.Entry())->size;
    // A buffer of size 0 cannot hold even the terminator: nothing is copied then.
    if (nameBuffer != nullptr && nameBufferSize > 0)
        Tarn::std_strncpy(nameBuffer, nameBufferSize, current.Entry()->name, Tarn::TRUNCATE);
    search->Advance();
    return VELL_OK;
}

extern "C" VELL_API void VELL_CALL VellFindClose(VellFindHandle handle) { delete Record(handle); }
