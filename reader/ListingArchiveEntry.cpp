// Opening and reading archived files, and the report written when an entry cannot be
// decompressed: the entry's parameters, a hex dump of small entries and the archive's index.
#include <cstring>
#include <memory>
#include <new>

#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/ArchiveFile.h"
#include "reader/PathProcessors.h"
#include "reader/ProjectListing.h"
#include "reader/ToCore/Windows/SyncToken.h"
#include "reader/Version.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kOpenName[] = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::Open";
constexpr char kReadName[] = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::Read";
constexpr char kFailureName[] = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogFailure";
constexpr char kDumpName[] = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogCompressedData";
constexpr char kInfoName[] = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogArchiveInfo";
constexpr std::uint32_t kLargestDump = 32768;
constexpr std::int32_t kEndOfFile = static_cast<std::int32_t>(0x80070026u);  // ERROR_HANDLE_EOF
}  // namespace

bool ProjectListing::ArchiveFile::Open(const FileRecord& entry, const DataFile& data, ZlibInflater* inflater)
{
    if (++refCount > 1) return true;
    const std::uint32_t compressionId = CompressionId();
    if (compressionId != kCompressionNone) {
        if (!blocks.Load(compressionId, data.handle, offset, archiveSize, entry.size, inflater)) {
            blocks.Clear();
            --refCount;
            LogFailure(entry, data);
            return false;
        }
        return true;
    }
    if (entry.size != archiveSize) {
        LogError("%s: Mismatch between manifest size and archive size for: %s", kOpenName, GetEntryPathString(&entry).c_str());
        --refCount;
        return false;
    }
    return true;  // stored entries are read straight from the data file
}

bool ProjectListing::ArchiveFile::Read(const DataFile& data, std::uint64_t readOffset, std::uint32_t size,
                                       std::uint32_t* bytesRead, void* buffer) const
{
    if (data.handle == nullptr) {
        LogError("%s: A null file handle was passed to Read.", kReadName);
        return false;
    }
    if (CompressionId() == kCompressionNone) {
        // Clipped to the entry, as a loose file's reads are to the file: the bytes of the next
        // entry never reach the host, and a read from the end on fails as at a file's end.
        if (readOffset >= archiveSize) {
            if (bytesRead) *bytesRead = 0;
            char text[100];
            if (Win32::FormatMessageA(Win32::FORMAT_MESSAGE_FROM_SYSTEM | Win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<Win32::DWORD>(kEndOfFile), Win32::LANG_NEUTRAL_DEFAULT, text, sizeof(text),
                                      nullptr) == 0)
                std::strcpy(text, "Failed to get error text");
            ReportReadError(kEndOfFile, text);
            return false;
        }
        const std::uint64_t left = archiveSize - readOffset;
        const std::uint32_t toRead = left < size ? static_cast<std::uint32_t>(left) : size;
        const std::uint64_t at = std::uint64_t{offset} + readOffset;
        return SyncRead(data.handle, toRead, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at >> 32), bytesRead,
                        buffer);
    }
    const std::uint32_t copied =
        readOffset >= blocks.TotalSize() ? 0 : blocks.CopyOut(buffer, static_cast<std::uint32_t>(readOffset), size);
    if (bytesRead) *bytesRead = copied;
    return copied == size;
}

void ProjectListing::ArchiveFile::LogFailure(const FileRecord& entry, const DataFile& data) const
{
    LogError("%s: Failed to decompress archive file \"%s\" from \"%s\", version=%s, compressionId=%u, offset=%u, "
             "archiveSize=%u, entrySize=%u.",
             kFailureName, GetEntryPathString(&entry).c_str(), data.path, FormatVersionString(entry.version).c_str(),
             CompressionId(), offset, archiveSize, entry.size);
    LogCompressedData(data);
    LogArchiveInfo(entry, data);
}

void ProjectListing::ArchiveFile::LogCompressedData(const DataFile& source) const
{
    if (archiveSize > kLargestDump) return;
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[kLargestDump]);
    std::uint32_t read = 0;
    if (!data || !SyncRead(source.handle, archiveSize, offset, 0, &read, data.get())) {
        LogError("%s: Failed to read data from \"%s\" to log the failed data.", kDumpName, source.path);
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::uint32_t lineStart = 0; lineStart < read; lineStart += 32) {
        char line[132];
        std::memset(line, ' ', 131);
        line[131] = '\0';
        for (std::uint32_t k = 0; k < 32 && lineStart + k < read; ++k) {
            const std::uint8_t byte = data[lineStart + k];
            line[3 * k] = kHex[byte >> 4];
            line[3 * k + 1] = kHex[byte & 0xF];
            line[98 + k] = (byte >= 32 && byte <= 126) ? static_cast<char>(byte) : '.';
        }
        LogError("%s: %s", kDumpName, line);
    }
}

void ProjectListing::ArchiveFile::LogArchiveInfo(const FileRecord& entry, const DataFile& data) const
{
    // The data file's path is the index file's path followed by ".dat".
    std::string indexPath = data.path ? data.path : "";
    const std::size_t dot = indexPath.rfind('.');
    if (dot == std::string::npos) return;
    indexPath.resize(dot);

    Reader::ArchiveFile archive(indexPath);
    bool invalid = false;
    if (!archive.Read(&invalid) || invalid) {
        LogError("%s: Failed to read the archive metadata from \"%s\"!", kInfoName, indexPath.c_str());
        return;
    }
    const std::string path = GetEntryPathString(&entry);
    LogError("%s: Displaying entries from \"%s\" (version: %u).  Hash of failed to load file: 0x%08x", kInfoName,
             indexPath.c_str(), archive.Version(), Reader::ArchiveFile::HashArchivePath(path.c_str()));
    for (std::uint32_t i = 0; i < archive.EntryCount(); ++i) {
        const Reader::ArchiveFile::Entry e = archive.GetEntry(i);
        const char* name = archive.EntryPath(i);
        LogError("%s: Archive Entry: Hash=0x%08x, Offset=%u, Size=%u, %s", kInfoName, e.pathHash, e.dataOffset, e.dataSize,
                 name ? name : "");
    }
}

}  // namespace Tarn::VELL::Reader
