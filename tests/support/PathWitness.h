// Sees every path the library hands the platform layer: while a PathWitness lives, each call
// of the call table that takes a path (opens, status and attribute queries, directory searches,
// final-path lookups, deletions) is recorded and then passed on to the table that was installed
// before. Used to show that stored data never makes the library reach outside its content root.
// Header-only, so that the fuzz targets can use it too.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32.h"

namespace TarnTest {

// Whether path names a place inside root by its text alone: root itself, or root, '/' and
// components of which none is empty, "." or "..", or holds '\' or ':'. (A pattern's wildcards
// in the last component are fine.)
inline bool LiesInside(std::string_view path, std::string_view root)
{
    if (root.empty() || path.substr(0, root.size()) != root) return false;
    if (path.size() == root.size()) return true;
    if (path[root.size()] != '/') return false;
    std::string_view rest = path.substr(root.size() + 1);
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view component = rest.substr(0, slash);
        if (component.empty() || component == "." || component == ".." ||
            component.find_first_of("\\:") != std::string_view::npos)
            return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

class PathWitness {
public:
    struct Call {
        std::string call;
        std::string path;
    };

    PathWitness()
    {
        State& s = Shared();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.calls.clear();
        s.previous = Win32::gCalls;
        Win32::CallTable& t = Win32::gCalls;
        t.CreateFileA = [](Win32::LPCSTR p, auto... a) { return Note("CreateFileA", p), Shared().previous.CreateFileA(p, a...); };
        t.GetFileAttributesA = [](Win32::LPCSTR p) { return Note("GetFileAttributesA", p), Shared().previous.GetFileAttributesA(p); };
        t.DeleteFileA = [](Win32::LPCSTR p) { return Note("DeleteFileA", p), Shared().previous.DeleteFileA(p); };
        t.GetFinalPathNameA = [](Win32::LPCSTR p, auto... a) {
            return Note("GetFinalPathNameA", p), Shared().previous.GetFinalPathNameA(p, a...);
        };
        t.FindFirstFileA = [](Win32::LPCSTR p, auto... a) { return Note("FindFirstFileA", p), Shared().previous.FindFirstFileA(p, a...); };
        t.FindFirstFileExA = [](Win32::LPCSTR p, auto... a) {
            return Note("FindFirstFileExA", p), Shared().previous.FindFirstFileExA(p, a...);
        };
        t._fsopen = [](const char* p, auto... a) { return Note("_fsopen", p), Shared().previous._fsopen(p, a...); };
        t.fopen_s = [](std::FILE** stream, const char* p, const char* mode) {
            return Note("fopen_s", p), Shared().previous.fopen_s(stream, p, mode);
        };
        t._stat64i32 = [](const char* p, auto... a) { return Note("_stat64i32", p), Shared().previous._stat64i32(p, a...); };
        t._access = [](const char* p, int mode) { return Note("_access", p), Shared().previous._access(p, mode); };
    }
    ~PathWitness() { Win32::gCalls = Shared().previous; }
    PathWitness(const PathWitness&) = delete;
    PathWitness& operator=(const PathWitness&) = delete;

    std::vector<Call> Calls() const
    {
        std::lock_guard<std::mutex> lock(Shared().mutex);
        return Shared().calls;
    }
    // The calls whose path lies inside none of the roots given (a root and, say, its
    // canonical form), one "call(path)" each. On Windows a root is also taken with
    // forward slashes for backslashes, as the library spells the paths it builds.
    std::vector<std::string> Outside(std::vector<std::string> roots) const
    {
#if defined(_WIN32)
        for (std::size_t i = 0, n = roots.size(); i < n; ++i) {
            std::string slashed = roots[i];
            for (char& c : slashed) c = c == '\\' ? '/' : c;
            roots.push_back(slashed);
        }
#endif
        std::vector<std::string> outside;
        for (const Call& c : Calls()) {
            bool inside = false;
            for (const std::string& root : roots) inside = inside || LiesInside(c.path, root);
            if (!inside) outside.push_back(c.call + "(" + c.path + ")");
        }
        return outside;
    }
    // How many calls named exactly this path.
    std::size_t Count(const std::string& call, const std::string& path) const
    {
        std::size_t n = 0;
        for (const Call& c : Calls()) n += c.call == call && c.path == path;
        return n;
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<Call> calls;
        Win32::CallTable previous{};
    };
    static State& Shared()
    {
        static State state;
        return state;
    }
    static void Note(const char* call, const char* path)
    {
        State& s = Shared();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.calls.push_back({call, path ? path : "<null>"});
    }
};

}  // namespace TarnTest
