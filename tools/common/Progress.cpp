#include "tools/common/Progress.h"

#include <cinttypes>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace TarnTools {

namespace {

std::string Bytes(uint64_t bytes)
{
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0) std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    else std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string Duration(double seconds)
{
    const auto whole = static_cast<uint64_t>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", whole / 3600, unsigned(whole / 60 % 60), unsigned(whole % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(whole / 60), unsigned(whole % 60));
    return text;
}

}  // namespace

Progress::Progress(std::string label, uint64_t totalFiles, uint64_t totalBytes)
    : Progress(std::move(label), totalFiles, totalBytes, stderr, StandardErrorIsTerminal())
{
}

Progress::Progress(std::string label, uint64_t totalFiles, uint64_t totalBytes, std::FILE* out, bool enabled)
    : mLabel(std::move(label)), mTotalFiles(totalFiles), mTotalBytes(totalBytes), mOut(out), mEnabled(enabled && out != nullptr),
      mStart(std::chrono::steady_clock::now())
{
}

Progress::~Progress() { Finish(); }

bool Progress::StandardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string Progress::Format(const std::string& label, uint64_t filesDone, uint64_t totalFiles, uint64_t bytesDone,
                             uint64_t totalBytes, double seconds)
{
    std::string line = label + ": " + std::to_string(filesDone);
    if (totalFiles != 0) line += "/" + std::to_string(totalFiles);
    line += " files, " + Bytes(bytesDone);
    if (totalBytes != 0) line += " of " + Bytes(totalBytes);
    if (seconds >= 0.5) {
        const double rate = static_cast<double>(bytesDone) / seconds;
        line += ", " + Bytes(static_cast<uint64_t>(rate)) + "/s";
        // Time left from the bytes when their total is known, else from the files.
        double left = -1;
        if (totalBytes != 0 && bytesDone != 0 && bytesDone <= totalBytes)
            left = seconds * static_cast<double>(totalBytes - bytesDone) / static_cast<double>(bytesDone);
        else if (totalFiles != 0 && filesDone != 0 && filesDone <= totalFiles)
            left = seconds * static_cast<double>(totalFiles - filesDone) / static_cast<double>(filesDone);
        if (left >= 0) line += ", " + Duration(left) + " left";
    }
    return line;
}

void Progress::Add(uint64_t files, uint64_t bytes)
{
    if (!mEnabled) return;
    std::lock_guard<std::mutex> hold(mLock);
    mFiles += files;
    mBytes += bytes;
    Show(false);
}

void Progress::Restart(std::string label, uint64_t totalFiles, uint64_t totalBytes)
{
    std::lock_guard<std::mutex> hold(mLock);
    mLabel = std::move(label);
    mTotalFiles = totalFiles;
    mTotalBytes = totalBytes;
    mFiles = mBytes = 0;
    mStart = std::chrono::steady_clock::now();
    if (mEnabled) Show(true);
}

void Progress::Show(bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && mShown && now - mLastShown < std::chrono::milliseconds(100)) return;
    mLastShown = now;
    const double seconds = std::chrono::duration<double>(now - mStart).count();
    // "\r" returns to the start of the line, "\033[K" clears what a longer line left behind.
    std::fprintf(mOut, "\r%s\033[K", Format(mLabel, mFiles, mTotalFiles, mBytes, mTotalBytes, seconds).c_str());
    std::fflush(mOut);
    mShown = true;
}

void Progress::Finish()
{
    std::lock_guard<std::mutex> hold(mLock);
    if (!mShown) return;
    std::fputs("\r\033[K", mOut);
    std::fflush(mOut);
    mShown = false;
}

}  // namespace TarnTools
