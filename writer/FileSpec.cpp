#include "writer/FileSpec.h"

#include "writer/ReleaseManifest.h"

namespace Tarn::VELL::Writer {

uint32_t ManifestFlagsFor(Storage storage, Compression compression)
{
    switch (storage) {
    case Storage::Managed: return ManifestFlag::Managed;
    case Storage::Naked: return 0;
    case Storage::Archived: break;
    }
    switch (compression) {
    case Compression::Zlib: return ManifestFlag::Archived | ManifestFlag::Compressed | ManifestFlag::Zlib;
    case Compression::Lzma: return ManifestFlag::Archived | ManifestFlag::Compressed | ManifestFlag::Lzma;
    case Compression::Stored: break;
    }
    return ManifestFlag::Archived;
}

const char* StorageName(Storage storage)
{
    switch (storage) {
    case Storage::Archived: return "archived";
    case Storage::Managed: return "managed";
    case Storage::Naked: return "naked";
    }
    return "?";
}

const char* CompressionName(Compression compression)
{
    switch (compression) {
    case Compression::Stored: return "stored";
    case Compression::Zlib: return "zlib";
    case Compression::Lzma: return "lzma";
    }
    return "?";
}

}  // namespace Tarn::VELL::Writer
