// vell_compare: TarnVellIO beside its peers (PhysicsFS and libzip reading a zip of the same
// files) and beside the limits of the work (a hash map, the codecs on bytes in memory, pread
// from the page cache), all in one run.
//
// Every round runs every measurement on every backend, the backends in an order that turns
// from round to round, so that drift of the machine (other builds, frequency) hits all
// alike; the table shows medians over the rounds. Every answer is checked: contents by CRC-32,
// existence and listings against the truth of the content set. A backend that answers wrong
// is reported as WRONG and the program exits with status 1.
//
//   vell_compare [--files N] [--rounds N] [--smoke] [--work-dir DIR [--reuse]] [--only GROUP]
//                [--verbose] [--backends LIST]
//
// --smoke: about 500 small files and one 1 MiB file (the random-read file), 3 rounds.
// --work-dir keeps the content set there; --reuse takes a set already written there with
// the same parameters instead of writing it again. --only runs one group of measurements
// (init, exists, small, random, enumerate, memory), for profiling; --verbose prints every
// round's values; --backends measures only the columns listed (vell, physfs, libzip, limit,
// pread), also for profiling.
#include <fcntl.h>
#include <lzma.h>
#include <physfs.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "TarnVellIO.h"
#include "bench/CompareContent.h"
#include "writer/Codecs.h"

namespace {

using namespace TarnCompare;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kSmallCapacity = 65536;  // the largest small file
constexpr std::uint32_t kReadSize = 4096;
constexpr std::size_t kQueryCount = 16384;
constexpr std::size_t kQueryBatch = 1024;
constexpr std::size_t kRandomReadCount = 4096;
constexpr int kRandomReadPasses = 9;
constexpr std::size_t kRing = 64;  // random reads land in a ring of 64 buffers
constexpr std::size_t kBatchFiles = 32;  // small files are read into 32 slots, then checked

double Nanoseconds(Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); }

double ThreadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

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
    kMemory,
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

std::int64_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
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

// ---- the backends ----------------------------------------------------------------------------

struct Listing {
    std::uint32_t count = 0;
    std::uint64_t hash = 0;
};

class VellBackend {
public:
    bool Init(const ContentSet& set) { return VellInitialize(0, 0, 0, set.deployDirectory.c_str()) == VELL_OK; }
    void Shutdown() { VellShutdown(); }
    bool Exists(const std::string& path) { return VellFileExists(path.c_str()) != 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        VellFileHandle file = VellOpenFile(path.c_str());
        if (!file) return -1;
        const std::int64_t size = VellGetFileSize(file);
        std::uint32_t got = 0;
        const bool ok = size >= 0 && static_cast<std::uint64_t>(size) <= kSmallCapacity &&
                        VellRead(file, 0, static_cast<std::uint32_t>(size), &got, buffer) == VELL_OK;
        VellCloseFile(file);
        return ok ? got : -1;
    }
    bool OpenForRandom(const std::string& path) { return (mRandom = VellOpenFile(path.c_str())) != nullptr; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        std::uint32_t got = 0;
        return VellRead(mRandom, offset, kReadSize, &got, out) == VELL_OK && got == kReadSize;
    }
    void CloseRandom() { VellCloseFile(mRandom), mRandom = nullptr; }
    Listing Enumerate(const ContentSet& set)
    {
        const std::string pattern = set.enumerationDirectory + "/" + set.enumerationPattern;
        Listing listing;
        VellFindHandle search = VellFindFirstFile(pattern.c_str());
        if (!search) return listing;
        char name[260];
        std::uint32_t isDirectory = 0;
        std::uint64_t size = 0;
        while (VellFindNextFile(search, &isDirectory, &size, sizeof name, name) == VELL_OK) {
            ++listing.count;
            listing.hash += NameHash(name);
        }
        VellFindClose(search);
        return listing;
    }

private:
    VellFileHandle mRandom = nullptr;
};

class PhysfsBackend {
public:
    explicit PhysfsBackend(const char* argv0) : mArgv0(argv0) {}
    bool Init(const ContentSet& set)
    {
        return PHYSFS_init(mArgv0) != 0 && PHYSFS_mount(set.zipPath.c_str(), nullptr, 1) != 0;
    }
    void Shutdown() { PHYSFS_deinit(); }
    bool Exists(const std::string& path) { return PHYSFS_exists(path.c_str()) != 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        PHYSFS_File* file = PHYSFS_openRead(path.c_str());
        if (!file) return -1;
        const PHYSFS_sint64 size = PHYSFS_fileLength(file);
        const PHYSFS_sint64 got = size >= 0 && static_cast<std::uint64_t>(size) <= kSmallCapacity
                                      ? PHYSFS_readBytes(file, buffer, static_cast<PHYSFS_uint64>(size))
                                      : -1;
        PHYSFS_close(file);
        return got;
    }
    bool OpenForRandom(const std::string& path) { return (mRandom = PHYSFS_openRead(path.c_str())) != nullptr; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        return PHYSFS_seek(mRandom, offset) != 0 && PHYSFS_readBytes(mRandom, out, kReadSize) == kReadSize;
    }
    void CloseRandom() { PHYSFS_close(mRandom), mRandom = nullptr; }
    Listing Enumerate(const ContentSet& set)
    {
        struct Context {
            const char* pattern;
            Listing listing;
        } context{set.enumerationPattern.c_str(), {}};
        PHYSFS_enumerate(
            set.enumerationDirectory.c_str(),
            [](void* data, const char*, const char* name) {
                auto* c = static_cast<Context*>(data);
                if (WildcardMatchNoCase(c->pattern, name)) {
                    ++c->listing.count;
                    c->listing.hash += NameHash(name);
                }
                return PHYSFS_ENUM_OK;
            },
            &context);
        return context.listing;
    }

private:
    const char* mArgv0;
    PHYSFS_File* mRandom = nullptr;
};

class LibzipBackend {
public:
    bool Init(const ContentSet& set)
    {
        int error = 0;
        mArchive = zip_open(set.zipPath.c_str(), ZIP_RDONLY, &error);
        return mArchive != nullptr;
    }
    void Shutdown() { zip_discard(mArchive), mArchive = nullptr; }
    bool Exists(const std::string& path) { return zip_name_locate(mArchive, path.c_str(), 0) >= 0; }
    bool ExistsNoCase(const std::string& path) { return zip_name_locate(mArchive, path.c_str(), ZIP_FL_NOCASE) >= 0; }
    std::int64_t ReadWhole(const std::string& path, std::uint8_t* buffer)
    {
        const zip_int64_t index = zip_name_locate(mArchive, path.c_str(), 0);
        zip_stat_t stat;
        if (index < 0 || zip_stat_index(mArchive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
            stat.size > kSmallCapacity)
            return -1;
        zip_file_t* file = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(index), 0);
        if (!file) return -1;
        const zip_int64_t got = zip_fread(file, buffer, stat.size);
        zip_fclose(file);
        return got;
    }
    // zip_fseek where the entry allows it; otherwise forward by reading and skipping, and
    // backward by opening the entry again.
    bool OpenForRandom(const std::string& path)
    {
        mIndex = zip_name_locate(mArchive, path.c_str(), 0);
        if (mIndex < 0 || !(mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0))) return false;
        mSeekable = zip_fseek(mRandom, 0, SEEK_SET) == 0;
        if (!mSeekable) {  // the failed seek leaves an error on the file: start afresh
            zip_fclose(mRandom);
            mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0);
        }
        mPosition = 0;
        return mRandom != nullptr;
    }
    bool Seekable() const { return mSeekable; }
    bool ReadAt(std::uint64_t offset, std::uint8_t* out)
    {
        if (mSeekable) {
            return zip_fseek(mRandom, static_cast<zip_int64_t>(offset), SEEK_SET) == 0 &&
                   zip_fread(mRandom, out, kReadSize) == kReadSize;
        }
        if (offset < mPosition) {
            zip_fclose(mRandom);
            mRandom = zip_fopen_index(mArchive, static_cast<zip_uint64_t>(mIndex), 0);
            mPosition = 0;
            if (!mRandom) return false;
        }
        while (mPosition < offset) {
            const zip_uint64_t step = std::min<std::uint64_t>(sizeof mSkip, offset - mPosition);
            const zip_int64_t got = zip_fread(mRandom, mSkip, step);
            if (got <= 0) return false;
            mPosition += static_cast<std::uint64_t>(got);
        }
        const zip_int64_t got = zip_fread(mRandom, out, kReadSize);
        if (got > 0) mPosition += static_cast<std::uint64_t>(got);
        return got == kReadSize;
    }
    void CloseRandom()
    {
        if (mRandom) zip_fclose(mRandom);
        mRandom = nullptr;
    }
    Listing Enumerate(const ContentSet& set)
    {
        const std::string prefix = set.enumerationDirectory + "/";
        Listing listing;
        const zip_int64_t entries = zip_get_num_entries(mArchive, 0);
        for (zip_int64_t i = 0; i < entries; ++i) {
            const char* name = zip_get_name(mArchive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (!name || strncasecmp(name, prefix.c_str(), prefix.size()) != 0) continue;
            const char* leaf = name + prefix.size();
            if (std::strchr(leaf, '/') || !WildcardMatchNoCase(set.enumerationPattern.c_str(), leaf)) continue;
            ++listing.count;
            listing.hash += NameHash(leaf);
        }
        return listing;
    }

private:
    zip_t* mArchive = nullptr;
    zip_int64_t mIndex = -1;
    zip_file_t* mRandom = nullptr;
    bool mSeekable = false;
    std::uint64_t mPosition = 0;
    std::uint8_t mSkip[65536];
};

// ---- the limits ------------------------------------------------------------------------------

std::int64_t Uncompress(const std::string& stream, std::uint8_t* out)
{
    uLongf size = kSmallCapacity;
    if (uncompress(out, &size, reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size())) != Z_OK)
        return -1;
    return static_cast<std::int64_t>(size);
}

// An LZMA record: property byte, 64-bit little-endian size, raw LZMA2 stream with end marker.
// The dictionary is sized as the library sizes it: the property's, but no larger than the file.
std::int64_t DecodeLzmaRecord(const std::string& record, std::uint8_t* out)
{
    if (record.size() < 9) return -1;
    const auto property = static_cast<std::uint8_t>(record[0]);
    std::uint64_t size = 0;
    for (int i = 8; i >= 1; --i) size = size << 8 | static_cast<std::uint8_t>(record[i]);
    if (property > 40 || size > kSmallCapacity) return -1;
    lzma_options_lzma options{};
    options.dict_size = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(Tarn::VELL::Writer::LzmaDictionarySize(property), std::max<std::uint64_t>(size, 4096)));
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::size_t in = 9, produced = 0;
    const lzma_ret result = lzma_raw_buffer_decode(filters, nullptr, reinterpret_cast<const std::uint8_t*>(record.data()),
                                                   &in, record.size(), out, &produced, size);
    return result == LZMA_OK && produced == size ? static_cast<std::int64_t>(produced) : -1;
}

// ---- the comparison --------------------------------------------------------------------------

struct Options {
    std::uint32_t files = 100000;
    int rounds = 5;
    bool smoke = false;
    bool reuse = false;
    fs::path workDirectory;
    std::string only;  // empty, or one group of measurements (see GroupOf)
    std::string backends;  // empty (all), or the columns to measure, as "vell,limit"

    bool verbose = false;  // print every round's value of every cell
};

// The groups --only selects, for profiling one kind of work.
const char* GroupOf(RowId row)
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

Comparison::Comparison(const ContentSet& set, const Options& options, const char* argv0)
    : mSet(set), mOptions(options), mPhysfs(argv0), mBuffer(kBatchFiles * kSmallCapacity + kRing * kReadSize)
{
    const FileTruth& randomFile = set.files[set.randomReadFile];
    const std::string mib = std::to_string(randomFile.size >> 20) + " MiB";
    mRows[kInit] = {"initialise / mount", "ms", "", "", {}};
    mRows[kExistsHit] = {"exists, hit", "ns/query", "unordered_map, lower-cased path", "", {}};
    mRows[kExistsMiss] = {"exists, miss", "ns/query", "unordered_map, lower-cased path", "", {}};
    mRows[kExistsWrongCase] = {"exists, wrong letter case", "ns/query", "unordered_map, lower-cased path", "", {}};
    mRows[kSmallZlib] = {"open+read+close small, zlib", "MB/s", "zlib uncompress in memory",
                         "pread of the stored bytes", {}};
    mRows[kSmallLzma] = {"open+read+close small, LZMA2", "MB/s", "liblzma raw LZMA2 in memory",
                         "pread of the stored bytes", {}};
    mRows[kSmallStored] = {"open+read+close small, stored", "MB/s", "", "pread of the stored bytes", {}};
    mRows[kRandomReads] = {"random 4 KiB reads, " + mib + " " + CodecName(randomFile.codec), "ns/read",
                           "memcpy from memory", "pread of a plain file", {}};
    mRows[kEnumerate] = {"enumerate " + set.enumerationDirectory + "/" + set.enumerationPattern, "us/listing", "",
                         "", {}};
    mRows[kMemory] = {"memory growth after mount", "MiB", "unordered_map of lower-cased paths", "", {}};
    mRows[kExistsWrongCase].cells[kPhysfs].note = "n/s";

    std::cerr << "preparing the queries and the limits' inputs..." << std::flush;
    mRanges = ReadStoredRanges(set);
    mStoredBytes.resize(set.files.size());
    mStoredCrc.resize(set.files.size());
    mDataFd.resize(set.files.size(), -1);
    for (std::uint32_t i = 0; i < set.files.size(); ++i) {
        const StoredRange& range = mRanges[i];
        auto [slot, added] = mDataFiles.emplace(range.dataFile, -1);
        if (added) {
            slot->second = open(range.dataFile.c_str(), O_RDONLY | O_CLOEXEC);
            if (slot->second < 0) throw std::system_error(errno, std::generic_category(), range.dataFile.string());
        }
        mDataFd[i] = slot->second;
        if (!set.files[i].small) continue;
        mSmallByCodec[static_cast<int>(set.files[i].codec)].push_back(i);
        if (!options.only.empty() && options.only != "small") continue;  // only the small-file limits need them
        std::string& bytes = mStoredBytes[i];
        bytes.resize(range.size);
        if (pread(mDataFd[i], bytes.data(), range.size, range.offset) != static_cast<ssize_t>(range.size))
            throw std::runtime_error("cannot read the entry of " + set.files[i].path);
        mStoredCrc[i] = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), range.size));
    }

    std::mt19937_64 random(20240611);
    for (std::size_t q = 0; q < kQueryCount; ++q) {
        const std::string& path = set.files[random() % set.files.size()].path;
        const auto dot = path.rfind('.');
        std::string miss = path.substr(0, dot) + "x" + path.substr(dot);
        std::string wrongCase = path;
        for (char& c : wrongCase) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        mHits.push_back(path);
        mLowerHits.push_back(FoldCase(path));
        mLowerMisses.push_back(FoldCase(miss));
        mMisses.push_back(std::move(miss));
        mWrongCase.push_back(std::move(wrongCase));
    }
    mMap.reserve(set.files.size());
    for (std::uint32_t i = 0; i < set.files.size(); ++i) mMap.emplace(FoldCase(set.files[i].path), i);

    mRandomContent = FileContent(set, set.randomReadFile);
    for (std::size_t r = 0; r < kRandomReadCount; ++r) mOffsets.push_back(random() % (mRandomContent.size() - kReadSize + 1));
    mPlainFd = open(set.plainCopyPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (mPlainFd < 0) throw std::system_error(errno, std::generic_category(), set.plainCopyPath.string());
    std::cerr << " done\n";
}

// Queries in batches of kQueryBatch, each batch timed; the value is the median batch's time
// per query, so that a batch that another process disturbed does not count.
template <class F>
Sample Comparison::TimeQueries(const std::vector<std::string>& queries, bool expected, F&& exists)
{
    constexpr double kBudget = 0.5e9;  // ns of wall time; the slow peers answer fewer queries
    std::vector<std::uint8_t> answers(queries.size());
    std::vector<double> cpu, wall;
    std::size_t done = 0;
    const Stopwatch budget;
    while (done < queries.size() && (done == 0 || budget.WallNs() < kBudget)) {
        const std::size_t end = std::min(done + kQueryBatch, queries.size());
        const Stopwatch watch;
        for (std::size_t i = done; i < end; ++i) answers[i] = exists(queries[i]);
        const Elapsed elapsed = watch.Read();
        cpu.push_back(elapsed.cpu / static_cast<double>(end - done));
        wall.push_back(elapsed.wall / static_cast<double>(end - done));
        done = end;
    }
    Sample sample{Cell::MedianOf(cpu), Cell::MedianOf(wall), done, 0};
    for (std::size_t i = 0; i < done; ++i) sample.wrong += (answers[i] != 0) != expected;
    return sample;
}

// Reads the files, in batches of kBatchFiles each into its own slot; after each batch,
// outside the timed part, check(file, bytes read, slot) checks every answer. The value is
// MB/s of file content.
template <class Read, class Check>
Sample Comparison::TimeFiles(const std::vector<std::uint32_t>& files, Read&& read, Check&& check)
{
    Sample sample;
    Elapsed total;
    double bytes = 0;
    std::array<std::int64_t, kBatchFiles> got{};
    for (std::size_t batch = 0; batch < files.size(); batch += kBatchFiles) {
        const std::size_t end = std::min(batch + kBatchFiles, files.size());
        const Stopwatch watch;
        for (std::size_t i = batch; i < end; ++i) got[i - batch] = read(files[i], FileSlot(i - batch));
        total += watch.Read();
        for (std::size_t i = batch; i < end; ++i) {
            ++sample.answers;
            bytes += mSet.files[files[i]].size;
            if (!check(files[i], got[i - batch], FileSlot(i - batch))) ++sample.wrong;
        }
    }
    sample.value = bytes / total.cpu * 1e3;
    sample.wall = bytes / total.wall * 1e3;
    return sample;
}

template <class Read>
Sample Comparison::TimeSmallFiles(Codec codec, Read&& read)
{
    return TimeFiles(mOrderByCodec[static_cast<int>(codec)], read, [&](std::uint32_t i, std::int64_t got, const std::uint8_t* data) {
        const FileTruth& file = mSet.files[i];
        return got == file.size && crc32(0, data, file.size) == file.crc;
    });
}

// pread of each file's stored bytes: what the library must read. MB/s of file content, so
// that the column compares with the others.
Sample Comparison::TimePreads(Codec codec)
{
    return TimeFiles(
        mOrderByCodec[static_cast<int>(codec)],
        [&](std::uint32_t i, std::uint8_t* out) {
            return static_cast<std::int64_t>(pread(mDataFd[i], out, mRanges[i].size, mRanges[i].offset));
        },
        [&](std::uint32_t i, std::int64_t got, const std::uint8_t* data) {
            return got == mRanges[i].size && crc32(0, data, mRanges[i].size) == mStoredCrc[i];
        });
}

// First a pass that checks every read, batch by batch; a backend too slow to finish it within
// the budget is measured on that pass (its reads dwarf the checks). The others are measured
// on kRandomReadPasses more passes over the same offsets, with no checks in between but the
// last batch's; the value is the median pass.
template <class F>
Sample Comparison::TimeRandomReads(F&& readAt)
{
    constexpr double kBudget = 1e9;  // ns of wall time
    const std::size_t count = mSet.parameters.smoke ? 1024 : kRandomReadCount;
    std::uint8_t* ring = RandomReadRing();
    Sample sample;
    std::size_t done = 0;
    const Stopwatch probe;
    while (done < count) {
        const std::size_t end = std::min(done + kRing, count);
        std::array<bool, kRing> ok{};
        for (std::size_t i = done; i < end; ++i) ok[i - done] = readAt(mOffsets[i], ring + (i - done) * kReadSize);
        for (std::size_t i = done; i < end; ++i) {
            ++sample.answers;
            if (!ok[i - done] || std::memcmp(ring + (i - done) * kReadSize, mRandomContent.data() + mOffsets[i], kReadSize) != 0)
                ++sample.wrong;
        }
        done = end;
        if (probe.WallNs() > kBudget) break;
    }
    const Elapsed probed = probe.Read();
    if (done < count) {
        sample.value = probed.cpu / static_cast<double>(done);
        sample.wall = probed.wall / static_cast<double>(done);
        return sample;
    }
    std::vector<double> cpu, wall;
    for (int pass = 0; pass < kRandomReadPasses; ++pass) {
        bool ok = true;
        const Stopwatch watch;
        for (std::size_t i = 0; i < count; ++i) ok &= readAt(mOffsets[i], ring + (i % kRing) * kReadSize);
        const Elapsed elapsed = watch.Read();
        cpu.push_back(elapsed.cpu / static_cast<double>(count));
        wall.push_back(elapsed.wall / static_cast<double>(count));
        for (std::size_t i = count - kRing; i < count; ++i) {
            ++sample.answers;
            if (std::memcmp(ring + (i % kRing) * kReadSize, mRandomContent.data() + mOffsets[i], kReadSize) != 0) ++sample.wrong;
        }
        sample.wrong += !ok;
    }
    sample.value = Cell::MedianOf(cpu);  // the median pass
    sample.wall = Cell::MedianOf(wall);
    return sample;
}

// Listings in timed batches of about 2 ms (the first listing, timed alone, sets the batch
// size); the value is the median batch's time per listing.
template <class F>
Sample Comparison::TimeEnumeration(F&& enumerate)
{
    Sample sample;
    std::vector<double> cpu, wall;
    auto batch = [&](int listings) {
        const Stopwatch watch;
        std::uint64_t wrong = 0;
        for (int i = 0; i < listings; ++i) {
            const Listing listing = enumerate();
            wrong += listing.count != mSet.enumerationMatches || listing.hash != mSet.enumerationNameHash;
        }
        const Elapsed elapsed = watch.Read();
        sample.answers += static_cast<std::uint64_t>(listings);
        sample.wrong += wrong;
        cpu.push_back(elapsed.cpu / listings / 1e3);
        wall.push_back(elapsed.wall / listings / 1e3);
        return elapsed.wall;
    };
    const double first = batch(1);
    const int size = static_cast<int>(std::clamp(2e6 / std::max(first, 1.0), 1.0, 1000.0));
    const Stopwatch budget;
    while (cpu.size() < 4 || (cpu.size() < 50 && budget.WallNs() < 0.2e9)) batch(size);
    if (cpu.size() > 1) cpu.erase(cpu.begin()), wall.erase(wall.begin());  // the first was a probe
    sample.value = Cell::MedianOf(cpu);
    sample.wall = Cell::MedianOf(wall);
    return sample;
}

template <class Backend>
Sample Comparison::RandomReadsOf(Backend& backend)
{
    const std::string& path = mSet.files[mSet.randomReadFile].path;
    if (!backend.OpenForRandom(path)) return Sample{0, 0, 1, 1};
    const Sample sample = TimeRandomReads([&](std::uint64_t offset, std::uint8_t* out) { return backend.ReadAt(offset, out); });
    backend.CloseRandom();
    return sample;
}

void Comparison::Step(int round, RowId row, std::vector<std::pair<Column, Measure>> measures)
{
    if (row != kInit && !mOptions.only.empty() && mOptions.only != GroupOf(row)) return;
    std::erase_if(measures, [&](const auto& measure) { return !Enabled(measure.first); });
    if (measures.empty()) return;
    std::rotate(measures.begin(), measures.begin() + round % measures.size(), measures.end());
    for (auto& [column, measure] : measures) mRows[row].cells[column].Add(measure());
}

void Comparison::InitialiseAll(int round)
{
    auto timed = [](auto&& init) {
        const Stopwatch watch;
        const bool ok = init();
        const Elapsed elapsed = watch.Read();
        return Sample{elapsed.cpu / 1e6, elapsed.wall / 1e6, 1, ok ? 0u : 1u};
    };
    Step(round, kInit,
         {{kVell, [&] { return timed([&] { return mVell.Init(mSet); }); }},
          {kPhysfs, [&] { return timed([&] { return mPhysfs.Init(mSet); }); }},
          {kLibzip, [&] { return timed([&] { return mLibzip.Init(mSet); }); }}});
    for (const Cell& cell : mRows[kInit].cells)
        if (cell.wrong) throw std::runtime_error("a backend could not initialise");
}

void Comparison::ShutdownAll()
{
    if (Enabled(kVell)) mVell.Shutdown();
    if (Enabled(kPhysfs)) mPhysfs.Shutdown();
    if (Enabled(kLibzip)) mLibzip.Shutdown();
}

// Each backend is mounted in a fresh process of this program, so that the heap this process
// has grown (and freed) does not hide what a mount needs.
void Comparison::MeasureMemory(int round)
{
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    auto child = [&](const char* backend, const std::string& argument) {
        const std::string command = Quote(self) + " --memory-child " + backend + " " + Quote(argument);
        FILE* pipe = popen(command.c_str(), "r");
        long long growth = -1;
        const bool read = pipe && std::fscanf(pipe, "%lld", &growth) == 1;
        const int status = pipe ? pclose(pipe) : -1;
        const bool ok = read && status == 0 && growth >= 0;
        const double mib = ok ? static_cast<double>(growth) / 1048576.0 : 0.0;
        return Sample{mib, mib, 1, ok ? 0u : 1u};
    };
    Step(round, kMemory,
         {{kVell, [&] { return child("vell", mSet.deployDirectory.string()); }},
          {kPhysfs, [&] { return child("physfs", mSet.zipPath.string()); }},
          {kLibzip, [&] { return child("libzip", mSet.zipPath.string()); }},
          {kLimit, [&] { return child("map", (mSet.directory / "truth.tsv").string()); }}});
}

void Comparison::Run()
{
    mLoadAtStart = LoadAverage();
    for (int round = 0; round < mOptions.rounds; ++round) {
        std::cerr << "round " << round + 1 << " of " << mOptions.rounds << " (load " << LoadAverage() << ")..." << std::flush;
        const auto roundStart = Clock::now();
        InitialiseAll(round);

        auto map = [&](const std::vector<std::string>& queries, bool expected) {
            return [&, expected] {
                return TimeQueries(queries, expected, [&](const std::string& q) { return mMap.find(q) != mMap.end(); });
            };
        };
        auto exists = [&](auto& backend, const std::vector<std::string>& queries, bool expected) {
            return [&, expected] {
                return TimeQueries(queries, expected, [&](const std::string& q) { return backend.Exists(q); });
            };
        };
        Step(round, kExistsHit,
             {{kVell, exists(mVell, mHits, true)},
              {kPhysfs, exists(mPhysfs, mHits, true)},
              {kLibzip, exists(mLibzip, mHits, true)},
              {kLimit, map(mLowerHits, true)}});
        Step(round, kExistsMiss,
             {{kVell, exists(mVell, mMisses, false)},
              {kPhysfs, exists(mPhysfs, mMisses, false)},
              {kLibzip, exists(mLibzip, mMisses, false)},
              {kLimit, map(mLowerMisses, false)}});
        Step(round, kExistsWrongCase,
             {{kVell, exists(mVell, mWrongCase, true)},
              {kLibzip,
               [&] {
                   return TimeQueries(mWrongCase, true, [&](const std::string& q) { return mLibzip.ExistsNoCase(q); });
               }},
              {kLimit, map(mLowerHits, true)}});

        for (int codec = 0; codec < 3; ++codec) {
            mOrderByCodec[codec] = mSmallByCodec[codec];
            std::shuffle(mOrderByCodec[codec].begin(), mOrderByCodec[codec].end(), std::mt19937_64(1000 * round + codec));
        }
        auto small = [&](Codec codec, auto& backend) {
            return [&, codec] {
                return TimeSmallFiles(codec, [&](std::uint32_t i, std::uint8_t* out) {
                    return backend.ReadWhole(mSet.files[i].path, out);
                });
            };
        };
        // The three backends, the codec alone on the stored bytes (none for stored files) and pread.
        auto smallFiles = [&](RowId row, Codec codec, std::function<std::int64_t(std::uint32_t, std::uint8_t*)> decode) {
            std::vector<std::pair<Column, Measure>> measures{
                {kVell, small(codec, mVell)}, {kPhysfs, small(codec, mPhysfs)}, {kLibzip, small(codec, mLibzip)}};
            if (decode) measures.push_back({kLimit, [&, codec, decode] { return TimeSmallFiles(codec, decode); }});
            measures.push_back({kPread, [&, codec] { return TimePreads(codec); }});
            Step(round, row, std::move(measures));
        };
        smallFiles(kSmallZlib, Codec::Zlib, [&](std::uint32_t i, std::uint8_t* out) { return Uncompress(mStoredBytes[i], out); });
        smallFiles(kSmallLzma, Codec::Lzma, [&](std::uint32_t i, std::uint8_t* out) { return DecodeLzmaRecord(mStoredBytes[i], out); });
        smallFiles(kSmallStored, Codec::Stored, nullptr);

        Step(round, kRandomReads,
             {{kVell, [&] { return RandomReadsOf(mVell); }},
              {kPhysfs, [&] { return RandomReadsOf(mPhysfs); }},
              {kLibzip, [&] { return RandomReadsOf(mLibzip); }},
              {kLimit,
               [&] {
                   return TimeRandomReads([&](std::uint64_t offset, std::uint8_t* out) {
                       std::memcpy(out, mRandomContent.data() + offset, kReadSize);
                       return true;
                   });
               }},
              {kPread, [&] {
                   return TimeRandomReads([&](std::uint64_t offset, std::uint8_t* out) {
                       return pread(mPlainFd, out, kReadSize, static_cast<off_t>(offset)) == kReadSize;
                   });
               }}});
        if (round == 0 && Enabled(kLibzip) && mLibzip.OpenForRandom(mSet.files[mSet.randomReadFile].path)) {
            mRows[kRandomReads].cells[kLibzip].note = mLibzip.Seekable() ? "zip_fseek" : "reopen-and-skip";
            mLibzip.CloseRandom();
        }

        Step(round, kEnumerate,
             {{kVell, [&] { return TimeEnumeration([&] { return mVell.Enumerate(mSet); }); }},
              {kPhysfs, [&] { return TimeEnumeration([&] { return mPhysfs.Enumerate(mSet); }); }},
              {kLibzip, [&] { return TimeEnumeration([&] { return mLibzip.Enumerate(mSet); }); }}});

        ShutdownAll();
        MeasureMemory(round);
        std::cerr << " " << std::chrono::duration<double>(Clock::now() - roundStart).count() << " s\n";
    }
}

std::string Format(double value)
{
    char text[32];
    if (value >= 1000) std::snprintf(text, sizeof text, "%.0f", value);
    else if (value >= 100) std::snprintf(text, sizeof text, "%.1f", value);
    else if (value >= 1) std::snprintf(text, sizeof text, "%.2f", value);
    else if (value >= 0.01) std::snprintf(text, sizeof text, "%.3f", value);
    else std::snprintf(text, sizeof text, "%.1e", value);
    return text;
}

std::string CellText(const Cell& cell)
{
    if (cell.wrong) return "WRONG";
    if (!cell.supported) return cell.note.empty() ? "-" : cell.note;
    return Format(cell.Median());
}

bool Usable(const Cell& cell) { return cell.supported && !cell.wrong && cell.Median() > 0; }

// The median over the rounds of each round's ratio: the backends of one round ran side by
// side, so drift of the machine between rounds cancels in the ratio.
double Ratio(const Cell& vell, const Cell& other)
{
    if (vell.values.size() != other.values.size()) return vell.Median() / other.Median();
    std::vector<double> ratios;
    for (std::size_t r = 0; r < vell.values.size(); ++r) ratios.push_back(vell.values[r] / other.values[r]);
    return Cell::MedianOf(ratios);
}

std::string RatioText(const Cell& vell, const Cell& other)
{
    if (!Usable(vell) || !Usable(other)) return "-";
    return Format(Ratio(vell, other));
}

struct Target {
    RowId row;
    Column against;
    RowId againstRow;  // the row of the cell compared with (usually the same row)
    bool atMost;       // the ratio must be at most (or else at least) the bound
    double bound;
    const char* text;
};

const Target kTargets[] = {
    {kInit, kLibzip, kInit, true, 0.5, "initialise <= 0.5 x libzip's zip_open"},
    {kExistsHit, kLimit, kExistsHit, true, 1.0, "exists (hit) <= 1.0 x the hash map"},
    {kExistsMiss, kLimit, kExistsMiss, true, 1.0, "exists (miss) <= 1.0 x the hash map"},
    {kExistsWrongCase, kLimit, kExistsHit, true, 1.0, "exists (wrong letter case) <= 1.0 x the hash map (hit)"},
    {kExistsWrongCase, kVell, kExistsHit, true, 1.1, "exists: wrong letter case at the cost of a hit (within 10%)"},
    {kSmallZlib, kLimit, kSmallZlib, false, 0.95, "small zlib files >= 0.95 x zlib uncompress throughput"},
    {kSmallLzma, kLimit, kSmallLzma, false, 0.95, "small LZMA2 files >= 0.95 x liblzma throughput"},
    {kRandomReads, kLimit, kRandomReads, true, 1.1, "random 4 KiB reads at memcpy speed (within 10%)"},
    {kEnumerate, kLibzip, kEnumerate, true, 0.2, "enumeration >= 5 x faster than libzip's name scan"},
    {kMemory, kPhysfs, kMemory, true, 1.0, "memory growth <= PhysicsFS's"},
};

void Comparison::Print() const
{
    const FileTruth& randomFile = mSet.files[mSet.randomReadFile];
    std::uintmax_t vellBytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(mSet.directory / "vell"))
        if (item.is_regular_file()) vellBytes += item.file_size();
    std::printf("\nTarnVellIO beside PhysicsFS %d.%d.%d and libzip %s\n", PHYSFS_VER_MAJOR, PHYSFS_VER_MINOR, PHYSFS_VER_PATCH,
                zip_libzip_version());
    std::printf("content: %zu files, %.1f MB (%zu small: 4-64 KiB; zlib %zu, LZMA2 %zu, stored %zu); random reads in %s (%u bytes)\n",
                mSet.files.size(), mSet.contentBytes / 1e6,
                mSmallByCodec[0].size() + mSmallByCodec[1].size() + mSmallByCodec[2].size(),
                mSmallByCodec[static_cast<int>(Codec::Zlib)].size(), mSmallByCodec[static_cast<int>(Codec::Lzma)].size(),
                mSmallByCodec[static_cast<int>(Codec::Stored)].size(), randomFile.path.c_str(), randomFile.size);
    std::printf("on disk: release %.1f MB, zip %.1f MB (deflate level 6; the release's stored files are stored in the zip too)\n",
                vellBytes / 1e6, fs::file_size(mSet.zipPath) / 1e6);
    std::printf("medians of %d rounds; load average at the start %s, at the end %s; %d cores\n", mOptions.rounds,
                mLoadAtStart.c_str(), LoadAverage().c_str(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    std::printf("times: CPU time of the measuring thread (wall-clock medians follow the targets)\n");
#ifndef NDEBUG
    std::printf("note: built without NDEBUG; measure a Release build\n");
#endif
    std::printf("\n%-40s %-10s", "measurement", "unit");
    for (const char* name : kColumnNames) std::printf(" %11s", name);
    std::printf(" %9s %9s %9s %9s %8s\n", "V/PhysFS", "V/libzip", "V/limit", "V/pread", "V spread");
    for (const Row& row : mRows) {
        std::printf("%-40s %-10s", row.label.c_str(), row.unit.c_str());
        for (const Cell& cell : row.cells) std::printf(" %11s", CellText(cell).c_str());
        const Cell& vell = row.cells[kVell];
        std::printf(" %9s %9s %9s %9s %7.0f%%\n", RatioText(vell, row.cells[kPhysfs]).c_str(),
                    RatioText(vell, row.cells[kLibzip]).c_str(), RatioText(vell, row.cells[kLimit]).c_str(),
                    RatioText(vell, row.cells[kPread]).c_str(), vell.Spread() * 100);
    }
    std::printf("\nV/x: the median over the rounds of TarnVellIO's value divided by x's in the same round (for MB/s\n"
                "higher is better, for the other units lower). V spread: (max - min) / median of TarnVellIO's rounds.\n");
    std::printf("limits:\n");
    for (const Row& row : mRows) {
        if (!row.limit.empty()) std::printf("  %-40s limit: %s\n", row.label.c_str(), row.limit.c_str());
        if (!row.pread.empty()) std::printf("  %-40s pread: %s\n", row.label.c_str(), row.pread.c_str());
    }
    std::printf("notes:\n");
    std::printf("  PhysicsFS cannot ignore letter case: its wrong-case row is not supported (n/s).\n");
    std::printf("  libzip's wrong-case row is zip_name_locate with ZIP_FL_NOCASE; its random reads: %s.\n",
                mRows[kRandomReads].cells[kLibzip].note.c_str());
    std::printf("  The zip holds the release's LZMA2 files as deflate, so the peers decode deflate in that row.\n");
    std::printf("  Memory: resident-set growth of a fresh process over its mount (/proc/self/statm).\n");

    std::printf("\ntargets:\n");
    for (const Target& target : kTargets) {
        const Cell& vell = mRows[target.row].cells[kVell];
        const Cell& other = mRows[target.againstRow].cells[target.against];
        if (!Usable(vell) || !Usable(other)) {
            std::printf("  %-66s ratio -      NOT MEASURED\n", target.text);
            continue;
        }
        const double ratio = Ratio(vell, other);
        const bool met = target.atMost ? ratio <= target.bound : ratio >= target.bound;
        std::printf("  %-66s ratio %-6s %s (needs %s %s)\n", target.text, Format(ratio).c_str(), met ? "MET   " : "MISSED",
                    target.atMost ? "<=" : ">=", Format(target.bound).c_str());
    }

    std::printf("\nwall-clock medians (include time other processes held the core):\n%-40s %-10s", "measurement", "unit");
    for (const char* name : kColumnNames) std::printf(" %11s", name);
    std::printf("\n");
    for (const Row& row : mRows) {
        if (&row == &mRows[kMemory]) continue;
        std::printf("%-40s %-10s", row.label.c_str(), row.unit.c_str());
        for (const Cell& cell : row.cells)
            std::printf(" %11s", cell.supported && !cell.wrong ? Format(cell.WallMedian()).c_str() : CellText(cell).c_str());
        std::printf("\n");
    }

    if (mOptions.verbose) {
        std::printf("\nevery round (CPU time):\n");
        for (const Row& row : mRows)
            for (int c = 0; c < kColumns; ++c) {
                if (row.cells[c].values.empty()) continue;
                std::printf("  %-40s %-11s", row.label.c_str(), kColumnNames[c]);
                for (double value : row.cells[c].values) std::printf(" %10s", Format(value).c_str());
                std::printf("\n");
            }
    }

    std::uint64_t answers = 0, wrong = 0;
    for (const Row& row : mRows)
        for (const Cell& cell : row.cells) answers += cell.answers, wrong += cell.wrong;
    std::printf("\nanswers checked: %" PRIu64 ", wrong: %" PRIu64 "\n", answers, wrong);
    for (const Row& row : mRows)
        for (int c = 0; c < kColumns; ++c)
            if (row.cells[c].wrong)
                std::printf("  WRONG: %s, %s: %" PRIu64 " of %" PRIu64 "\n", row.label.c_str(), kColumnNames[c],
                            row.cells[c].wrong, row.cells[c].answers);
}

bool Comparison::AllCorrect() const
{
    for (const Row& row : mRows)
        for (const Cell& cell : row.cells)
            if (cell.wrong) return false;
    return true;
}

// --memory-child BACKEND ARGUMENT: prints the growth of the resident set over one mount.
int MemoryChild(const std::string& backend, const std::string& argument, const char* argv0)
{
    std::unordered_map<std::string, std::uint32_t> map;
    const std::int64_t before = ResidentBytes();
    bool ok = false;
    if (backend == "vell") {
        ok = VellInitialize(0, 0, 0, argument.c_str()) == VELL_OK;
    } else if (backend == "physfs") {
        ok = PHYSFS_init(argv0) != 0 && PHYSFS_mount(argument.c_str(), nullptr, 1) != 0;
    } else if (backend == "libzip") {
        int error = 0;
        ok = zip_open(argument.c_str(), ZIP_RDONLY, &error) != nullptr;
    } else if (backend == "map") {
        std::ifstream in(argument);
        std::string line;
        std::getline(in, line);
        std::getline(in, line);
        std::uint32_t i = 0;
        while (std::getline(in, line) && line != "end") map.emplace(FoldCase(line.substr(0, line.find('\t'))), i++);
        ok = i > 0;
    }
    const std::int64_t after = ResidentBytes();
    if (!ok) return 2;
    std::printf("%lld\n", static_cast<long long>(after - before));
    return 0;
}

void Usage()
{
    std::fprintf(stderr, "usage: vell_compare [--files N] [--rounds N] [--smoke] [--work-dir DIR [--reuse]]\n"
                         "                    [--only init|exists|small|random|enumerate|memory] [--verbose]\n"
                         "                    [--backends vell,physfs,libzip,limit,pread]\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--memory-child") == 0) return MemoryChild(argv[2], argv[3], argv[0]);
    Options options;
    bool roundsGiven = false, filesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--files") options.files = static_cast<std::uint32_t>(std::stoul(value())), filesGiven = true;
        else if (arg == "--rounds") options.rounds = std::stoi(value()), roundsGiven = true;
        else if (arg == "--smoke") options.smoke = true;
        else if (arg == "--reuse") options.reuse = true;
        else if (arg == "--work-dir") options.workDirectory = value();
        else if (arg == "--only") options.only = value();
        else if (arg == "--verbose") options.verbose = true;
        else if (arg == "--backends") options.backends = value();
        else {
            Usage();
            return 2;
        }
    }
    if (options.smoke) {
        if (!filesGiven) options.files = 500;
        if (!roundsGiven) options.rounds = 3;
    }
    if (options.files < 200 || options.rounds < 1) {
        std::fprintf(stderr, "vell_compare: --files must be at least 200 and --rounds at least 1\n");
        return 2;
    }

    bool removeWorkDirectory = false;
    if (options.workDirectory.empty()) {
        options.workDirectory = fs::temp_directory_path() / ("vell-compare-" + std::to_string(getpid()));
        removeWorkDirectory = true;
    }
    int status = 0;
    try {
        const ContentSet set = PrepareContentSet(options.workDirectory, {options.files, options.smoke}, options.reuse);
        Comparison comparison(set, options, argv[0]);
        comparison.Run();
        comparison.Print();
        status = comparison.AllCorrect() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vell_compare: %s\n", e.what());
        status = 2;
    }
    if (removeWorkDirectory) {
        std::error_code ignored;
        fs::remove_all(options.workDirectory, ignored);
    }
    return status;
}
