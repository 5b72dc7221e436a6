#include "Storage.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "CStd/CStd.h"
#include "logger/LogTable.h"
#include "reader/Formats.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "reader/RuntimeEnvironment.h"
#include "reader/Version.h"
#include "support/QuietLogTable.h"

namespace Vell {

using Tarn::VELL::Reader::FormatVersionString;
using Tarn::VELL::Reader::ProjectListing;
using Tarn::VELL::Reader::ReleaseManifest;
using Tarn::VELL::Reader::RuntimeEnvironment;

// A listing keeps no checksums: they are read from its release manifest, loaded a second time
// when a file of that listing is first asked for (the records are in the listing's order).
struct StorageView::Loaded {
    std::unique_ptr<RuntimeEnvironment> environment;
    std::mutex manifestsLock;
    std::map<const ProjectListing*, std::unique_ptr<ReleaseManifest>> manifests;  // null: none could be loaded

    const ReleaseManifest* ManifestOf(const ProjectListing& listing)
    {
        const std::lock_guard<std::mutex> hold(manifestsLock);
        auto [at, added] = manifests.try_emplace(&listing);
        if (added) {
            const std::filesystem::path path = std::filesystem::path(listing.ProjectRoot()) / "releases" /
                                               FormatVersionString(listing.ReleaseVersion()).c_str() /
                                               Tarn::VELL::Reader::kReleaseManifestName;
            at->second = ReleaseManifest::Load(path.string().c_str());
            if (at->second && !at->second->IsValid()) at->second.reset();
        }
        return at->second.get();
    }
};

namespace {

const LogFunctionTable kSilent = TarnSupport::QuietLogTable();

std::string CodecName(std::uint32_t compressionId)
{
    switch (compressionId) {
    case Tarn::VELL::Reader::kCompressionZlib:
        return "zlib";
    case Tarn::VELL::Reader::kCompressionLzma:
        return "lzma";
    default:
        return "stored";
    }
}

uint64_t DiskSize(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

bool StorageDetails::HasChecksum() const
{
    for (uint8_t byte : checksum)
        if (byte != 0) return true;
    return false;
}

StorageView::StorageView() = default;
StorageView::~StorageView() = default;

bool StorageView::Load(const std::string& directory)
{
    // This copy of the reader logs through its own table: keep it silent.
    Tarn::Logger::SetLogger(&kSilent);
    auto loaded = std::make_unique<Loaded>();
    loaded->environment = RuntimeEnvironment::Create(directory.c_str());
    if (!loaded->environment) return false;
    mLoaded = std::move(loaded);
    return true;
}

std::optional<StorageDetails> StorageView::Find(const std::string& path) const
{
    if (!mLoaded) return std::nullopt;
    const auto [listing, entry] = mLoaded->environment->FindEntry(path.c_str());
    if (listing == nullptr || entry == nullptr || !listing->IsFile(entry)) return std::nullopt;
    const auto* file = static_cast<const ProjectListing::FileRecord*>(entry);

    StorageDetails details;
    details.project = listing->ProjectName() ? listing->ProjectName() : "";
    details.release = FormatVersionString(listing->ReleaseVersion()).c_str();
    details.version = FormatVersionString(file->version).c_str();
    const std::uint32_t index = static_cast<std::uint32_t>(file - listing->File(0));
    const ReleaseManifest* manifest = mLoaded->ManifestOf(*listing);
    if (manifest != nullptr && index < manifest->FileCount()) details.checksum = manifest->File(index).checksum;
    if (file->storage == nullptr) {
        details.storage = "missing";
        return details;
    }
    if (const ProjectListing::ArchiveFile* archived = listing->AsArchiveFile(file->storage)) {
        details.storage = "archived";
        details.codec = CodecName(archived->CompressionId());
        const char* dataFile = listing->DataFileOf(*archived).path;
        details.file = dataFile ? dataFile : "";
        details.offset = archived->offset;
        details.storedSize = archived->archiveSize;
        return details;
    }
    const bool managed = listing->AsManagedFile(file->storage) != nullptr;
    details.storage = managed ? "managed" : "naked";
    // The loose file's path, as the reader builds it when it opens the file.
    char relative[Tarn::kMaxPath];
    char disk[Tarn::kMaxPath];
    if (Tarn::VELL::Reader::GetEntryPath(entry, relative) &&
        ProjectListing::GetNakedFile(disk, managed ? Tarn::VELL::Reader::kFileTypeManaged : Tarn::VELL::Reader::kFileTypeNaked,
                                     listing->ProjectRoot(), listing->ReleaseVersion(), file->version, relative)) {
        details.file = disk;
        details.storedSize = DiskSize(disk);
    }
    if (!managed) details.version = details.release;  // naked files live in the release itself
    return details;
}

}  // namespace Vell
