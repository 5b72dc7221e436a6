// vell_compare's scheduling: the Comparison runs every measurement of every round on every
// backend, the backends in an order that turns from round to round, checks every answer, and
// prints the table (CompareReport.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench/CompareBackends.h"
#include "bench/CompareContent.h"
#include "bench/CompareMeasure.h"

namespace TarnCompare {

namespace fs = std::filesystem;

struct Options {
    std::uint32_t files = 100000;
    int rounds = 5;
    bool smoke = false;
    bool tiny = false;  // 64 B-1 KiB files three levels deep (ContentParameters)
    bool reuse = false;
    fs::path workDirectory;
    std::string only;  // empty, or one group of measurements (see GroupOf)
    std::string backends;  // empty (all), or the columns to measure, as "vell,limit"

    bool verbose = false;  // print every round's value of every cell
};

// The groups --only selects, for profiling one kind of work.
inline const char* GroupOf(RowId row)
{
    switch (row) {
        case kInit: return "init";
        case kExistsHit:
        case kExistsMiss:
        case kExistsWrongCase: return "exists";
        case kSmallZlib:
        case kSmallLzma:
        case kSmallStored: return "small";
        case kRandomReads: return "random";
        case kEnumerate: return "enumerate";
        default: return "memory";
    }
}

class Comparison {
public:
    Comparison(const ContentSet& set, const Options& options, const char* argv0);
    void Run();
    void Print() const;
    bool AllCorrect() const;

private:
    using Measure = std::function<Sample()>;
    void Step(int round, RowId row, std::vector<std::pair<Column, Measure>> measures);
    void InitialiseAll(int round);
    void ShutdownAll();
    bool Enabled(Column column) const
    {
        static const char* const names[kColumns] = {"vell", "physfs", "libzip", "limit", "pread"};
        if (mOptions.backends.empty()) return true;
        const std::string list = "," + mOptions.backends + ",";
        return list.find(std::string(",") + names[column] + ",") != std::string::npos;
    }
    void MeasureMemory(int round);

    template <class F>
    Sample TimeQueries(const std::vector<std::string>& queries, bool expected, F&& exists);
    template <class Read, class Check>
    Sample TimeFiles(const std::vector<std::uint32_t>& files, Read&& read, Check&& check);
    template <class Read>
    Sample TimeSmallFiles(Codec codec, Read&& read);
    Sample TimePreads(Codec codec);
    std::uint8_t* FileSlot(std::size_t slot) { return mBuffer.data() + slot * kSmallCapacity; }
    std::uint8_t* RandomReadRing() { return mBuffer.data() + kBatchFiles * kSmallCapacity; }
    template <class F>
    Sample TimeRandomReads(F&& readAt);
    template <class F>
    Sample TimeEnumeration(F&& enumerate);
    template <class Backend>
    Sample RandomReadsOf(Backend& backend);

    const ContentSet& mSet;
    Options mOptions;
    VellBackend mVell;
    PhysfsBackend mPhysfs;
    LibzipBackend mLibzip;
    std::array<Row, kRows> mRows;

    std::vector<StoredRange> mRanges;
    std::vector<std::string> mStoredBytes;  // per file: the bytes its archive entry holds (small files)
    std::vector<std::uint32_t> mStoredCrc;
    std::vector<int> mDataFd;                // per file: an open descriptor of its data file
    std::map<fs::path, int> mDataFiles;
    std::array<std::vector<std::uint32_t>, 3> mSmallByCodec;
    std::array<std::vector<std::uint32_t>, 3> mOrderByCodec;  // this round's order of the small files
    std::vector<std::string> mHits, mMisses, mWrongCase, mLowerHits, mLowerMisses;
    std::unordered_map<std::string, std::uint32_t> mMap;
    std::string mRandomContent;
    std::vector<std::uint64_t> mOffsets;
    int mPlainFd = -1;
    std::vector<std::uint8_t> mBuffer;
    std::string mLoadAtStart;
};

}  // namespace TarnCompare
