#include "writer/ReleaseTree.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

#include "writer/ArchivePath.h"
#include "writer/PathNames.h"

namespace Tarn::VELL::Writer {

namespace {

std::vector<std::string> SplitPath(const std::string& path)
{
    if (path.empty()) throw std::invalid_argument("empty path");
    std::vector<std::string> components;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        std::string component = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        const std::string problem = PathComponentProblem(component);
        if (!problem.empty())
            throw std::invalid_argument("path \"" + path + "\": the name \"" + component + "\" " + problem);
        components.push_back(std::move(component));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return components;
}

}  // namespace

ReleaseTree::ReleaseTree() { mNodes.push_back(Node{}); }

uint32_t ReleaseTree::ReachParent(const std::string& path, const std::vector<std::string>& components,
                                  std::string& foldedPrefix)
{
    uint32_t parent = 0;
    foldedPrefix.clear();
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        if (i > 0) foldedPrefix.push_back('/');
        foldedPrefix += FoldCase(components[i]);
        auto found = mByFoldedPath.find(foldedPrefix);
        if (found == mByFoldedPath.end()) {
            const auto node = static_cast<uint32_t>(mNodes.size());
            mNodes.push_back(Node{components[i], true, 0, {}});
            mNodes[parent].children.push_back(node);
            mByFoldedPath.emplace(foldedPrefix, node);
            parent = node;
        } else if (!mNodes[found->second].isDirectory) {
            throw std::invalid_argument("path \"" + path + "\" runs through \"" + foldedPrefix +
                                        "\", which is a file");
        } else {
            parent = found->second;
        }
    }
    if (components.size() > 1) foldedPrefix.push_back('/');
    foldedPrefix += FoldCase(components.back());
    return parent;
}

void ReleaseTree::AddFile(const std::string& path, size_t fileId)
{
    const std::vector<std::string> components = SplitPath(path);
    std::string folded;
    const uint32_t parent = ReachParent(path, components, folded);
    auto found = mByFoldedPath.find(folded);
    if (found != mByFoldedPath.end()) {
        if (mNodes[found->second].isDirectory)
            throw std::invalid_argument("file path \"" + path + "\" is also a directory");
        throw std::invalid_argument("duplicate path \"" + path + "\" (paths compare without regard to ASCII case)");
    }
    const auto node = static_cast<uint32_t>(mNodes.size());
    mNodes.push_back(Node{components.back(), false, fileId, {}});
    mNodes[parent].children.push_back(node);
    mByFoldedPath.emplace(std::move(folded), node);
    ++mFileCount;
}

void ReleaseTree::AddDirectory(const std::string& path)
{
    const std::vector<std::string> components = SplitPath(path);
    std::string folded;
    const uint32_t parent = ReachParent(path, components, folded);
    auto found = mByFoldedPath.find(folded);
    if (found != mByFoldedPath.end()) {
        if (!mNodes[found->second].isDirectory)
            throw std::invalid_argument("directory path \"" + path + "\" is also a file");
        return;
    }
    const auto node = static_cast<uint32_t>(mNodes.size());
    mNodes.push_back(Node{components.back(), true, 0, {}});
    mNodes[parent].children.push_back(node);
    mByFoldedPath.emplace(std::move(folded), node);
}

ReleaseTree::Layout ReleaseTree::LayOut() const
{
    Layout layout;
    layout.directories.reserve(mNodes.size() - mFileCount);
    layout.fileIds.reserve(mFileCount);
    layout.fileNames.reserve(mFileCount);
    layout.filePaths.reserve(mFileCount);

    auto byName = [this](uint32_t a, uint32_t b) { return CompareNoCase(mNodes[a].name, mNodes[b].name) < 0; };
    // Each queued directory already has its table slot; visiting it appends its children.
    struct Pending {
        uint32_t node;
        uint32_t slot;
        std::string path;  // with a trailing '/', empty for the root
    };
    std::deque<Pending> queue;
    layout.directories.push_back(Directory{});
    queue.push_back({0, 0, {}});
    std::vector<uint32_t> subdirectories, files;
    while (!queue.empty()) {
        Pending current = std::move(queue.front());
        queue.pop_front();
        subdirectories.clear();
        files.clear();
        for (uint32_t child : mNodes[current.node].children)
            (mNodes[child].isDirectory ? subdirectories : files).push_back(child);
        std::sort(subdirectories.begin(), subdirectories.end(), byName);
        std::sort(files.begin(), files.end(), byName);

        Directory& directory = layout.directories[current.slot];
        directory.firstSubdirectory = static_cast<uint32_t>(layout.directories.size());
        directory.subdirectoryCount = static_cast<uint32_t>(subdirectories.size());
        directory.firstFile = static_cast<uint32_t>(layout.fileIds.size());
        directory.fileCount = static_cast<uint32_t>(files.size());
        for (uint32_t child : files) {
            layout.fileIds.push_back(mNodes[child].fileId);
            layout.fileNames.push_back(mNodes[child].name);
            layout.filePaths.push_back(current.path + mNodes[child].name);
        }
        for (uint32_t child : subdirectories) {
            const auto slot = static_cast<uint32_t>(layout.directories.size());
            layout.directories.push_back(Directory{mNodes[child].name});
            queue.push_back({child, slot, current.path + mNodes[child].name + '/'});
        }
    }
    return layout;
}

}  // namespace Tarn::VELL::Writer
