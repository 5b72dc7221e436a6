// Encodes many archive entries on several threads and hands the results back in order, so
// the archives come out the same whatever the number of threads. Work goes in batches of
// bounded size (count and bytes), which keeps memory flat for large trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "writer/Checksum.h"
#include "writer/FileSpec.h"

namespace Tarn::VELL::Writer {

class LzmaEncoder;
class ZlibEncoder;

// One entry to encode: its bytes in memory or a file to read them from (not owned).
struct EncodeJob {
    const std::string* content = nullptr;
    const std::filesystem::path* source = nullptr;  // used when set
    uint64_t sizeHint = 0;                           // expected size, for batching
    Compression compression = Compression::Stored;
};

class BatchEncoder {
public:
    // threads: 0 for one per processor (at most 8).
    BatchEncoder(unsigned threads, int zlibLevel, uint32_t lzmaDictionarySize);
    ~BatchEncoder();
    BatchEncoder(const BatchEncoder&) = delete;
    BatchEncoder& operator=(const BatchEncoder&) = delete;

    // Called on the calling thread, in job order: the job's index, its stored bytes (valid
    // during the call only), the size and the MD5 of its original bytes.
    using Sink = std::function<void(size_t job, std::string_view stored, uint64_t originalSize, const Md5Digest& digest)>;

    // Encodes every job. An exception from a job (an unreadable source, a codec failure)
    // or from the sink is thrown here after the running batch has stopped. When stop is
    // given and returns true, no further job starts and Run returns early.
    void Run(const std::vector<EncodeJob>& jobs, const Sink& sink, const std::function<bool()>& stop = {});

private:
    struct Worker;
    struct Result;
    void Encode(Worker& worker, const EncodeJob& job, Result& result);

    std::vector<std::unique_ptr<Worker>> mWorkers;
    int mZlibLevel;
    uint32_t mLzmaDictionarySize;
};

}  // namespace Tarn::VELL::Writer
