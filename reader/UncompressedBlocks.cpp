#include "reader/UncompressedBlocks.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "CStd/CStd.h"
#include "logger/Log.h"
#include "reader/Decompression.h"
#include "reader/ProjectListing.h"
#include "reader/ToCore/Windows/SyncToken.h"

namespace Tarn::VELL::Reader {

bool UncompressedBlocks::Allocate(std::uint32_t total)
{
    Clear();
    if (total == 0) return true;
    // In 64 bits: a total near 4 GiB must not wrap to a handful of blocks.
    const std::uint64_t count = (std::uint64_t{total} + mBlockSize - 1) / mBlockSize;
    mBlocks = new (std::nothrow) BlockDescriptor[count]();
    if (mBlocks == nullptr) return false;
    mBlockCount = static_cast<std::uint32_t>(count);
    mTotalSize = total;
    for (std::uint32_t i = 0; i < mBlockCount; ++i) {
        const std::uint32_t size = static_cast<std::uint32_t>(std::min<std::uint64_t>(mBlockSize, std::uint64_t{total} - std::uint64_t{i} * mBlockSize));
        mBlocks[i].buffer = new (std::nothrow) std::uint8_t[size];
        if (mBlocks[i].buffer == nullptr) {
            Clear();
            return false;
        }
        mBlocks[i].bufferSize = size;
    }
    return true;
}

void UncompressedBlocks::Clear()
{
    for (std::uint32_t i = 0; i < mBlockCount; ++i) delete[] mBlocks[i].buffer;
    delete[] mBlocks;
    mBlocks = nullptr;
    mBlockCount = 0;
    mTotalSize = 0;
}

std::uint32_t UncompressedBlocks::CopyOut(void* destination, std::uint32_t offset, std::uint32_t count) const
{
    if (offset >= mTotalSize) return 0;
    std::uint32_t left = std::min(mTotalSize - offset, count);
    std::uint32_t block = offset / mBlockSize;
    std::uint32_t position = offset % mBlockSize;
    auto* out = static_cast<std::uint8_t*>(destination);
    std::uint32_t copied = 0;
    while (left > 0 && block < mBlockCount) {
        const std::uint32_t n = std::min(left, mBlocks[block].bufferSize - position);
        std::memcpy(out + copied, mBlocks[block].buffer + position, n);
        copied += n;
        left -= n;
        ++block;
        position = 0;
    }
    return copied;
}

bool UncompressedBlocks::FromFile(Win32::HANDLE file, std::uint32_t offsetLow, std::uint32_t offsetHigh)
{
    const std::uint64_t start = (std::uint64_t{offsetHigh} << 32) | offsetLow;
    for (std::uint32_t i = 0; i < mBlockCount; ++i) {
        const std::uint64_t at = start + std::uint64_t{i} * mBlockSize;
        std::uint32_t read = 0;
        if (!SyncRead(file, mBlocks[i].bufferSize, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at >> 32), &read,
                      mBlocks[i].buffer) ||
            read < mBlocks[i].bufferSize) {
            Logger::LogError("%s: Failed to read from AsyncFile 0x%s.", "Tarn::VELL::Reader::UncompressedBlocks::FromFile",
                             FormatPointer(file).c_str());
            Clear();
            return false;
        }
    }
    return true;
}

bool UncompressedBlocks::Load(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offsetLow,
                              std::uint32_t offsetHigh, std::uint32_t storedSize, std::uint32_t uncompressedSize,
                              ZlibInflater* inflater)
{
    if (uncompressedSize == 0) return Allocate(0);
    if (compressionId == kCompressionNone) {
        if (!Allocate(storedSize)) return false;
        return storedSize == 0 || FromFile(file, offsetLow, offsetHigh);
    }
    if (!Allocate(uncompressedSize)) return false;
    return Decompress(compressionId, file, offsetLow, offsetHigh, storedSize, mBlocks, mBlockCount, inflater);
}

}  // namespace Tarn::VELL::Reader
