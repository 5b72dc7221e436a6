// A whole initialisation over a release manifest, an archive index and its data file, and a solution and configuration manifest of any bytes fails, or gives content whose every file opens, reads within what was asked and closes, and shuts down leaving the library ready to load again.
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TarnVellIO.h"

namespace {

constexpr std::uint32_t kLargestRead = 1u << 16;  // bigger files only cost time (decoding is the decompress target's)
constexpr unsigned kMostEntries = 256;

struct Layout {
    std::string root, release, archives, solution;
    Layout()
    {
        TarnFuzz::QuietLogging();
        const TarnFuzz::LayoutPaths paths = TarnFuzz::GetLayoutPaths();
        root = paths.root, release = paths.release, solution = paths.solution;
        const std::string& project = paths.project;
        archives = project + "/filearchives/" + TarnFuzz::kVersionText + "/" + TarnFuzz::kArchiveName;
        TarnFuzz::WriteFile(project + "/managedfiles/" + TarnFuzz::kVersionText + "/" + TarnFuzz::kManagedPath,
                            TarnFuzz::LooseContent(TarnFuzz::kManagedPath));
        TarnFuzz::WriteFile(release + "/deploy/" + TarnFuzz::kNakedPath, TarnFuzz::LooseContent(TarnFuzz::kNakedPath));
        TarnFuzz::WriteFile(solution + "/deploy/.keep", "");
    }
};

void ReadFile(const std::string& path, std::uint64_t listedSize)
{
    // A compressed file is decoded whole into blocks of its listed size on its first open.
    if (listedSize > kLargestRead) return;
    VellFileHandle file = VellOpenFile(path.c_str());
    if (file == nullptr) return;
    const std::int64_t size = VellGetFileSize(file);
    FUZZ_CHECK(size >= 0 && static_cast<std::uint64_t>(size) == listedSize);
    static std::vector<std::uint8_t> buffer(65536);
    const auto end = static_cast<std::uint64_t>(size);
    for (std::uint64_t at = 0; at < end; at += buffer.size()) {
        std::uint32_t read = 0xFFFFFFFFu;
        const std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(buffer.size(), end - at));
        if (VellRead(file, at, want, &read, buffer.data()) != VELL_OK) break;
        FUZZ_CHECK(read <= want);  // a loose file may be shorter on disk than listed
    }
    std::uint32_t read = 0xFFFFFFFFu;
    VellRead(file, static_cast<std::uint64_t>(size), 16, &read, buffer.data());
    FUZZ_CHECK(read <= 16);
    VellCloseFile(file);
}

// Every entry below directory (empty for the root), depth first.
void Visit(const std::string& directory, unsigned depth, unsigned& entries)
{
    struct Found {
        std::string name;
        bool isDirectory;
        std::uint64_t size;
    };
    std::vector<Found> found;
    std::map<std::string, unsigned> uses;  // per name, ASCII case folded, as lookups fold it
    VellFindHandle search = VellFindFirstFile((directory.empty() ? std::string("*") : directory + "/*").c_str());
    if (search == nullptr) return;
    std::uint32_t isDirectory = 0;
    std::uint64_t size = 0;
    char name[260];
    while (entries < kMostEntries && VellFindNextFile(search, &isDirectory, &size, sizeof(name), name) == VELL_OK) {
        ++entries;
        found.push_back({name, isDirectory != 0, size});
        std::string folded = name;
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ++uses[folded];
    }
    VellFindClose(search);
    for (const Found& entry : found) {
        // A name that is empty or holds a separator (a manifest may say so) names no path, and
        // below an empty name the joined path is not the entry's own; a name listed twice finds
        // only one of its entries, whose size is not the one listed here. Those are only looked up.
        const std::string path = directory.empty() ? entry.name : directory + "/" + entry.name;
        VellFileExists(path.c_str());
        std::string folded = entry.name;
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (entry.name.empty() || entry.name.find_first_of("/\\") != std::string::npos || uses[folded] > 1) continue;
        if (entry.isDirectory && depth < 16)
            Visit(path, depth + 1, entries);
        else if (!entry.isDirectory)
            ReadFile(path, entry.size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Layout layout;
    // The release manifest, the archive index, its data file, the solution manifest and the
    // configuration manifest; without a solution manifest the project release is loaded.
    const std::vector<std::string_view> parts = TarnFuzz::SplitParts(data, size, 5);
    TarnFuzz::WriteFile(layout.release + "/releasemanifest", parts[0]);
    TarnFuzz::WriteFile(layout.archives, parts[1]);
    TarnFuzz::WriteFile(layout.archives + ".dat", parts[2]);
    TarnFuzz::WriteFile(layout.solution + "/solutionmanifest", parts[3]);
    TarnFuzz::WriteFile(layout.solution + "/configurationmanifest", parts[4]);
    const std::string deploy = (parts[3].empty() ? layout.release : layout.solution) + "/deploy";

    if (VellInitialize(0, 0, 0, deploy.c_str()) == VELL_OK) {
        unsigned entries = 0;
        Visit("", 0, entries);
        if (entries == 0) Visit("DATA", 0, entries);  // a root with a name of its own lists nothing

        VellFileExists("DATA/../DATA");
        VellShutdown();
    }
    return 0;
}
