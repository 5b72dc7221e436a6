#include "Release.h"

#include <algorithm>

#include "Diagnostics.h"
#include "TarnVellIO.h"

namespace Vell {

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::string Join(const std::string& directory, const std::string& name)
{
    return directory.empty() ? name : directory + "/" + name;
}

std::string NormalisePath(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') c = '/';
        if (c == '/' && (out.empty() || out.back() == '/')) continue;
        out.push_back(c);
    }
    if (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

void SplitPattern(const std::string& text, std::string& directory, std::string& pattern)
{
    const std::size_t slash = text.rfind('/');
    directory = slash == std::string::npos ? "" : text.substr(0, slash);
    pattern = slash == std::string::npos ? text : text.substr(slash + 1);
}

std::vector<Entry> List(const std::string& directory, const std::string& pattern)
{
    std::vector<Entry> entries;
    VellFindHandle search = VellFindFirstFile(Join(directory, pattern).c_str());
    if (search == nullptr) return entries;
    char name[260];
    uint32_t isDirectory = 0;
    uint64_t size = 0;
    while (VellFindNextFile(search, &isDirectory, &size, sizeof(name), name) == VELL_OK)
        entries.push_back({Join(directory, name), name, isDirectory != 0, size});
    VellFindClose(search);
    return entries;
}

std::optional<Entry> Resolve(const std::string& path)
{
    Entry current{"", "", true, 0};
    if (path.empty()) {
        // The root exists when it can be listed.
        VellFindHandle search = VellFindFirstFile("*");
        if (search == nullptr) return std::nullopt;
        VellFindClose(search);
        return current;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, slash - start);
        if (!current.directory) return std::nullopt;
        // Listing the parent with the component as its pattern gives the manifest's spelling;
        // a component holding wildcards may list several entries.
        std::optional<Entry> found;
        for (Entry& entry : List(current.path, component)) {
            if (SameIgnoringAsciiCase(entry.name, component)) {
                found = std::move(entry);
                break;
            }
        }
        if (!found) return std::nullopt;
        current = std::move(*found);
        start = slash + 1;
    }
    return current;
}

void Walk(const std::string& directory, std::vector<Entry>& directories, std::vector<Entry>& files)
{
    for (Entry& entry : List(directory, "*")) {
        if (entry.directory) {
            directories.push_back(entry);
            Walk(entry.path, directories, files);
        } else {
            files.push_back(std::move(entry));
        }
    }
}

bool ReadWholeFile(const Entry& file, const std::function<bool(const char*, uint32_t)>& sink, std::string& reason)
{
    BeginCapture();
    VellFileHandle handle = VellOpenFile(file.path.c_str());
    if (handle == nullptr) {
        reason = ExplainFileFailure(CapturedMessages());
        NoteHeldBack();
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(VellGetFileSize(handle));
    std::vector<char> buffer(size < (1u << 20) ? static_cast<std::size_t>(size) + 1 : 1u << 20);
    uint64_t offset = 0;
    bool ok = true;
    while (ok && offset < size) {
        const uint64_t left = size - offset;
        const uint32_t want = static_cast<uint32_t>(left < buffer.size() ? left : buffer.size());
        uint32_t got = 0;
        BeginCapture();
        if (VellRead(handle, offset, want, &got, buffer.data()) != VELL_OK || got != want) {
            reason = ExplainFileFailure(CapturedMessages());
            NoteHeldBack();
            ok = false;
        } else {
            ok = sink(buffer.data(), got);
        }
        offset += got;
    }
    VellCloseFile(handle);
    return ok;
}

}  // namespace Vell
