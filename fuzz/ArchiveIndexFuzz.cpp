// An archive index of any bytes is read or refused, is deleted exactly when its content is unusable, and its lookups and failure listing only ever answer with its own entries.
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "platform/Win32.h"
#include "reader/ArchiveFile.h"
#include "reader/ArchiveManager.h"
#include "reader/ProjectListing.h"

using namespace Tarn::VELL::Reader;

namespace {

struct Layout {
    std::string directory;
    std::string index;
    std::string data;
    Layout()
    {
        TarnFuzz::QuietLogging();
        directory = TarnFuzz::ScratchDir() + "/archives";
        index = directory + "/" + TarnFuzz::kArchiveName;
        data = index + ".dat";
        TarnFuzz::WriteFile(data, std::string(4096, 'd'));
    }
};

// Whether some entry of the archive has this path (ASCII case ignored), offset and size.
bool HasEntry(const ArchiveFile& archive, const char* path, std::uint32_t offset, std::uint32_t size)
{
    for (std::uint32_t i = 0; i < archive.EntryCount(); ++i) {
        const ArchiveFile::Entry e = archive.GetEntry(i);
        const char* entryPath = archive.EntryPath(i);
        if (entryPath && Win32::_stricmp(entryPath, path) == 0 && e.dataOffset == offset && e.dataSize == size) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Layout layout;
    TarnFuzz::WriteFile(layout.index, {reinterpret_cast<const char*>(data), size});

    ArchiveFile archive(layout.index);
    bool invalid = false;
    const bool read = archive.Read(&invalid);
    FUZZ_CHECK(!(read && invalid));
    if (!read) FUZZ_CHECK(archive.EntryCount() == 0);
    for (std::uint32_t i = 0; i < archive.EntryCount(); ++i) {
        const char* path = archive.EntryPath(i);
        std::uint32_t offset = 0, entrySize = 0;
        if (path && archive.Search(path, &offset, &entrySize)) FUZZ_CHECK(HasEntry(archive, path, offset, entrySize));
    }

    // The report written when an entry of this archive fails to decompress.
    ProjectListing::ArchiveFile record{};
    const ProjectListing::DataFile dataFile{nullptr, layout.data.c_str()};
    ProjectListing::FileRecord entry{};
    entry.name = archive.EntryCount() ? archive.EntryPath(0) : "missing.txt";
    if (entry.name == nullptr) entry.name = "";
    record.LogArchiveInfo(entry, dataFile);

    // The manager deletes the index exactly when its content is unusable.
    std::unique_ptr<ArchiveVersionManager> manager = ArchiveVersionManager::Create(layout.directory, TarnFuzz::ScratchDir().c_str());
    FUZZ_CHECK(TarnFuzz::FileExists(layout.index) == (read && archive.TotalDataSize() != 0));
    FUZZ_CHECK((manager != nullptr) == (read && archive.TotalDataSize() != 0));
    if (manager) {
        for (std::uint32_t i = 0; i < archive.EntryCount(); ++i) {
            const char* path = archive.EntryPath(i);
            std::string dataFile;
            std::uint32_t offset = 0, entrySize = 0;
            if (path && *path && manager->Find(path, dataFile, offset, entrySize)) {
                FUZZ_CHECK(dataFile == layout.data);
                FUZZ_CHECK(HasEntry(archive, path, offset, entrySize));
            }
        }
    }
    return 0;
}
