#include "reader/ConfigurationManifest.h"

#include "CStd/PathComponent.h"
#include "logger/Log.h"
#include "platform/Win32.h"
#include "reader/FieldReaders.h"
#include "reader/FileReads.h"
#include "reader/Formats.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {
constexpr char kName[] = "Tarn::VELL::Reader::ConfigurationManifest::Load";
constexpr std::uint32_t kFileVersion = kTextManifestFileVersion;
}  // namespace

HRESULT ConfigurationManifest::Load(const char* path)
{
    LogInfo("%s: (\"%s\")", kName, path ? path : "");
    mProjects.clear();
    std::FILE* stream = nullptr;
    if (vell_fopen_s(&stream, path, "rt") != 0 || stream == nullptr) {
        const auto lastError = static_cast<std::int32_t>(Win32::GetLastError());
        LogSystemError(kName, lastError);
        if (lastError != 0) LogSystemError(kName, lastError);
        LogError("%s: Failed to open configuration file \"%s\".", kName, path ? path : "");
        return kFail;
    }

    HRESULT result = kFail;
    std::string line;
    std::uint32_t fileVersion = 0, count = 0;
    if (Failed(ReadString(stream, line))) {
        LogError("%s: Failure while getting magic string", kName);
    } else if (Win32::_stricmp(line.c_str(), kConfigurationManifestMagic) != 0) {
        LogError("%s: Magic string does not match", kName);
    } else if (Failed(ReadVersion(stream, fileVersion))) {
        LogError("%s: Failed to read version", kName);
    } else if (fileVersion != kFileVersion) {
        LogError("%s: File version mismatch", kName);
    } else if (Failed(ReadString(stream, mName))) {
        LogError("%s: Failed to read configuration name", kName);
    } else if (Failed(ReadDWORD(stream, count))) {
        LogError("%s: Failed to read project count", kName);
    } else {
        result = kOk;
        size_t namesRead = 0, namesPastEnd = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            bool endOfFile = false;
            if (Failed(ReadString(stream, line, &endOfFile))) {
                LogError("%s: Failed to read project name %d of %d", kName, static_cast<int>(i), static_cast<int>(count));
                result = kFail;
                break;
            }
            if (endOfFile && ++namesPastEnd > namesRead + 1) break;
            if (!endOfFile) ++namesRead;
            if (!IsPlainPathComponent(line)) {
                LogError("%s: The project name \"%s\" is not a plain path component.", kName, line.c_str());
                result = kFail;
                break;
            }
            mProjects.push_back(line);
        }
    }

    if (Win32::fclose(stream) != 0) {
        const auto lastError = static_cast<std::int32_t>(Win32::GetLastError());
        LogSystemError(kName, lastError);
        if (lastError != 0 && Succeeded(result)) result = kFail;
    }
    return result;
}

}  // namespace Tarn::VELL::Reader
