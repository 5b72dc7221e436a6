#include "writer/ReleaseManifest.h"

#include "writer/ByteOrder.h"

namespace Tarn::VELL::Writer {

uint32_t ManifestFileRecordSize(uint32_t formatVersion) { return formatVersion == kManifestFormatV1 ? 44 : 36; }

std::string BuildRawManifest(uint32_t formatVersion, uint32_t projectNameIndex, uint32_t releaseVersion,
                             const std::vector<ManifestDirectory>& directories, const std::vector<ManifestFile>& files,
                             const std::vector<std::string>& strings)
{
    const uint32_t recordSize = ManifestFileRecordSize(formatVersion);
    size_t stringBytes = 0;
    for (const std::string& text : strings) stringBytes += text.size() + 1;

    std::string out;
    out.reserve(32 + directories.size() * kManifestDirectoryRecordSize + files.size() * recordSize + stringBytes);
    AppendU32(out, kManifestMagic);
    AppendU32(out, formatVersion);
    AppendU32(out, projectNameIndex);
    AppendU32(out, releaseVersion);

    AppendU32(out, static_cast<uint32_t>(directories.size()));
    for (const ManifestDirectory& directory : directories) {
        AppendU32(out, directory.name);
        AppendU32(out, directory.firstSubdirectory);
        AppendU32(out, directory.subdirectoryCount);
        AppendU32(out, directory.firstFile);
        AppendU32(out, directory.fileCount);
    }

    AppendU32(out, static_cast<uint32_t>(files.size()));
    for (const ManifestFile& file : files) {
        AppendU32(out, file.name);
        AppendU32(out, file.version);
        out.append(reinterpret_cast<const char*>(file.checksum.data()), file.checksum.size());
        AppendU32(out, file.flags);
        AppendU32(out, file.size);
        for (uint32_t extra = 32; extra < recordSize; extra += 4) AppendU32(out, 0);
    }

    AppendU32(out, static_cast<uint32_t>(strings.size()));
    AppendU32(out, static_cast<uint32_t>(stringBytes));
    for (const std::string& text : strings) {
        out += text;
        out.push_back('\0');
    }
    return out;
}

}  // namespace Tarn::VELL::Writer
