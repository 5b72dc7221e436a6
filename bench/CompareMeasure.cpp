#include "bench/CompareMeasure.h"

#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>

namespace TarnCompare {

double Nanoseconds(Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); }

double ThreadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

ResidentSet ReadResidentSet()
{
    std::ifstream status("/proc/self/status");
    ResidentSet set;
    std::string key;
    std::int64_t kib = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> kib) set.now = kib * 1024;
        else if (key == "VmHWM:" && status >> kib) set.peak = kib * 1024;
        status.ignore(1 << 20, '\n');
    }
    return set;
}

bool ResetResidentPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5" << std::flush;
    return static_cast<bool>(clear);
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace TarnCompare
