#include "bench/Comparison.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "bench/CompareDecoders.h"

namespace TarnCompare {

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
    mRows[kMemoryPeak] = {"memory peak during mount", "MiB", "unordered_map of lower-cased paths", "", {}};
    mRows[kMemory] = {"memory resident after mount", "MiB", "unordered_map of lower-cased paths", "", {}};
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
    // One child gives both figures: the peak's sample goes to its row at once, the one after
    // the mount is kept for the next row's step.
    std::array<Sample, kColumns> after{};
    auto child = [&](Column column, const char* backend, const std::string& argument) {
        const std::string command = Quote(self) + " --memory-child " + backend + " " + Quote(argument);
        FILE* pipe = popen(command.c_str(), "r");
        long long peak = -1, kept = -1;
        const bool read = pipe && std::fscanf(pipe, "%lld %lld", &peak, &kept) == 2;
        const int status = pipe ? pclose(pipe) : -1;
        const bool ok = read && status == 0 && peak >= 0 && kept >= 0;
        const double peakMib = ok ? static_cast<double>(peak) / 1048576.0 : 0.0;
        const double keptMib = ok ? static_cast<double>(kept) / 1048576.0 : 0.0;
        after[column] = Sample{keptMib, keptMib, 1, ok ? 0u : 1u};
        return Sample{peakMib, peakMib, 1, ok ? 0u : 1u};
    };
    Step(round, kMemoryPeak,
         {{kVell, [&] { return child(kVell, "vell", mSet.deployDirectory.string()); }},
          {kPhysfs, [&] { return child(kPhysfs, "physfs", mSet.zipPath.string()); }},
          {kLibzip, [&] { return child(kLibzip, "libzip", mSet.zipPath.string()); }},
          {kLimit, [&] { return child(kLimit, "map", (mSet.directory / "truth.tsv").string()); }}});
    auto kept = [&](Column column) { return [&, column] { return after[column]; }; };
    Step(round, kMemory, {{kVell, kept(kVell)}, {kPhysfs, kept(kPhysfs)}, {kLibzip, kept(kLibzip)}, {kLimit, kept(kLimit)}});
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
            if (mSmallByCodec[static_cast<int>(codec)].empty()) return;  // a set of tiny files is all zlib
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

}  // namespace TarnCompare
