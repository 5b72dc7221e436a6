// Where each file of a release is stored and the checksum its manifest gives: what the
// public interface does not tell. vell loads the release a second time through the
// library's internal reader for it (quietly: the public load has reported every problem).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Vell {

struct StorageDetails {
    std::string project;       // the project whose listing serves the file
    std::string release;       // that project's release version, "a.b.c.d"
    std::string storage;       // "archived", "managed", "naked", or "missing" (not found at load)
    std::string codec;         // archived: "stored", "zlib" or "lzma"; empty otherwise
    std::string version;       // the version the content is stored under
    std::string file;          // the archive data file or the loose file; empty when missing
    uint64_t offset = 0;       // archived: where the entry begins in the data file
    uint64_t storedSize = 0;   // bytes the content takes on disk
    std::array<uint8_t, 16> checksum{};  // from the manifest; all zero when none was written
    bool HasChecksum() const;
};

class StorageView {
public:
    StorageView();
    ~StorageView();
    StorageView(const StorageView&) = delete;
    StorageView& operator=(const StorageView&) = delete;

    // Loads the release of directory (as given to VellInitialize); false when it cannot.
    bool Load(const std::string& directory);
    // The storage of the file at a normalised path, as the public interface would serve it;
    // none for a directory or a path the release does not hold.
    std::optional<StorageDetails> Find(const std::string& path) const;

private:
    struct Loaded;
    std::unique_ptr<Loaded> mLoaded;
};

}  // namespace Vell
