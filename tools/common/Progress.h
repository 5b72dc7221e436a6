// The progress line of the tools' long commands: files and bytes done, the rate and the time
// left, rewritten in place on standard error at most ten times a second. It shows only on a
// terminal; when standard error is a file or a pipe nothing is written, so logs and scripts
// see only the commands' own lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace TarnTools {

class Progress {
public:
    // label says what is being done ("packing"); a total of 0 is unknown and not shown.
    // The line goes to out when enabled; by default, to standard error when it is a terminal.
    Progress(std::string label, uint64_t totalFiles, uint64_t totalBytes);
    Progress(std::string label, uint64_t totalFiles, uint64_t totalBytes, std::FILE* out, bool enabled);
    ~Progress();  // Finish
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Counts work done; may be called from any thread.
    void Add(uint64_t files, uint64_t bytes);
    // Changes the totals (when they become known or the work changes phase) and the label.
    void Restart(std::string label, uint64_t totalFiles, uint64_t totalBytes);
    // Clears the line, so that what is printed next starts on a clean line.
    void Finish();

    bool Enabled() const { return mEnabled; }

    // The line for a state of the work: "packing: 120/400 files, 3.0/10.0 MiB, 1.5 MiB/s,
    // 0:05 left". The rate and the time left appear once some time has passed.
    static std::string Format(const std::string& label, uint64_t filesDone, uint64_t totalFiles, uint64_t bytesDone,
                              uint64_t totalBytes, double seconds);
    static bool StandardErrorIsTerminal();

private:
    void Show(bool force);

    std::mutex mLock;
    std::string mLabel;
    uint64_t mTotalFiles, mTotalBytes;
    uint64_t mFiles = 0, mBytes = 0;
    std::FILE* mOut;
    bool mEnabled;
    bool mShown = false;
    std::chrono::steady_clock::time_point mStart, mLastShown;
};

}  // namespace TarnTools
