// ls, cat, stat and tree: looking at the release's directories and files.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "Diagnostics.h"
#include "Json.h"
#include "Release.h"
#include "Storage.h"

namespace Vell {

namespace {

const char* KindName(const Entry& entry) { return entry.directory ? "directory" : "file"; }

void PrintEntry(const Entry& entry, bool longFormat, bool json)
{
    if (json) {
        std::fputs(JsonObject().Text("path", entry.path).Text("name", entry.name).Text("kind", KindName(entry)).Number("size", entry.size).Line().c_str(),
                   stdout);
    } else if (longFormat) {
        std::printf("%c %12llu  %s\n", entry.directory ? 'd' : '-', static_cast<unsigned long long>(entry.size), entry.name.c_str());
    } else {
        std::printf("%s%s\n", entry.name.c_str(), entry.directory ? "/" : "");
    }
}

// Prints one directory's block of a listing and, with recursive, those of its subdirectories.
void PrintListing(const std::string& heading, const std::vector<Entry>& entries, bool longFormat, bool recursive, bool json,
                  bool& first)
{
    if (recursive && !json) std::printf("%s%s:\n", first ? "" : "\n", heading.empty() ? "." : heading.c_str());
    first = false;
    for (const Entry& entry : entries) PrintEntry(entry, longFormat, json);
    if (!recursive) return;
    for (const Entry& entry : entries)
        if (entry.directory) PrintListing(entry.path, List(entry.path, "*"), longFormat, recursive, json, first);
}

}  // namespace

int Ls(const Invocation& invocation)
{
    bool longFormat = false, recursive = false, json = false;
    std::string patternText;
    for (const std::string& arg : invocation.args) {
        if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg.find_first_not_of("lR", 1) == std::string::npos) {
            longFormat = longFormat || arg.find('l') != std::string::npos;
            recursive = recursive || arg.find('R') != std::string::npos;
        } else if (!arg.empty() && arg[0] == '-') {
            Complain("ls", "unknown option " + arg);
            return kExitUsage;
        } else {
            patternText = arg;
        }
    }
    const std::string normalised = NormalisePath(patternText);
    bool first = true;
    if (!HasWildcard(normalised)) {
        const std::optional<Entry> entry = Resolve(normalised);
        if (!entry) {
            Complain("ls", Quoted(patternText) + " is not in this release");
            return kExitFailed;
        }
        if (entry->directory)
            PrintListing(entry->path, List(entry->path, "*"), longFormat, recursive, json, first);
        else
            PrintEntry(*entry, longFormat, json);
        return kExitOk;
    }
    std::string directory, pattern;
    SplitPattern(normalised, directory, pattern);
    const std::optional<Entry> parent = Resolve(directory);
    if (!parent || !parent->directory) {
        Complain("ls", "there is no directory " + Quoted(directory) + " in this release");
        return kExitFailed;
    }
    const std::vector<Entry> entries = List(parent->path, pattern);
    if (entries.empty()) {
        Complain("ls", "nothing in this release matches " + Quoted(patternText));
        return kExitFailed;
    }
    PrintListing(parent->path, entries, longFormat, recursive, json, first);
    return kExitOk;
}

int Cat(const Invocation& invocation)
{
    const std::string& path = invocation.args[0];
    const std::optional<Entry> entry = Resolve(NormalisePath(path));
    if (!entry) {
        Complain("cat", Quoted(path) + " is not in this release");
        return kExitFailed;
    }
    if (entry->directory) {
        Complain("cat", Quoted(path) + " is a directory");
        return kExitFailed;
    }
    std::string reason;
    const bool ok = ReadWholeFile(*entry, [&reason](const char* data, uint32_t n) {
        if (std::fwrite(data, 1, n, stdout) == n) return true;
        reason = std::string("cannot write to standard output: ") + std::strerror(errno);
        return false;
    }, reason);
    if (std::fflush(stdout) != 0 && reason.empty()) reason = std::string("cannot write to standard output: ") + std::strerror(errno);
    if (!ok || !reason.empty()) {
        Complain("cat", "cannot read " + Quoted(entry->path) + ": " + reason);
        return kExitFailed;
    }
    return kExitOk;
}

int Stat(const Invocation& invocation)
{
    bool json = false;
    std::vector<std::string> paths;
    for (const std::string& arg : invocation.args) {
        if (arg == "--json")
            json = true;
        else
            paths.push_back(arg);
    }
    if (paths.empty()) {
        Complain("stat", "which path?");
        return kExitUsage;
    }
    StorageView storage;
    bool storageLoaded = false;
    int status = kExitOk;
    for (const std::string& path : paths) {
        const std::optional<Entry> entry = Resolve(NormalisePath(path));
        if (!entry) {
            Complain("stat", Quoted(path) + " is not in this release");
            status = kExitFailed;
            continue;
        }
        const std::string shown = entry->path.empty() ? "." : entry->path;
        if (entry->directory) {
            if (json)
                std::fputs(JsonObject().Text("path", entry->path).Text("kind", "directory").Number("size", 0).Line().c_str(), stdout);
            else
                std::printf("%s: directory\n", shown.c_str());
            continue;
        }
        if (!storageLoaded) storageLoaded = storage.Load(invocation.directory);
        const std::optional<StorageDetails> details = storage.Find(entry->path);
        if (json) {
            JsonObject object;
            object.Text("path", entry->path).Text("kind", "file").Number("size", entry->size);
            if (details) {
                object.Text("project", details->project).Text("release", details->release).Text("storage", details->storage);
                if (details->codec.empty())
                    object.Null("codec");
                else
                    object.Text("codec", details->codec);
                object.Text("version", details->version);
                if (details->file.empty())
                    object.Null("file").Null("offset").Null("storedSize");
                else
                    object.Text("file", details->file).Number("offset", details->offset).Number("storedSize", details->storedSize);
                if (details->HasChecksum())
                    object.Text("checksum", Hex(details->checksum.data(), details->checksum.size()));
                else
                    object.Null("checksum");
            }
            std::fputs(object.Line().c_str(), stdout);
            continue;
        }
        std::printf("%s: file, %llu bytes\n", shown.c_str(), static_cast<unsigned long long>(entry->size));
        if (!details) continue;
        std::printf("  project   %s %s\n", details->project.c_str(), details->release.c_str());
        if (details->storage == "archived")
            std::printf("  storage   archived, %s, under version %s\n", details->codec.c_str(), details->version.c_str());
        else if (details->storage == "missing")
            std::printf("  storage   missing: its content was not found when the release was loaded\n");
        else
            std::printf("  storage   %s file, under version %s\n", details->storage.c_str(), details->version.c_str());
        if (details->storage == "archived")
            std::printf("  stored    %llu bytes at offset %llu of %s\n", static_cast<unsigned long long>(details->storedSize),
                        static_cast<unsigned long long>(details->offset), details->file.c_str());
        else if (!details->file.empty())
            std::printf("  stored    %llu bytes in %s\n", static_cast<unsigned long long>(details->storedSize), details->file.c_str());
        std::printf("  checksum  %s\n", details->HasChecksum() ? Hex(details->checksum.data(), details->checksum.size()).c_str()
                                                                : "none in the manifest");
    }
    return status;
}

namespace {

void DrawTree(const std::string& directory, const std::string& indent)
{
    const std::vector<Entry> entries = List(directory, "*");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool last = i + 1 == entries.size();
        std::printf("%s%s%s%s\n", indent.c_str(), last ? "`-- " : "|-- ", entries[i].name.c_str(), entries[i].directory ? "/" : "");
        if (entries[i].directory) DrawTree(entries[i].path, indent + (last ? "    " : "|   "));
    }
}

}  // namespace

int Tree(const Invocation& invocation)
{
    const std::string path = invocation.args.empty() ? "" : invocation.args[0];
    const std::optional<Entry> entry = Resolve(NormalisePath(path));
    if (!entry) {
        Complain("tree", Quoted(path) + " is not in this release");
        return kExitFailed;
    }
    if (!entry->directory) {
        Complain("tree", Quoted(path) + " is a file, not a directory");
        return kExitFailed;
    }
    std::printf("%s\n", entry->path.empty() ? "." : entry->path.c_str());
    DrawTree(entry->path, "");
    return kExitOk;
}

}  // namespace Vell
