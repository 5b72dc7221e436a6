// The constants of the stored formats the reader parses. docs/formats.md describes each format
// (byte offsets, worked examples from the sample layout); keep the two in step. The writer
// (writer/) keeps its own constants on purpose: it is an independent implementation of the
// same formats, so that the tests can check one against the other.
#pragma once

#include <cstdint>

namespace Tarn::VELL::Reader {

// ---- the content layout ------------------------------------------------------------------
constexpr char kReleaseManifestName[] = "releasemanifest";
constexpr char kSolutionManifestName[] = "solutionmanifest";
constexpr char kConfigurationManifestName[] = "configurationmanifest";

// ---- release manifest --------------------------------------------------------------------
constexpr std::uint32_t kReleaseManifestMagic = 0x4D534C52;     // "RLSM"
constexpr std::uint32_t kReleaseManifestVersion0 = 0x00010001;  // 44-byte file records
constexpr std::uint32_t kReleaseManifestVersion = 0x00010002;   // 36-byte file records
constexpr std::uint32_t kDirectoryRecordSize = 20;

// Storage flags of a file record.
constexpr std::uint32_t kFlagManaged = 0x01;
constexpr std::uint32_t kFlagArchived = 0x02;
constexpr std::uint32_t kFlagZlib = 0x04;
constexpr std::uint32_t kFlagCompressed = 0x10;
constexpr std::uint32_t kFlagLzma = 0x20;

// ---- archive index and data file ------------------------------------------------------------
constexpr std::uint32_t kArchiveMagic = 0x18BE0EF0;
constexpr std::uint32_t kArchiveVersion = 1;
constexpr std::uint32_t kArchiveHeaderSize = 20;
constexpr std::uint32_t kArchiveEntrySize = 16;
constexpr std::uint32_t kArchivePathRecordSize = 8;

// An LZMA record: one dictionary property byte, eight bytes the reader skips, then a raw
// LZMA2 stream.
constexpr std::uint32_t kLzmaRecordHeaderSize = 9;

// ---- text manifests ----------------------------------------------------------------------
constexpr char kSolutionManifestMagic[] = "VELL Solution Manifest";
constexpr char kConfigurationManifestMagic[] = "VELL Configuration Manifest";
constexpr std::uint32_t kTextManifestFileVersion = 0x01000000;  // 1.0.0.0

}  // namespace Tarn::VELL::Reader
