// A small but complete sample content layout, for the demo, the tests and the benchmarks.
//
// WriteSampleLayout(outDir) writes outDir/VELL holding:
//
// Project "client", release 0.0.0.2 (SampleClientRelease; manifest format 0x00010002):
//   path                                   storage   codec   file version  size (bytes)
//   DATA/readme.txt                        archived  zlib    0.0.0.2       2000
//   DATA/shared.txt                        archived  zlib    0.0.0.2       1500
//   DATA/Characters/Hero/hero.dds          archived  lzma    0.0.0.2       20000
//   DATA/Characters/Hero/hero.skn          archived  stored  0.0.0.2       5000
//   DATA/Characters/Villain/villain.dds    archived  zlib    0.0.0.1       12000
//   DATA/Levels/Forest/Deep/Cave/map.bin   archived  lzma    0.0.0.1       9000
//   DATA/legacy/old.txt                    archived  stored  0.0.0.1       700
//   DATA/Sounds/music.ogg                  archived  lzma    0.0.0.2       400000
//   DATA/Sounds/ambient.wav                archived  zlib    0.0.0.2       300000
//   DATA/Sounds/exact.bin                  archived  lzma    0.0.0.2       262144
//   DATA/Empty/                            an empty directory
//   Config/settings.ini                    managed   -       0.0.0.2       300
//   Config/defaults.ini                    managed   -       0.0.0.1       250
//   launcher.cfg                           naked     -       0.0.0.2       120
//   Tools/notes.txt                        naked     -       0.0.0.2       400
//
// Project "client", release 0.0.0.1 (SampleClientPreviousRelease; format 0x00010001): the
// four files of file version 0.0.0.1 above with the same content, plus its own
// DATA/readme.txt (archived, zlib, 1000 bytes) and launcher.cfg (naked, 100 bytes).
//
// Project "patch", release 0.0.0.1 (SamplePatchRelease):
//   DATA/readme.txt                        archived  zlib    0.0.0.1       1800
//   DATA/Characters/Hero/hero.dds          archived  lzma    0.0.0.1       15000
//   DATA/patch_notes.txt                   archived  stored  0.0.0.1       600
//
// Solution "game", release 1.0.0.0 (SampleGameSolution): projects client 0.0.0.2 priority
// 10 and patch 0.0.0.1 priority 20; configuration "default" (client, patch), which is also
// the configuration manifest. DATA/readme.txt and DATA/Characters/Hero/hero.dds are in both
// projects; the solution serves them from patch, the higher priority.
//
// Every file's bytes are SampleContent(project, release version, path, size): the same
// arguments always give the same bytes, different ones different bytes. Text files (.txt,
// .ini, .cfg) are lines of text, the others compressible binary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "writer/ProjectWriter.h"
#include "writer/SolutionWriter.h"

namespace Tarn::VELL::Writer {

constexpr uint32_t kSampleClientVersion = 0x00000002;          // 0.0.0.2
constexpr uint32_t kSampleClientPreviousVersion = 0x00000001;  // 0.0.0.1
constexpr uint32_t kSamplePatchVersion = 0x00000001;           // 0.0.0.1
constexpr uint32_t kSampleGameVersion = 0x01000000;            // 1.0.0.0

std::string SampleContent(const std::string& project, uint32_t releaseVersion, const std::string& path, size_t size);

ProjectRelease SampleClientRelease();
ProjectRelease SampleClientPreviousRelease();
ProjectRelease SamplePatchRelease();
SolutionRelease SampleGameSolution();

// Writes all four releases under outDir/VELL (created as needed). Throws IoError on failure.
void WriteSampleLayout(const std::filesystem::path& outDir);

}  // namespace Tarn::VELL::Writer
