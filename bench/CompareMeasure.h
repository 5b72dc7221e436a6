// vell_compare's measuring: the sizes it works with, the clocks (the measuring thread's CPU
// time beside wall time), what one measurement yields (Sample), what a table cell gathers over
// the rounds (Cell) and the rows and columns of the table.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TarnCompare {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSmallCapacity = 65536;  // the largest small file
constexpr std::uint32_t kReadSize = 4096;
constexpr std::size_t kQueryCount = 16384;
constexpr std::size_t kQueryBatch = 1024;
constexpr std::size_t kRandomReadCount = 4096;
constexpr int kRandomReadPasses = 9;
constexpr std::size_t kRing = 64;  // random reads land in a ring of 64 buffers
constexpr std::size_t kBatchFiles = 32;  // small files are read into 32 slots, then checked

double Nanoseconds(Clock::duration d);
// The measuring thread's CPU time.
double ThreadCpuNanoseconds();

struct Elapsed {
    double cpu = 0;
    double wall = 0;
    Elapsed& operator+=(const Elapsed& other)
    {
        cpu += other.cpu;
        wall += other.wall;
        return *this;
    }
};

// Times are the measuring thread's CPU time: the machine runs other work (builds), and
// time spent waiting for a core is no cost of the code measured. Everything measured runs
// on this thread from the page cache, so on an idle machine CPU time is wall time; the wall
// time is kept beside it. Reading the CPU clock is a system call (microseconds), so it is
// read around batches, never around one small operation.
class Stopwatch {
public:
    Stopwatch() : mWall(Clock::now()), mCpu(ThreadCpuNanoseconds()) {}
    double WallNs() const { return Nanoseconds(Clock::now() - mWall); }
    Elapsed Read() const
    {
        const double cpu = ThreadCpuNanoseconds();
        return {cpu - mCpu, Nanoseconds(Clock::now() - mWall)};
    }

private:
    Clock::time_point mWall;
    double mCpu;
};

// ---- results ---------------------------------------------------------------------------------

enum Column { kVell, kPhysfs, kLibzip, kLimit, kPread, kColumns };
const char* const kColumnNames[kColumns] = {"TarnVellIO", "PhysicsFS", "libzip", "limit", "pread"};

struct Sample {
    double value = 0;  // from the measuring thread's CPU time
    double wall = 0;   // the same from wall-clock time
    std::uint64_t answers = 0;
    std::uint64_t wrong = 0;
};

struct Cell {
    bool supported = false;
    std::vector<double> values;
    std::vector<double> walls;
    std::uint64_t answers = 0;
    std::uint64_t wrong = 0;
    std::string note;

    void Add(const Sample& sample)
    {
        supported = true;
        values.push_back(sample.value);
        walls.push_back(sample.wall);
        answers += sample.answers;
        wrong += sample.wrong;
    }
    double Median() const { return MedianOf(values); }
    double WallMedian() const { return MedianOf(walls); }
    static double MedianOf(std::vector<double> sorted)
    {
        if (sorted.empty()) return 0;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double Spread() const  // (max - min) / median
    {
        if (values.size() < 2) return 0;
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return (*high - *low) / Median();
    }
};

enum RowId {
    kInit,
    kExistsHit,
    kExistsMiss,
    kExistsWrongCase,
    kSmallZlib,
    kSmallLzma,
    kSmallStored,
    kRandomReads,
    kEnumerate,
    kMemoryPeak,  // the highest resident set during the mount, less the resident set before it
    kMemory,      // the resident set after the mount, less the resident set before it
    kRows
};

struct Row {
    std::string label;
    std::string unit;
    std::string limit;  // what the limit column measures
    std::string pread;  // what the pread column measures
    std::array<Cell, kColumns> cells;
};

// ---- system helpers --------------------------------------------------------------------------

// The resident set of this process and its highest value so far (VmRSS, VmHWM), in bytes.
struct ResidentSet {
    std::int64_t now = 0;
    std::int64_t peak = 0;
};
ResidentSet ReadResidentSet();
// Makes the highest value start again from the current resident set, where the kernel allows
// it (/proc/self/clear_refs); false when it does not.
bool ResetResidentPeak();
// The load average of the last 1, 5 and 15 minutes.
std::string LoadAverage();
// text quoted for the shell.
std::string Quote(const std::string& text);

}  // namespace TarnCompare
