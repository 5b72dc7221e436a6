#include "writer/PathNames.h"

#include <set>
#include <stdexcept>

#include "writer/ArchivePath.h"

namespace Tarn::VELL::Writer {

namespace {

// The device a Windows path component opens, in lower case, when it names one: the text
// before the first dot with trailing spaces removed.
bool NamesDevice(const std::string& name)
{
    std::string device = FoldCase(name.substr(0, name.find('.')));
    device.erase(device.find_last_not_of(' ') + 1);
    static const std::set<std::string> kDevices = [] {
        std::set<std::string> devices{"con", "prn", "aux", "nul", "conin$", "conout$"};
        for (const char* port : {"com", "lpt"}) {
            for (char digit = '0'; digit <= '9'; ++digit) devices.insert(std::string(port) + digit);
            for (char superscript : {'\xB9', '\xB2', '\xB3'}) devices.insert(std::string(port) + superscript);
        }
        return devices;
    }();
    return kDevices.count(device) > 0;
}

}  // namespace

std::string PathComponentProblem(const std::string& name)
{
    if (name.empty()) return "is empty";
    if (name.find('\0') != std::string::npos) return "holds a NUL byte";
    if (name.find_first_of("/\\") != std::string::npos) return "holds a path separator ('/' or '\\')";
    if (name.find(':') != std::string::npos) return "holds ':' (a drive or a stream on Windows)";
    if (name.find_last_not_of(". ") == std::string::npos) return "names the directory itself or its parent";
    if (NamesDevice(name)) return "is a Windows device name";
    return std::string();
}

void RequirePathComponent(const std::string& name, const char* what)
{
    const std::string problem = PathComponentProblem(name);
    if (!problem.empty())
        throw std::invalid_argument(std::string(what) + " \"" + name + "\" must be a single path component: it " + problem);
}

void RequireProjectName(const std::string& name, const char* what)
{
    RequirePathComponent(name, what);
    if (name.ends_with("VELL"))
        throw std::invalid_argument(std::string(what) + " \"" + name +
                                    "\" must not end in \"VELL\": readers would take its directory for the content root");
}

}  // namespace Tarn::VELL::Writer
