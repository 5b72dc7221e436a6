// The frame of the exported interface: the one slot that owns the runtime environment, its
// creation (explicit, or lazily from the current directory) and release, and the path
// normalisation every host path passes before a lookup.
//
// The slot has no lock: initialisation, shutdown and any call that may create lazily must
// not overlap another call. Once the environment exists, lookups only read it.
#pragma once

#include <cstddef>

#include "CStd/HResult.h"
#include "reader/RuntimeEnvironment.h"

namespace Tarn::VELL {

class VellExportsMain {
public:
    // Creates the environment from workingDirectory (null: the current directory) into the
    // empty slot; kFail (after logging) when the slot is taken or creation fails.
    static HRESULT Initialize(const char* workingDirectory);
    // The environment, creating it lazily from the current directory when the slot is empty;
    // null when that fails (each later call tries again).
    static Reader::RuntimeEnvironment* EnsureEnvironment();
    static Reader::RuntimeEnvironment* Environment();
    // Empties the slot, destroying the environment.
    static void Shutdown();
};

// Copies input into output (outputSize characters, terminator included): '\' becomes '/',
// runs of separators collapse (two leading ones stay), a final slash goes when
// trimTrailingSlash is set (needing no room in output). Returns the length, or -1 (output
// empty) when input or output is null or the result does not fit.
long NormalizePath(const char* input, char* output, std::size_t outputSize, bool trimTrailingSlash);

}  // namespace Tarn::VELL
