// check and verify: read every file of the release; verify also compares each with the
// checksum its manifest gives.
#include <cstdio>

#include "Commands.h"
#include "Diagnostics.h"
#include "Json.h"
#include "Release.h"
#include "Storage.h"
#include "tools/common/Progress.h"
#include "writer/Checksum.h"

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

// One file's line of --json; verify's lines also carry the checksums compared.
void PrintJson(const Outcome& outcome, bool verify, const StorageDetails* details)
{
    JsonObject object;
    object.Text("path", outcome.file->path).Text("kind", "file").Number("size", outcome.file->size).Text("status", outcome.status);
    if (verify) {
        if (details && details->HasChecksum())
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

    TarnTools::Progress progress("checking", files.size(), totalBytes);
    std::vector<Outcome> failures;
    uint64_t bytes = 0;
    std::size_t selfChecked = 0;
    for (const Entry& file : files) {
        std::string reason;
        const bool ok = ReadWholeFile(file, [&](const char*, uint32_t n) {
            bytes += n;
            progress.Add(0, n);
            return true;
        }, reason);
        progress.Add(1, 0);
        Outcome outcome{&file, ok ? "ok" : "failed", reason, {}};
        if (json) PrintJson(outcome, false, nullptr);
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

int Verify(const Invocation& invocation)
{
    bool json = false;
    if (!ParseJsonOption("verify", invocation.args, json)) return kExitUsage;
    StorageView storage;
    if (!storage.Load(invocation.directory)) {
        Complain("verify", "cannot read the release's manifests");
        return kExitFailed;
    }
    uint64_t totalBytes = 0;
    const std::vector<Entry> files = AllFiles(totalBytes);

    TarnTools::Progress progress("verifying", files.size(), totalBytes);
    std::vector<Outcome> problems;
    uint64_t bytes = 0;
    std::size_t verified = 0, mismatched = 0, failed = 0, unverified = 0;
    Tarn::VELL::Writer::Md5 md5;
    for (const Entry& file : files) {
        const std::optional<StorageDetails> details = storage.Find(file.path);
        std::string reason;
        const bool ok = ReadWholeFile(file, [&](const char* data, uint32_t n) {
            md5.Update(data, n);
            bytes += n;
            progress.Add(0, n);
            return true;
        }, reason);
        const Tarn::VELL::Writer::Md5Digest digest = md5.Finish();
        progress.Add(1, 0);
        Outcome outcome{&file, "ok", reason, ok ? Tarn::VELL::Writer::HexDigest(digest) : std::string()};
        if (!ok) {
            outcome.status = "failed";
            ++failed;
        } else if (!details || !details->HasChecksum()) {
            outcome.status = "unverified";
            ++unverified;
        } else if (digest != details->checksum) {
            outcome.status = "mismatch";
            outcome.reason = "its MD5 is " + outcome.actual + ", the manifest says " +
                             Hex(details->checksum.data(), details->checksum.size());
            ++mismatched;
        } else {
            ++verified;
        }
        if (json) PrintJson(outcome, true, details ? &*details : nullptr);
        if (outcome.status == "failed" || outcome.status == "mismatch") problems.push_back(outcome);
    }
    progress.Finish();
    if (!json) {
        for (const Outcome& problem : problems)
            std::printf("%s %s: %s\n", problem.status == "failed" ? "FAILED" : "MISMATCH", problem.file->path.c_str(),
                        problem.reason.c_str());
        std::printf("%zu file(s) read, %llu bytes: %zu verified, %zu differ from their checksum, %zu failed, %zu unverified "
                    "(no checksum in the manifest)\n",
                    files.size(), static_cast<unsigned long long>(bytes), verified, mismatched, failed, unverified);
    }
    return problems.empty() ? kExitOk : kExitFailed;
}

}  // namespace Vell

