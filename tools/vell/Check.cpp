// check and verify: read every file of the release; verify also compares each with the
// checksum its manifest gives.
#include <cstdio>

#include "Commands.h"
#include "Diagnostics.h"
#include "Json.h"
#include "Progress.h"
#include "Release.h"
#include "Storage.h"

namespace Vell {

namespace {

// --json or nothing; false (after saying so) for anything else.
bool ParseJsonOption(const char* command, const std::vector<std::string>& args, bool& json)
{
    json = false;
    for (const std::string& arg : args) {
        if (arg != "--json") {
            Complain(command, "unknown argument " + arg);
            return false;
        }
        json = true;
    }
    return true;
}

std::vector<Entry> AllFiles(uint64_t& bytes)
{
    std::vector<Entry> directories, files;
    Walk("", directories, files);
    bytes = 0;
    for (const Entry& file : files) bytes += file.size;
    return files;
}

struct Outcome {
    const Entry* file;
    std::string status;  // "ok", "failed", and for verify "mismatch", "unverified"
    std::string reason;  // why it failed or does not match
    std::string actual;  // verify: the content's MD5
};

void PrintJson(const Outcome& outcome, const StorageDetails* details)
{
    JsonObject object;
    object.Text("path", outcome.file->path).Text("kind", "file").Number("size", outcome.file->size).Text("status", outcome.status);
    if (details) {
        if (details->HasChecksum())
            object.Text("checksum", Hex(details->checksum.data(), details->checksum.size()));
        else
            object.Null("checksum");
        if (outcome.actual.empty())
            object.Null("actual");
        else
            object.Text("actual", outcome.actual);
    }
    if (!outcome.reason.empty()) object.Text("reason", outcome.reason);
    std::fputs(object.Line().c_str(), stdout);
}

}  // namespace

int Check(const Invocation& invocation)
{
    bool json = false;
    if (!ParseJsonOption("check", invocation.args, json)) return kExitUsage;
    uint64_t totalBytes = 0;
    const std::vector<Entry> files = AllFiles(totalBytes);
    // Only zlib streams carry a check of their own; the rest read back whatever is stored.
    StorageView storage;
    const bool haveStorage = storage.Load(invocation.directory);

    Progress progress(files.size(), totalBytes);
    std::vector<Outcome> failures;
    uint64_t bytes = 0;
    std::size_t selfChecked = 0;
    for (const Entry& file : files) {
        uint64_t read = 0;
        std::string reason;
        const bool ok = ReadWholeFile(file, [&](const char*, uint32_t n) {
            read += n;
            progress.Add(0, n);
            return true;
        }, reason);
        progress.Add(1, 0);
        bytes += read;
        Outcome outcome{&file, ok ? "ok" : "failed", reason, {}};
        if (json) PrintJson(outcome, nullptr);
        if (!ok) failures.push_back(outcome);
        if (haveStorage) {
            const std::optional<StorageDetails> details = storage.Find(file.path);
            if (details && details->codec == "zlib") ++selfChecked;
        }
    }
    progress.Finish();
    if (!json) {
        for (const Outcome& failure : failures) std::printf("FAILED %s: %s\n", failure.file->path.c_str(), failure.reason.c_str());
        std::printf("%zu file(s) checked, %llu bytes read, %zu failed\n", files.size(), static_cast<unsigned long long>(bytes),
                    failures.size());
        if (haveStorage && selfChecked < files.size())
            std::printf("%zu of them carry no check of their own (stored, LZMA, managed or naked): 'vell verify' compares "
                        "them with their checksums\n",
                        files.size() - selfChecked);
    }
    return failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace Vell

namespace Vell {
int Verify(const Invocation&)
{
    Complain("verify", "not yet");
    return kExitFailed;
}
}  // namespace Vell
