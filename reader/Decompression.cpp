#include "reader/Decompression.h"

#include "CStd/Report.h"
#include "reader/ProjectListing.h"

namespace Tarn::VELL::Reader {

bool Decompress(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                std::uint32_t storedSize, BlockDescriptor* blocks, std::uint32_t blockCount, ZlibInflater* inflater)
{
    if (compressionId == kCompressionZlib)
        return inflater ? DecompressZlib(*inflater, file, storedSize, offsetLow, offsetHigh, blocks, blockCount)
                        : DecompressZlib(file, storedSize, offsetLow, offsetHigh, blocks, blockCount);
    if (compressionId == kCompressionLzma) return DecompressLzmaEntry(file, storedSize, offsetLow, offsetHigh, blocks, blockCount);
    ReportAssertion("!\"Unsupported compression type specified!\"", "", "Decompression", 86, "Tarn::VELL::Reader::Decompress");
}

}  // namespace Tarn::VELL::Reader
