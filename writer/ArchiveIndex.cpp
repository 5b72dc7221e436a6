#include "writer/ArchiveIndex.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "writer/ArchivePath.h"
#include "writer/ByteOrder.h"

namespace Tarn::VELL::Writer {

std::string BuildArchiveIndex(const std::vector<IndexEntry>& entries)
{
    const size_t count = entries.size();
    std::vector<uint32_t> hashes(count);
    for (size_t i = 0; i < count; ++i) hashes[i] = HashArchivePath(entries[i].path);
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (hashes[a] != hashes[b]) return hashes[a] < hashes[b];
        return CompareNoCase(entries[a].path, entries[b].path) < 0;
    });

    uint64_t stringBytes = 0;
    for (const IndexEntry& entry : entries) stringBytes += entry.path.size() + 1;
    const uint64_t fileListOffset = kArchiveHeaderSize;
    const uint64_t pathListOffset = fileListOffset + 4 + uint64_t{kArchiveEntrySize} * count;
    const uint64_t pathRecordsEnd = 8 + uint64_t{kArchivePathRecordSize} * count;
    const uint64_t total = pathListOffset + pathRecordsEnd + stringBytes;
    if (total > 0xFFFFFFFFu) throw std::length_error("archive index too large for 32-bit offsets");

    std::string out;
    out.reserve(static_cast<size_t>(total));
    AppendU32(out, kArchiveMagic);
    AppendU32(out, kArchiveVersion);
    AppendU32(out, 0);
    AppendU32(out, static_cast<uint32_t>(fileListOffset));
    AppendU32(out, static_cast<uint32_t>(pathListOffset));

    AppendU32(out, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const IndexEntry& entry = entries[order[i]];
        AppendU32(out, hashes[order[i]]);
        AppendU32(out, entry.dataOffset);
        AppendU32(out, entry.dataSize);
        AppendU32(out, static_cast<uint32_t>(i));
    }

    AppendU32(out, 0);
    AppendU32(out, static_cast<uint32_t>(count));
    uint64_t stringOffset = pathRecordsEnd;
    for (size_t i = 0; i < count; ++i) {
        const std::string& path = entries[order[i]].path;
        AppendU32(out, static_cast<uint32_t>(stringOffset));
        AppendU32(out, static_cast<uint32_t>(path.size()));
        stringOffset += path.size() + 1;
    }
    for (size_t i = 0; i < count; ++i) {
        out += entries[order[i]].path;
        out.push_back('\0');
    }
    return out;
}

}  // namespace Tarn::VELL::Writer
