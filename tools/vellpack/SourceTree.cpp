#include "SourceTree.h"

#include <set>
#include <system_error>

#include "CommandLine.h"
#include "writer/ArchivePath.h"
#include "writer/FileIO.h"
#include "writer/PathNames.h"

namespace VellPack {

namespace fs = std::filesystem;
using Tarn::VELL::Writer::Compression;
using Tarn::VELL::Writer::FileSpec;
using Tarn::VELL::Writer::IoError;
using Tarn::VELL::Writer::Storage;

SourceTree ScanSourceTree(const fs::path& directory)
{
    std::error_code error;
    if (!fs::is_directory(directory, error))
        throw IoError("cannot read the source directory \"" + directory.string() + "\": " +
                      (error ? error.message() : std::string("not a directory")));
    SourceTree tree;
    std::vector<std::string> directories;
    std::set<std::string> parents;  // directories that hold something
    auto noteParent = [&](const std::string& relative) {
        const size_t slash = relative.rfind('/');
        if (slash != std::string::npos) parents.insert(relative.substr(0, slash));
    };
    fs::recursive_directory_iterator it(directory, error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::directory_entry& entry = *it;
        const std::string relative = entry.path().lexically_relative(directory).generic_string();
        std::error_code statusError;
        const bool isDirectory = entry.is_directory(statusError) && !entry.is_symlink(statusError);
        const bool isFile = !isDirectory && entry.is_regular_file(statusError);
        if (!isDirectory && !isFile) {
            tree.skipped.push_back("skipping \"" + entry.path().string() +
                                   "\": not a regular file or directory (a layout holds regular files only)");
            continue;
        }
        const std::string name = entry.path().filename().string();
        const std::string problem = Tarn::VELL::Writer::PathComponentProblem(name);
        if (!problem.empty())
            throw IoError("cannot pack \"" + entry.path().string() + "\": the name \"" + name + "\" " + problem +
                          "; readers refuse such names, rename it");
        if (isDirectory) {
            directories.push_back(relative);
            noteParent(relative);
        } else {
            const uint64_t size = entry.file_size(statusError);
            if (statusError) throw IoError("cannot read \"" + entry.path().string() + "\": " + statusError.message());
            tree.files.push_back({relative, entry.path(), size});
            noteParent(relative);
        }
    }
    if (error) throw IoError("cannot list \"" + directory.string() + "\": " + error.message());
    for (const std::string& relative : directories)
        if (!parents.count(relative)) tree.emptyDirectories.push_back(relative);
    return tree;
}

FileSpec PackRules::Describe(const SourceFile& file) const
{
    FileSpec packed;
    packed.path = file.relativePath;
    packed.sourceFile = file.path;
    packed.storage = Storage::Archived;
    for (const std::string& pattern : nakedPatterns)
        if (WildcardMatches(pattern, file.relativePath)) {
            packed.storage = Storage::Naked;
            break;
        }
    if (packed.storage == Storage::Archived)
        for (const std::string& pattern : managedPatterns)
            if (WildcardMatches(pattern, file.relativePath)) {
                packed.storage = Storage::Managed;
                break;
            }

    packed.compression = defaultCompression;
    const size_t slash = file.relativePath.rfind('/');
    const size_t dot = file.relativePath.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        auto found = byExtension.find(Tarn::VELL::Writer::FoldCase(file.relativePath.substr(dot + 1)));
        if (found != byExtension.end()) packed.compression = found->second;
    }
    if (file.size < storeBelow) packed.compression = Compression::Stored;
    return packed;
}

std::optional<Compression> ParseCodec(const std::string& text)
{
    const std::string folded = Tarn::VELL::Writer::FoldCase(text);
    if (folded == "zlib") return Compression::Zlib;
    if (folded == "lzma") return Compression::Lzma;
    if (folded == "none" || folded == "stored") return Compression::Stored;
    return std::nullopt;
}

}  // namespace VellPack
