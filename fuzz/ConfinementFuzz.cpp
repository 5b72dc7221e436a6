// Names of any shape in a release manifest (project, directory and file names) and in a solution's and a configuration's manifests never make the library hand the platform layer a path outside the content root, whether the release or the solution is loaded and whatever is then opened.
//
// The input is a list of names, one per line. A byte below 0x10 stands for a piece of the
// dangerous alphabet (".", "..", "/", "\", ":", a drive, device names, ...), so that the fuzzer
// builds hostile names quickly; every other byte stands for itself. The first name is the
// manifest's project name; the others name the root's subdirectories (each holding a.txt) and
// files, in turn, and the solution's projects.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TarnVellIO.h"
#include "tests/support/PathWitness.h"
#include "writer/ReleaseManifest.h"

namespace {

using namespace Tarn::VELL::Writer;

constexpr std::size_t kMostNames = 16;
constexpr const char* kPieces[16] = {".", "..", "/", "\\", ":", "C:", "CON", "nul", "COM1", "lpt9", " ", ".txt",
                                     "DATA", "p", "..\\", "../"};

struct Layout {
    std::string root, release, solution;
    std::vector<std::string> roots;  // as the library spells it, and resolved
    Layout()
    {
        TarnFuzz::QuietLogging();
        const TarnFuzz::LayoutPaths paths = TarnFuzz::GetLayoutPaths();
        root = paths.root, release = paths.release, solution = paths.solution;
        const std::string& project = paths.project;
        TarnFuzz::WriteFile(release + "/deploy/a.txt", "naked");
        TarnFuzz::WriteFile(project + "/managedfiles/" + TarnFuzz::kVersionText + "/a.txt", "managed");
        TarnFuzz::WriteFile(solution + "/deploy/.keep", "");
        // What a name climbing out of the root would find.
        TarnFuzz::WriteFile(TarnFuzz::ScratchDir() + "/a.txt", "outside");
        TarnFuzz::WriteFile(TarnFuzz::ScratchDir() + "/projects/p/releases/0.0.0.1/deploy/a.txt", "outside");
        roots = {root, TarnFuzz::Canonical(root)};
    }
};

std::vector<std::string> Names(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> names(1);
    for (std::size_t i = 0; i < size && names.size() <= kMostNames; ++i) {
        if (data[i] == '\n')
            names.emplace_back();
        else if (data[i] < 0x10)
            names.back() += kPieces[data[i]];
        else
            names.back() += static_cast<char>(data[i]);
    }
    if (names.size() > kMostNames) names.resize(kMostNames);
    return names;
}

// The release manifest: root (unnamed), then directories and files named in turn.
std::string Manifest(const std::vector<std::string>& names, std::vector<std::string>& paths)
{
    std::vector<std::string> strings{names[0], "", "a.txt"};
    std::vector<std::string> directories, files;
    for (std::size_t i = 1; i < names.size(); ++i) (i % 2 ? directories : files).push_back(names[i]);
    const auto d = static_cast<std::uint32_t>(directories.size()), f = static_cast<std::uint32_t>(files.size());
    std::vector<ManifestDirectory> table{{1, 1, d, 0, f}};
    std::vector<ManifestFile> records;
    for (std::uint32_t i = 0; i < f; ++i) {
        strings.push_back(files[i]);
        const std::uint32_t flags = i % 3 == 0 ? 0 : i % 3 == 1 ? ManifestFlag::Managed : ManifestFlag::Archived;
        records.push_back({static_cast<std::uint32_t>(strings.size() - 1), TarnFuzz::kVersion, {}, flags, 5});
        paths.push_back(files[i]);
    }
    for (std::uint32_t i = 0; i < d; ++i) {
        strings.push_back(directories[i]);
        table.push_back({static_cast<std::uint32_t>(strings.size() - 1), 0, 0, f + i, 1});
        records.push_back({2, TarnFuzz::kVersion, {}, 0, 5});
        paths.push_back(directories[i] + "/a.txt");
    }
    return BuildRawManifest(kManifestFormatV2, 0, TarnFuzz::kVersion, table, records, strings);
}

std::string SolutionText(const std::vector<std::string>& names, std::string& configuration)
{
    std::string text = "VELL Solution Manifest\n1.0.0.0\ns\n1.0.0.0\n" + std::to_string(names.size()) + "\n";
    configuration = "VELL Configuration Manifest\n1.0.0.0\nc\n" + std::to_string(names.size()) + "\n";
    for (const std::string& name : names) {
        text += name + "\n0.0.0.1\n1\n0\n";
        configuration += name + "\n";
    }
    return text + "0\n";
}

void Touch(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        VellFileExists(path.c_str());
        if (VellFileHandle file = VellOpenFile(path.c_str())) {
            char buffer[16];
            std::uint32_t read = 0;
            VellRead(file, 0, sizeof(buffer), &read, buffer);
            VellCloseFile(file);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Layout layout;
    const std::vector<std::string> names = Names(data, size);
    std::vector<std::string> paths = names;
    TarnFuzz::WriteFile(layout.release + "/releasemanifest", Manifest(names, paths));
    std::string configuration;
    TarnFuzz::WriteFile(layout.solution + "/solutionmanifest", SolutionText(names, configuration));
    TarnFuzz::WriteFile(layout.solution + "/configurationmanifest", configuration);

    TarnTest::PathWitness witness;
    for (const std::string& release : {layout.release, layout.solution}) {
        if (VellInitialize(0, 0, 0, (release + "/deploy").c_str()) != VELL_OK) continue;
        Touch(paths);
        VellShutdown();
    }
    const std::vector<std::string> outside = witness.Outside(layout.roots);
    for (const std::string& call : outside) std::fprintf(stderr, "outside the content root: %s\n", call.c_str());
    FUZZ_CHECK(outside.empty());
    return 0;
}
