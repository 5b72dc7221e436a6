// The directory tree of a release, checked as it grows and laid out as the manifest's
// tables: breadth-first from the root, each directory's subdirectories and files contiguous
// and in CompareNoCase order of their names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tarn::VELL::Writer {

class ReleaseTree {
public:
    struct Directory {
        std::string name;
        uint32_t firstSubdirectory = 0;  // for an empty range: where it would begin
        uint32_t subdirectoryCount = 0;
        uint32_t firstFile = 0;
        uint32_t fileCount = 0;
    };
    struct Layout {
        std::vector<Directory> directories;  // table order; [0] is the root (its name is empty)
        std::vector<size_t> fileIds;         // file table order: the ids given to AddFile
        std::vector<std::string> fileNames;  // file table order
        std::vector<std::string> filePaths;  // file table order, full paths within the release
    };

    ReleaseTree();

    // Adds a file ('/'-separated path). Directories on the way are created; a directory met
    // again under another letter case is the same directory and keeps its first spelling.
    // Throws std::invalid_argument for an empty path, a component that is no plain path
    // component (PathComponentProblem: empty, ".", "..", a backslash, ':', NUL, a Windows
    // device name), a path already present (ignoring ASCII case), or a path that is also a
    // directory.
    void AddFile(const std::string& path, size_t fileId);

    // Adds a directory (and its parents); adding an existing directory again is allowed.
    void AddDirectory(const std::string& path);

    size_t FileCount() const { return mFileCount; }

    Layout LayOut() const;

private:
    struct Node {
        std::string name;
        bool isDirectory = true;
        size_t fileId = 0;
        std::vector<uint32_t> children;
    };

    // The node of the directory that holds the last component, creating directories.
    uint32_t ReachParent(const std::string& path, const std::vector<std::string>& components, std::string& foldedPrefix);

    std::vector<Node> mNodes;  // [0] is the root
    std::unordered_map<std::string, uint32_t> mByFoldedPath;
    size_t mFileCount = 0;
};

}  // namespace Tarn::VELL::Writer
