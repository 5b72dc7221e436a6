// The configuration manifest: a text file naming one configuration of a solution and the
// projects that make it up, in file order (duplicates and any order allowed). Each project
// name must be a plain path component (IsPlainPathComponent); a file naming any other
// project fails to load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CStd/HResult.h"

namespace Tarn::VELL::Reader {

class ConfigurationManifest {
public:
    // Reads the file; kOk when every field was read.
    //
    // A file that ends before its count of names has been read still loads: each missing name
    // repeats the last name read (the magic line when none was). The repetition is bounded:
    // past the end of the file at most as many names are taken as were read from it, plus
    // one, so a count far beyond the file can neither exhaust memory nor run for long.
    HRESULT Load(const char* path);

    const std::string& Name() const { return mName; }
    const std::vector<std::string>& Projects() const { return mProjects; }

private:
    std::string mName;
    std::vector<std::string> mProjects;
};

}  // namespace Tarn::VELL::Reader
