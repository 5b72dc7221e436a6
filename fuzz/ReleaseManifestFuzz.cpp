// A release manifest of any bytes is refused or gives a listing whose tree finds every path it lists, whose files open, read and close within their sizes, and beside which no good archive is deleted.
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "CStd/CStd.h"
#include "FuzzSupport.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "writer/Sample.h"

using namespace Tarn::VELL::Reader;

namespace {

constexpr std::uint32_t kLargestOpened = 65536;  // bigger files only cost time

struct Layout {
    std::string root;
    std::string manifest;
    std::vector<std::string> indexes;  // the sample's archive indexes, all good
    Layout()
    {
        TarnFuzz::QuietLogging();
        const std::string dir = TarnFuzz::ScratchDir() + "/release";
        Tarn::VELL::Writer::WriteSampleLayout(dir);
        root = dir + "/VELL";
        manifest = dir + "/releasemanifest";
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
            if (entry.path().extension() == ".olm") indexes.push_back(entry.path().string());
    }
};

void OpenAndRead(ProjectListing& listing, const ProjectListing::FileRecord* file)
{
    if (file->storage == nullptr || file->size > kLargestOpened || !listing.Open(file)) return;
    FUZZ_CHECK(listing.Open(file));  // a second open shares the first
    static std::vector<std::uint8_t> buffer(kLargestOpened + 1);
    // Archived files end where their entry ends; a loose file is read as far as it goes on disk.
    const bool archived = listing.AsArchiveFile(file->storage) != nullptr;
    std::uint32_t read = 0xFFFFFFFFu;
    listing.Read(file, 0, file->size + 1, &read, buffer.data());
    FUZZ_CHECK(read <= (archived ? file->size : file->size + 1));
    read = 0xFFFFFFFFu;
    listing.Read(file, file->size, 1, &read, buffer.data());
    FUZZ_CHECK(read == 0 || (!archived && read == 1));
    listing.RemoveReference(file);
    listing.RemoveReference(file);
}

// Walks the tree from the root: each entry's parent is the directory that lists it, no entry
// is met twice, and every path that fits a path buffer is found again by lookup.
void Walk(ProjectListing& listing)
{
    const ProjectListing::DirectoryRecord* root = listing.Root();
    if (root == nullptr) return;
    std::vector<const ProjectListing::DirectoryRecord*> pending{root};
    std::vector<bool> seen(std::size_t{listing.DirectoryCount()} + listing.FileCount(), false);
    auto visit = [&](const ProjectListing::EntryHeader* entry, std::size_t index, const ProjectListing::DirectoryRecord* parent) {
        FUZZ_CHECK(index < seen.size() && !seen[index]);
        seen[index] = true;
        FUZZ_CHECK(entry->parent == parent && entry->name != nullptr);
        char path[Tarn::kMaxPath];
        if (GetEntryPath(entry, path)) {
            const ProjectListing::EntryHeader* found = listing.Lookup(path);
            FUZZ_CHECK(found != nullptr && PathMatches(found, path));
        }
    };
    while (!pending.empty()) {
        const ProjectListing::DirectoryRecord* d = pending.back();
        pending.pop_back();
        for (std::uint32_t k = 0; k < d->subdirectoryCount; ++k) {
            const ProjectListing::DirectoryRecord* sub = d->firstSubdirectory + k;
            visit(sub, static_cast<std::size_t>(sub - root), d);
            FUZZ_CHECK(listing.IsDirectory(sub) && listing.EntrySize(sub) == 0);
            pending.push_back(sub);
        }
        for (std::uint32_t k = 0; k < d->fileCount; ++k) {
            const ProjectListing::FileRecord* file = d->firstFile + k;
            visit(file, listing.DirectoryCount() + static_cast<std::size_t>(file - listing.File(0)), d);
            FUZZ_CHECK(listing.IsFile(file) && listing.EntrySize(file) == file->size);
            OpenAndRead(listing, file);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Layout layout;
    TarnFuzz::WriteFile(layout.manifest, {reinterpret_cast<const char*>(data), size});
    if (std::unique_ptr<ReleaseManifest> manifest = ReleaseManifest::Load(layout.manifest.c_str())) {
        std::unique_ptr<ProjectListing> listing(manifest->CreateListing(layout.root.c_str()));
        manifest.reset();
        if (listing) Walk(*listing);
    }
    for (const std::string& index : layout.indexes) FUZZ_CHECK(TarnFuzz::FileExists(index));
    return 0;
}
