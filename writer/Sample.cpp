#include "writer/Sample.h"

#include <string_view>

#include "writer/ArchivePath.h"
#include "writer/Version.h"

namespace Tarn::VELL::Writer {

namespace {

// xorshift64*, seeded from the text: reproducible everywhere, no library generator involved.
class Generator {
public:
    explicit Generator(const std::string& seedText)
    {
        mState = 0x9E3779B97F4A7C15ull;
        for (unsigned char c : seedText) mState = (mState ^ c) * 0x100000001B3ull;
        if (mState == 0) mState = 1;
    }
    uint64_t Next()
    {
        mState ^= mState >> 12;
        mState ^= mState << 25;
        mState ^= mState >> 27;
        return mState * 0x2545F4914F6CDD1Dull;
    }

private:
    uint64_t mState;
};

bool IsText(const std::string& path)
{
    const std::string folded = FoldCase(path);
    return folded.ends_with(".txt") || folded.ends_with(".ini") || folded.ends_with(".cfg");
}

constexpr std::string_view kWords[] = {"archive", "release", "manifest", "vell",   "content", "hero",
                                       "forest",  "cave",    "sound",    "stream", "block",   "patch",
                                       "client",  "level",   "texture",  "game"};

struct Entry {
    const char* path;
    Storage storage;
    Compression compression;
    uint32_t fileVersion;
    size_t size;
};

// The client's files of file version 0.0.0.1, shared by both of its releases.
constexpr Entry kClientVersion1Files[] = {
    {"DATA/Characters/Villain/villain.dds", Storage::Archived, Compression::Zlib, 0x00000001, 12000},
    {"DATA/Levels/Forest/Deep/Cave/map.bin", Storage::Archived, Compression::Lzma, 0x00000001, 9000},
    {"DATA/legacy/old.txt", Storage::Archived, Compression::Stored, 0x00000001, 700},
    {"Config/defaults.ini", Storage::Managed, Compression::Stored, 0x00000001, 250},
};

void AddEntry(ProjectRelease& release, const std::string& contentProject, uint32_t contentVersion, const Entry& entry)
{
    FileSpec file;
    file.path = entry.path;
    file.content = SampleContent(contentProject, contentVersion, entry.path, entry.size);
    file.storage = entry.storage;
    file.compression = entry.compression;
    file.version = entry.fileVersion;
    release.Add(std::move(file));
}

}  // namespace

std::string SampleContent(const std::string& project, uint32_t releaseVersion, const std::string& path, size_t size)
{
    const std::string label = project + " " + FormatVersion(releaseVersion) + " " + path;
    Generator random(label);
    std::string out;
    out.reserve(size + 64);
    if (IsText(path)) {
        for (unsigned line = 1; out.size() < size; ++line) {
            out += label + " line " + std::to_string(line) + ":";
            const unsigned words = 4 + static_cast<unsigned>(random.Next() % 8);
            for (unsigned i = 0; i < words; ++i) {
                out.push_back(' ');
                out += kWords[random.Next() % std::size(kWords)];
            }
            out.push_back('\n');
        }
    } else {
        // Runs copied from earlier output mixed with fresh bytes: compressible, not trivial.
        while (out.size() < size) {
            const uint64_t pick = random.Next();
            if (out.size() > 64 && (pick & 1) != 0) {
                const size_t length = 4 + (pick >> 8) % 32;
                const size_t from = static_cast<size_t>((pick >> 16) % (out.size() - length));
                for (size_t i = 0; i < length; ++i) out.push_back(out[from + i]);
            } else {
                for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(pick >> (8 * i)));
            }
        }
    }
    out.resize(size);
    return out;
}

ProjectRelease SampleClientRelease()
{
    const uint32_t v2 = kSampleClientVersion;
    const Entry own[] = {
        {"DATA/readme.txt", Storage::Archived, Compression::Zlib, v2, 2000},
        {"DATA/shared.txt", Storage::Archived, Compression::Zlib, v2, 1500},
        {"DATA/Characters/Hero/hero.dds", Storage::Archived, Compression::Lzma, v2, 20000},
        {"DATA/Characters/Hero/hero.skn", Storage::Archived, Compression::Stored, v2, 5000},
        {"DATA/Sounds/music.ogg", Storage::Archived, Compression::Lzma, v2, 400000},
        {"DATA/Sounds/ambient.wav", Storage::Archived, Compression::Zlib, v2, 300000},
        {"DATA/Sounds/exact.bin", Storage::Archived, Compression::Lzma, v2, 262144},
        {"Config/settings.ini", Storage::Managed, Compression::Stored, v2, 300},
        {"launcher.cfg", Storage::Naked, Compression::Stored, v2, 120},
        {"Tools/notes.txt", Storage::Naked, Compression::Stored, v2, 400},
    };
    ProjectRelease release("client", v2);
    for (const Entry& entry : own) AddEntry(release, "client", v2, entry);
    for (const Entry& entry : kClientVersion1Files) AddEntry(release, "client", kSampleClientPreviousVersion, entry);
    release.AddDirectory("DATA/Empty");
    return release;
}

ProjectRelease SampleClientPreviousRelease()
{
    const uint32_t v1 = kSampleClientPreviousVersion;
    const Entry own[] = {
        {"DATA/readme.txt", Storage::Archived, Compression::Zlib, v1, 1000},
        {"launcher.cfg", Storage::Naked, Compression::Stored, v1, 100},
    };
    ProjectRelease release("client", v1);
    release.SetFormatVersion(kManifestFormatV1);
    for (const Entry& entry : own) AddEntry(release, "client", v1, entry);
    for (const Entry& entry : kClientVersion1Files) AddEntry(release, "client", v1, entry);
    return release;
}

ProjectRelease SamplePatchRelease()
{
    const uint32_t v1 = kSamplePatchVersion;
    const Entry own[] = {
        {"DATA/readme.txt", Storage::Archived, Compression::Zlib, v1, 1800},
        {"DATA/Characters/Hero/hero.dds", Storage::Archived, Compression::Lzma, v1, 15000},
        {"DATA/patch_notes.txt", Storage::Archived, Compression::Stored, v1, 600},
    };
    ProjectRelease release("patch", v1);
    for (const Entry& entry : own) AddEntry(release, "patch", v1, entry);
    return release;
}

SolutionRelease SampleGameSolution()
{
    SolutionRelease solution("game", kSampleGameVersion);
    solution.AddProject("client", kSampleClientVersion, 10);
    solution.AddProject("patch", kSamplePatchVersion, 20);
    solution.AddConfiguration("default", 0, {"client", "patch"});
    solution.SetConfigurationManifest("default", {"client", "patch"});
    return solution;
}

void WriteSampleLayout(const std::filesystem::path& outDir)
{
    const std::filesystem::path root = outDir / "VELL";
    SampleClientPreviousRelease().Write(root);
    SampleClientRelease().Write(root);
    SamplePatchRelease().Write(root);
    SampleGameSolution().Write(root);
}

}  // namespace Tarn::VELL::Writer
