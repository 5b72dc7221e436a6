#include "writer/BatchEncoder.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "writer/FileIO.h"
#include "writer/LzmaEncoder.h"
#include "writer/ZlibEncoder.h"

namespace Tarn::VELL::Writer {

namespace {
constexpr size_t kBatchJobs = 1024;
constexpr uint64_t kBatchBytes = 64ull << 20;
}  // namespace

struct BatchEncoder::Worker {
    std::unique_ptr<ZlibEncoder> zlib;
    std::unique_ptr<LzmaEncoder> lzma;
    std::string input;  // a source file's bytes, reused from job to job
    Md5 md5;
};

struct BatchEncoder::Result {
    std::string bytes;       // the encoded bytes, or a stored source file's bytes
    std::string_view stored; // what goes into the archive
    uint64_t originalSize = 0;
    Md5Digest digest{};
};

BatchEncoder::BatchEncoder(unsigned threads, int zlibLevel, uint32_t lzmaDictionarySize)
    : mZlibLevel(zlibLevel), mLzmaDictionarySize(lzmaDictionarySize)
{
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (unsigned i = 0; i < threads; ++i) mWorkers.push_back(std::make_unique<Worker>());
}

BatchEncoder::~BatchEncoder() = default;

void BatchEncoder::Encode(Worker& worker, const EncodeJob& job, Result& result)
{
    const std::string* input = job.content;
    if (job.source != nullptr) {
        if (job.compression == Compression::Stored) {
            result.bytes = ReadWholeFile(*job.source);
            result.stored = result.bytes;
            result.originalSize = result.bytes.size();
            worker.md5.Update(result.bytes);
            result.digest = worker.md5.Finish();
            return;
        }
        worker.input = ReadWholeFile(*job.source);
        input = &worker.input;
    }
    result.originalSize = input->size();
    worker.md5.Update(*input);
    result.digest = worker.md5.Finish();
    switch (job.compression) {
    case Compression::Stored:
        result.stored = *input;
        return;
    case Compression::Zlib:
        if (!worker.zlib) worker.zlib = std::make_unique<ZlibEncoder>(mZlibLevel);
        worker.zlib->Compress(input->data(), input->size(), result.bytes);
        break;
    case Compression::Lzma:
        if (!worker.lzma) worker.lzma = std::make_unique<LzmaEncoder>(mLzmaDictionarySize);
        worker.lzma->CompressRecord(input->data(), input->size(), result.bytes);
        break;
    }
    result.stored = result.bytes;
}

void BatchEncoder::Run(const std::vector<EncodeJob>& jobs, const Sink& sink, const std::function<bool()>& stop)
{
    std::vector<Result> results;
    size_t begin = 0;
    while (begin < jobs.size()) {
        size_t end = begin;
        uint64_t bytes = 0;
        while (end < jobs.size() && end - begin < kBatchJobs && (end == begin || bytes + jobs[end].sizeHint <= kBatchBytes))
            bytes += jobs[end++].sizeHint;

        results.clear();
        results.resize(end - begin);
        std::atomic<size_t> next{begin};
        std::exception_ptr failure;
        std::mutex failureLock;
        std::atomic<bool> stopped{false};
        auto work = [&](Worker& worker) {
            for (size_t job; (job = next.fetch_add(1)) < end;) {
                if (stop && stop()) {
                    stopped = true;
                    next = end;
                    break;
                }
                try {
                    Encode(worker, jobs[job], results[job - begin]);
                } catch (...) {
                    std::lock_guard<std::mutex> hold(failureLock);
                    if (!failure) failure = std::current_exception();
                    next = end;  // stop handing out work
                }
            }
        };
        const size_t threads = std::min(mWorkers.size(), end - begin);
        if (threads <= 1) {
            work(*mWorkers[0]);
        } else {
            std::vector<std::thread> running;
            for (size_t i = 1; i < threads; ++i) running.emplace_back(work, std::ref(*mWorkers[i]));
            work(*mWorkers[0]);
            for (std::thread& thread : running) thread.join();
        }
        if (failure) std::rethrow_exception(failure);
        if (stopped) return;

        for (size_t job = begin; job < end; ++job) {
            const Result& result = results[job - begin];
            sink(job, result.stored, result.originalSize, result.digest);
        }
        begin = end;
    }
}

}  // namespace Tarn::VELL::Writer
