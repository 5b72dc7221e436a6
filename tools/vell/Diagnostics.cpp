#include "Diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "TarnVellIO.h"
#include "support/QuietLogTable.h"

namespace Vell {

namespace {

std::atomic<Verbosity> gVerbosity{Verbosity::Normal};
std::atomic<bool> gHeldBack{false};

// A failing file can make the library dump a whole archive index; the first messages say
// what went wrong, the rest are only counted.
constexpr std::size_t kKeptMessages = 200;
thread_local std::vector<std::string> tCaptured;
thread_local std::size_t tCapturedCount = 0;

const char* VELL_CALL SeverityName(int32_t severity)
{
    static const char* const names[] = {"info", "warning", "error", "note"};
    return severity >= 0 && severity <= 3 ? names[severity] : "?";
}
const char* VELL_CALL ModuleName() { return "vell"; }

void VELL_CALL LogV(int32_t severity, uint32_t, uint32_t, const char* format, va_list args)
{
    const Verbosity verbosity = gVerbosity.load();
    if (verbosity != Verbosity::Verbose && severity < VELL_LOG_WARN) return;
    char text[8192];
    std::vsnprintf(text, sizeof(text), format, args);
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = '\0';
    if (verbosity == Verbosity::Verbose) std::fprintf(stderr, "vell: %s: %s\n", SeverityName(severity), text);
    if (severity < VELL_LOG_WARN) return;
    ++tCapturedCount;
    if (tCaptured.size() < kKeptMessages) tCaptured.emplace_back(text, n);
}

const LogFunctionTable kLogTable = [] {
    LogFunctionTable table = TarnSupport::QuietLogTable();
    table.GetSeverityName = SeverityName;
    table.GetModuleName = ModuleName;
    table.LogV = LogV;
    return table;
}();

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The text between the first pair of double quotes after marker, or empty.
std::string QuotedAfter(const std::string& text, const char* marker)
{
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) return {};
    const std::size_t open = text.find('"', at + std::strlen(marker));
    if (open == std::string::npos) return {};
    const std::size_t close = text.find('"', open + 1);
    return close == std::string::npos ? std::string{} : text.substr(open + 1, close - open - 1);
}

// The text after marker up to the end (without a final full stop).
std::string After(const std::string& text, const char* marker)
{
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) return {};
    std::string rest = text.substr(at + std::strlen(marker));
    while (!rest.empty() && (rest.back() == '.' || rest.back() == ' ')) rest.pop_back();
    return rest;
}

// The first message holding part, or null.
const std::string* Find(const std::vector<std::string>& messages, const char* part)
{
    for (const std::string& message : messages)
        if (Contains(message, part)) return &message;
    return nullptr;
}

// What the decoder said about damaged compressed data.
std::string DecoderDetail(const std::vector<std::string>& messages)
{
    if (const std::string* m = Find(messages, "zlib inflate failed with code ")) return "zlib: " + After(*m, "failed with code ");
    if (const std::string* m = Find(messages, "Decompress failed: ")) return After(*m, "Decompress failed: ");
    if (Find(messages, "Source data is too small to be valid")) return "the LZMA record is too short";
    if (Find(messages, "Allocating the lzma compression state failed")) return "its LZMA header is not valid";
    if (const std::string* m = Find(messages, "AsyncRead or SyncToken::Wait failed with error ")) {
        return "reading the archive failed: " + QuotedAfter(*m, "failed with error");
    }
    return {};
}

}  // namespace

void SetVerbosity(Verbosity verbosity) { gVerbosity = verbosity; }
Verbosity CurrentVerbosity() { return gVerbosity.load(); }

void InstallLibraryLog() { VellSetLogger(&kLogTable); }

void BeginCapture()
{
    tCaptured.clear();
    tCapturedCount = 0;
}
std::vector<std::string> CapturedMessages() { return tCaptured; }
std::size_t CapturedCount() { return tCapturedCount; }

std::string WithoutReporter(const std::string& message)
{
    // "VellOpenFile: text", "Tarn::VELL::Reader::X::Y: text", or a template's name such as
    // "Tarn::...::ReleaseManifestTemplate<struct Tarn::...::FileTableEntry>::CreateListing: text":
    // a name whose only blanks are inside angle brackets.
    const std::size_t colon = message.find(": ");
    if (colon == std::string::npos) return message;
    int depth = 0;
    for (std::size_t i = 0; i < colon; ++i) {
        depth += message[i] == '<' ? 1 : message[i] == '>' ? -1 : 0;
        if (message[i] == ' ' && depth == 0) return message;
    }
    return message.substr(colon + 2);
}

std::string ExplainFileFailure(const std::vector<std::string>& messages)
{
    if (const std::string* m = Find(messages, "Failed to decompress archive file ")) {
        const std::string archive = QuotedAfter(*m, "\" from ");
        const std::string detail = DecoderDetail(messages);
        return "its compressed data in " + (archive.empty() ? std::string("the archive") : archive) + " is damaged" +
               (detail.empty() ? "" : " (" + detail + ")");
    }
    if (Find(messages, "Mismatch between manifest size and archive size")) {
        return "its archive entry does not hold as many bytes as the manifest says";
    }
    if (Find(messages, "because the file wasn't found")) {
        return "its content was missing when the release was loaded";
    }
    if (const std::string* m = Find(messages, "Failed to open: ")) {
        // The system's reason follows as "<name>: <text>".
        std::string reason;
        for (std::size_t i = 0; i + 1 < messages.size(); ++i)
            if (&messages[i] == m) reason = WithoutReporter(messages[i + 1]);
        return "cannot open " + After(*m, "Failed to open: ") + (reason.empty() ? "" : ": " + reason);
    }
    if (const std::string* m = Find(messages, "AsyncRead or SyncToken::Wait failed with error ")) {
        return "reading its data failed: " + QuotedAfter(*m, "failed with error");
    }
    if (messages.empty()) return "the library gave no reason";
    return WithoutReporter(messages.front());
}

std::string ExplainLoadFailure(const std::vector<std::string>& messages)
{
    if (Find(messages, "Did not find keywords \"projects\" or \"solutions\"") || Find(messages, "Incomplete path") ||
        Find(messages, "Failed to determine name and version from the path")) {
        return "it is not a release directory: one lies at VELL/projects/<project>/releases/<version> or "
               "VELL/solutions/<solution>/releases/<version>, or below";
    }
    if (const std::string* m = Find(messages, "Invalid release format ")) {
        return "\"" + QuotedAfter(*m, "Invalid release format") + "\" is not a version (four numbers such as 0.0.0.2)";
    }
    if (const std::string* m = Find(messages, "Failed to open \"")) {
        return "cannot open " + QuotedAfter(*m, "Failed to open");
    }
    if (const std::string* m = Find(messages, "Failed to find project ")) {
        return "the solution names project " + After(*m, "Failed to find project ") + ", which cannot be loaded";
    }
    for (const char* damaged : {"Failed to find magic value", "Invalid version.", "The release manifest is invalid",
                                "Failure while reading header"}) {
        if (const std::string* m = Find(messages, damaged)) return "its release manifest is damaged: " + WithoutReporter(*m);
    }
    if (messages.empty()) return "the library gave no reason";
    return WithoutReporter(messages.front());
}

void Complain(const char* command, const std::string& text) { std::fprintf(stderr, "vell %s: %s\n", command, text.c_str()); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void NoteHeldBack() { gHeldBack = true; }

void PrintHint()
{
    if (gHeldBack.load() && gVerbosity.load() == Verbosity::Normal)
        std::fputs("vell: run with -v to see the library's full diagnostics\n", stderr);
}

}  // namespace Vell
