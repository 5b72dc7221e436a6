// The binary release manifest ("releasemanifest") of one project release.
//
// Layout, all fields 32-bit little-endian, no gaps:
//   magic 0x4D534C52 ("RLSM"), formatVersion, projectName (string index), releaseVersion,
//   directoryCount, directory records (20 bytes each),
//   fileCount, file records (44 bytes for 0x00010001, 36 bytes for 0x00010002),
//   stringCount, stringBytes, the NUL-terminated strings back to back.
// Directory record: name, firstSubdirectory, subdirectoryCount, firstFile, fileCount.
// File record: name, version, 16-byte checksum, flags, size, then zero words (3 for
// 0x00010001, 1 for 0x00010002) that readers ignore.
// Directory 0 is the root; each directory's children are contiguous in their tables.
// The format is described in docs/formats.md. The writer keeps its own constants rather than
// the reader's reader/Formats.h: it is an independent implementation, so that the tests can
// check one against the other.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Tarn::VELL::Writer {

constexpr uint32_t kManifestMagic = 0x4D534C52;
constexpr uint32_t kManifestFormatV1 = 0x00010001;  // 44-byte file records
constexpr uint32_t kManifestFormatV2 = 0x00010002;  // 36-byte file records, the current one
constexpr uint32_t kManifestDirectoryRecordSize = 20;

// Flag bits of a file record. Archived wins over Managed; neither means a naked file.
namespace ManifestFlag {
constexpr uint32_t Managed = 0x01;
constexpr uint32_t Archived = 0x02;
constexpr uint32_t Zlib = 0x04;        // with Compressed
constexpr uint32_t Compressed = 0x10;
constexpr uint32_t Lzma = 0x20;        // with Compressed, without Zlib
}  // namespace ManifestFlag

struct ManifestDirectory {
    uint32_t name = 0;
    uint32_t firstSubdirectory = 0;
    uint32_t subdirectoryCount = 0;
    uint32_t firstFile = 0;
    uint32_t fileCount = 0;
};

struct ManifestFile {
    uint32_t name = 0;
    uint32_t version = 0;
    std::array<uint8_t, 16> checksum{};
    uint32_t flags = 0;
    uint32_t size = 0;
};

// 44 for kManifestFormatV1, 36 for any other value.
uint32_t ManifestFileRecordSize(uint32_t formatVersion);

// The manifest bytes of exactly these tables and strings, written as given: nothing is
// sorted, checked or deduplicated, so tests can make deliberately odd manifests (unknown
// format versions use the 36-byte records; a string holding a NUL makes two strings).
std::string BuildRawManifest(uint32_t formatVersion, uint32_t projectNameIndex, uint32_t releaseVersion,
                             const std::vector<ManifestDirectory>& directories, const std::vector<ManifestFile>& files,
                             const std::vector<std::string>& strings);

}  // namespace Tarn::VELL::Writer
