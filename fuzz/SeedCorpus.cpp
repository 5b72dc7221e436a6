// Writes the seed corpus of every fuzz target into OUT_DIR/<target>/, made with the authoring
// library: vell_fuzz_seeds OUT_DIR
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "writer/ArchiveIndex.h"
#include "writer/Codecs.h"
#include "writer/FileIO.h"
#include "writer/ReleaseManifest.h"
#include "writer/Sample.h"

using namespace Tarn::VELL::Writer;
namespace fs = std::filesystem;

namespace {

fs::path gOut;

void Seed(const std::string& target, const std::string& name, const std::string& bytes)
{
    WriteWholeFile(gOut / target / name, bytes);
}

std::string Binary(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 1000) % 251);
    return bytes;
}

std::string DecodeInput(bool lzma, std::uint32_t padding, const std::string& content)
{
    const auto size = static_cast<std::uint32_t>(content.size());
    std::string input{static_cast<char>((padding << 1) | (lzma ? 1 : 0)), static_cast<char>(size & 0xFF),
                      static_cast<char>((size >> 8) & 0xFF), static_cast<char>((size >> 16) & 0xFF)};
    return input + (lzma ? CompressLzmaRecord(content, 1u << 16) : CompressZlib(content));
}

// A project release with one file of each kind, and a solution over it, as the whole
// initialisation target lays them out.
void InitializeSeeds(const fs::path& work)
{
    ProjectRelease release(TarnFuzz::kProject, TarnFuzz::kVersion);
    release.SetThreadCount(1)
        .Add("DATA/a.txt", SampleContent("p", 1, "DATA/a.txt", 3000), Storage::Archived, Compression::Zlib)
        .Add("DATA/Sub/b.bin", SampleContent("p", 1, "DATA/Sub/b.bin", 5000), Storage::Archived, Compression::Lzma)
        .Add("DATA/Sub/c.txt", SampleContent("p", 1, "DATA/Sub/c.txt", 700), Storage::Archived, Compression::Stored)
        .Add(TarnFuzz::kManagedPath, TarnFuzz::LooseContent(TarnFuzz::kManagedPath), Storage::Managed)
        .Add(TarnFuzz::kNakedPath, TarnFuzz::LooseContent(TarnFuzz::kNakedPath), Storage::Naked)
        .AddDirectory("DATA/Empty");
    const ProjectWriteResult written = release.Write(work / "VELL");
    const std::string manifest = ReadWholeFile(written.manifestPath);
    const std::string index = ReadWholeFile(written.archives.at(0).indexPath);
    const std::string data = ReadWholeFile(written.archives.at(0).dataPath);

    SolutionRelease solution(TarnFuzz::kSolution, TarnFuzz::kSolutionVersion);
    solution.AddProject(TarnFuzz::kProject, TarnFuzz::kVersion, 10);
    Seed("initialize", "project", TarnFuzz::JoinParts({manifest, index, data}));
    Seed("initialize", "solution",
         TarnFuzz::JoinParts({manifest, index, data, solution.BuildSolutionManifest(), solution.BuildConfigurationManifest()}));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vell_fuzz_seeds OUT_DIR\n");
        return 2;
    }
    gOut = argv[1];
    const fs::path work = gOut / "work";
    fs::remove_all(work);
    WriteSampleLayout(work);
    const fs::path root = work / "VELL";

    // Release manifests: the sample's (both record layouts), the smallest, a named root.
    Seed("release_manifest", "client_0.0.0.2", ReadWholeFile(root / "projects/client/releases/0.0.0.2/releasemanifest"));
    Seed("release_manifest", "client_0.0.0.1", ReadWholeFile(root / "projects/client/releases/0.0.0.1/releasemanifest"));
    Seed("release_manifest", "patch_0.0.0.1", ReadWholeFile(root / "projects/patch/releases/0.0.0.1/releasemanifest"));
    Seed("release_manifest", "empty", BuildRawManifest(kManifestFormatV2, 0, 1, {}, {}, {}));
    Seed("release_manifest", "named_root",
         BuildRawManifest(kManifestFormatV1, 0, 2, {{2, 1, 1, 0, 0}, {3, 0, 0, 0, 1}}, {{4, 2, {}, 0x16, 2000}},
                          {"client", "", "root", "DATA", "readme.txt"}));

    // Archive indexes: the sample's, and small ones of every shape.
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().extension() == ".olm")
            Seed("archive_index", entry.path().parent_path().filename().string() + "_" + entry.path().filename().string(),
                 ReadWholeFile(entry.path()));
    Seed("archive_index", "three", BuildArchiveIndex({{"DATA/a.txt", 0, 10}, {"DATA/B.TXT", 10, 20}, {"x", 30, 1}}));
    Seed("archive_index", "zero_sized", BuildArchiveIndex({{"DATA/a.txt", 0, 0}}));
    Seed("archive_index", "no_entries", BuildArchiveIndex({}));

    // Text manifests.
    const fs::path game = root / "solutions/game/releases/1.0.0.0";
    Seed("text_manifest", "solution", ReadWholeFile(game / "solutionmanifest"));
    Seed("text_manifest", "configuration", ReadWholeFile(game / "configurationmanifest"));
    SolutionRelease wide("wide", 0x01020304);
    wide.AddProject("b", 2, 1, 0x10).AddProject("A", 1, 3).AddProject("c", 0x00FF0001, 2);
    wide.AddConfiguration("full", 1, {"c", "A", "b"}).AddConfiguration("small", 0, {"b"});
    wide.SetConfigurationManifest("full", {"c", "b", "A"});
    Seed("text_manifest", "wide_solution", wide.BuildSolutionManifest());
    Seed("text_manifest", "wide_configuration", wide.BuildConfigurationManifest());

    // Compressed entries: text, binary over more than one block, a block exactly, padding.
    const std::string text = SampleContent("p", 1, "a.txt", 2000);
    Seed("decompress", "zlib_text", DecodeInput(false, 0, text));
    Seed("decompress", "lzma_text", DecodeInput(true, 0, text));
    Seed("decompress", "zlib_two_blocks", DecodeInput(false, 3, Binary(300000)));
    Seed("decompress", "lzma_two_blocks", DecodeInput(true, 5, Binary(300000)));
    Seed("decompress", "lzma_one_block", DecodeInput(true, 0, Binary(262144)));
    Seed("decompress", "zlib_one_byte", DecodeInput(false, 1, "x"));

    // Paths (byte 0: buffer size and trimming) and patterns (byte 0: name buffer size).
    Seed("path", "plain", std::string("\x41") + "DATA/Characters/Hero/hero.dds");
    Seed("path", "backslashes", std::string("\xFF") + "\\\\server\\share\\\\DATA\\\\x.dds\\");
    Seed("path", "slashes", std::string("\x08") + "//a///b////");
    Seed("wildcard", "all", std::string("\xFF") + "DATA/*");
    Seed("wildcard", "suffix", std::string("\xFF") + "hero.DDS\nDATA/Characters/Hero/*.dds");
    Seed("wildcard", "question", std::string("\x04") + "readme.txt\n??a*.t?t");
    Seed("wildcard", "root", std::string("\xFF") + "*");

    // Names of the confinement target, one per line: the project, then directories and files.
    Seed("confinement", "sample_names", "client\nDATA\nreadme.txt\nCharacters\nlauncher.cfg\nSounds\nshared.txt");

    InitializeSeeds(work / "initialize");
    fs::remove_all(work);
    return 0;
}
