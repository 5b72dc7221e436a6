// mount: serves the loaded release as a read-only file system through FUSE 3, for as long as
// it stays mounted. The tree (names, kinds, sizes) is taken from the library's enumeration
// once at the start, since a loaded release never changes; file contents are read through
// VellRead at whatever offset the kernel asks for. Several threads serve requests: each open
// gets a handle of its own, and a handle is used by one thread at a time. A file that cannot
// be opened or read fails its reads with EIO, with vell's one line on standard error.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Commands.h"
#include "Diagnostics.h"
#include "Release.h"
#include "TarnVellIO.h"

namespace Vell {

namespace {

struct Node {
    std::string name;
    bool directory = false;
    uint64_t size = 0;
    std::vector<std::size_t> children;
    std::size_t subdirectories = 0;
};

// The release's tree, found by path ignoring ASCII case as the library finds paths.
class MountTree {
public:
    void Build()
    {
        mNodes.assign(1, Node{"", true, 0, {}, 0});
        mByPath.clear();
        mByPath.emplace("", 0);
        Add(0, "");
    }

    // A path as the kernel gives it ("/", "/DATA/x.txt"); null when there is none.
    const Node* Find(const char* path) const
    {
        while (*path == '/') ++path;
        const auto found = mByPath.find(Fold(path));
        return found == mByPath.end() ? nullptr : &mNodes[found->second];
    }
    const Node& At(std::size_t index) const { return mNodes[index]; }

private:
    static std::string Fold(std::string text)
    {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return text;
    }

    void Add(std::size_t parent, const std::string& path)
    {
        for (const Entry& entry : List(path, "*")) {
            const std::size_t index = mNodes.size();
            mNodes.push_back(Node{entry.name, entry.directory, entry.size, {}, 0});
            mNodes[parent].children.push_back(index);
            if (entry.directory) ++mNodes[parent].subdirectories;
            mByPath.emplace(Fold(entry.path), index);  // the first of two names differing in case wins
            if (entry.directory) Add(index, entry.path);
        }
    }

    std::vector<Node> mNodes;
    std::unordered_map<std::string, std::size_t> mByPath;
};

// An open of a file. The library's handle is made by the first read: a compressed file is
// decompressed whole when opened, and the kernel serves pages it keeps from earlier opens
// without reading at all.
struct OpenFile {
    std::string path;
    uint64_t size;
    std::mutex lock;  // a handle is used on one thread at a time
    VellFileHandle handle = nullptr;
    bool failed = false;
};

MountTree gTree;
std::time_t gMountTime = 0;
std::mutex gOpenLock;
std::set<OpenFile*> gOpen;  // closed at the end should the kernel not release them

void FillStat(const Node& node, struct stat* st)
{
    std::memset(st, 0, sizeof(*st));
    st->st_mode = node.directory ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st->st_nlink = node.directory ? 2 + node.subdirectories : 1;
    st->st_size = static_cast<off_t>(node.size);
    st->st_blocks = static_cast<blkcnt_t>((node.size + 511) / 512);
    st->st_blksize = 65536;
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_atime = st->st_mtime = st->st_ctime = gMountTime;
}

void* Init(struct fuse_conn_info*, struct fuse_config* config)
{
    // Nothing ever changes: the kernel may keep names, attributes and pages.
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return nullptr;
}

int GetAttr(const char* path, struct stat* st, struct fuse_file_info*)
{
    const Node* node = gTree.Find(path);
    if (node == nullptr) return -ENOENT;
    FillStat(*node, st);
    return 0;
}

int ReadDirectory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
                  enum fuse_readdir_flags)
{
    const Node* node = gTree.Find(path);
    if (node == nullptr) return -ENOENT;
    if (!node->directory) return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (std::size_t child : node->children)
        if (fill(buffer, gTree.At(child).name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    return 0;
}

int Open(const char* path, struct fuse_file_info* info)
{
    const Node* node = gTree.Find(path);
    if (node == nullptr) return -ENOENT;
    if (node->directory) return -EISDIR;
    if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    auto* file = new OpenFile{path + 1, node->size, {}};
    {
        std::lock_guard<std::mutex> guard(gOpenLock);
        gOpen.insert(file);
    }
    info->fh = reinterpret_cast<uint64_t>(file);
    info->keep_cache = 1;
    return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, struct fuse_file_info* info)
{
    auto* file = reinterpret_cast<OpenFile*>(info->fh);
    if (offset < 0) return -EINVAL;
    const uint64_t at = static_cast<uint64_t>(offset);
    if (at >= file->size || size == 0) return 0;
    // Only whole ranges inside the file: a read that crosses the end of a compressed file fails.
    const uint64_t count = std::min<uint64_t>(size, file->size - at);
    std::lock_guard<std::mutex> guard(file->lock);
    if (file->handle == nullptr && !file->failed) {
        BeginCapture();
        file->handle = VellOpenFile(file->path.c_str());
        if (file->handle == nullptr) {
            file->failed = true;
            Complain("mount", "cannot open " + Quoted(file->path) + ": " + ExplainFileFailure(CapturedMessages()));
            NoteHeldBack();
        }
    }
    if (file->failed) return -EIO;
    uint32_t got = 0;
    BeginCapture();
    if (VellRead(file->handle, at, static_cast<uint32_t>(count), &got, buffer) != VELL_OK || got != count) {
        Complain("mount", "cannot read " + Quoted(file->path) + ": " + ExplainFileFailure(CapturedMessages()));
        NoteHeldBack();
        return -EIO;
    }
    return static_cast<int>(got);
}

int Release(const char*, struct fuse_file_info* info)
{
    auto* file = reinterpret_cast<OpenFile*>(info->fh);
    {
        std::lock_guard<std::mutex> guard(gOpenLock);
        gOpen.erase(file);
    }
    if (file->handle != nullptr) VellCloseFile(file->handle);
    delete file;
    return 0;
}

}  // namespace

int Mount(const Invocation& invocation)
{
    const std::string& mountPoint = invocation.args[1];
    struct stat point {};
    if (stat(mountPoint.c_str(), &point) != 0) {
        Complain("mount", mountPoint + ": " + std::strerror(errno));
        return kExitFailed;
    }
    if (!S_ISDIR(point.st_mode)) {
        Complain("mount", mountPoint + " is not a directory");
        return kExitFailed;
    }
    const int device = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        Complain("mount", std::string("FUSE is not available: /dev/fuse: ") + std::strerror(errno) +
                              " (the fuse kernel module must be loaded; a container must be given the device)");
        return kExitFailed;
    }
    close(device);

    gTree.Build();
    gMountTime = std::time(nullptr);

    struct fuse_operations operations {};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDirectory;
    operations.open = Open;
    operations.read = Read;
    operations.release = Release;

    char program[] = "vell";
    char optionFlag[] = "-o";
    char options[] = "ro,default_permissions,fsname=vell,subtype=vell";
    char* argv[] = {program, optionFlag, options, nullptr};
    struct fuse_args args = FUSE_ARGS_INIT(3, argv);
    struct fuse* fuse = fuse_new(&args, &operations, sizeof(operations), nullptr);
    fuse_opt_free_args(&args);  // the parse may have copied them
    if (fuse == nullptr) {
        Complain("mount", "FUSE could not be set up (see the message above)");
        return kExitFailed;
    }
    if (fuse_mount(fuse, mountPoint.c_str()) != 0) {
        Complain("mount", "cannot mount on " + mountPoint + " (see the message above)");
        fuse_destroy(fuse);
        return kExitFailed;
    }
    struct fuse_session* session = fuse_get_session(fuse);
    const bool signals = fuse_set_signal_handlers(session) == 0;
    std::fprintf(stderr, "vell mount: %s is mounted at %s; Ctrl-C or 'fusermount3 -u %s' unmounts it\n",
                 invocation.directory.c_str(), mountPoint.c_str(), mountPoint.c_str());
    // Ends when a signal arrives (its number) or the file system is unmounted (0).
    const int result = fuse_loop_mt(fuse, 0);
    if (signals) fuse_remove_signal_handlers(session);
    fuse_unmount(fuse);
    fuse_destroy(fuse);
    {
        std::lock_guard<std::mutex> guard(gOpenLock);
        for (OpenFile* file : gOpen) {
            if (file->handle != nullptr) VellCloseFile(file->handle);
            delete file;
        }
        gOpen.clear();
    }
    if (result < 0) {
        Complain("mount", std::string("serving the file system failed: ") + std::strerror(-result));
        return kExitFailed;
    }
    std::fprintf(stderr, "vell mount: %s is unmounted\n", mountPoint.c_str());
    return kExitOk;
}

}  // namespace Vell
