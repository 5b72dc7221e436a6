// The current log function table and the built-in one.
#pragma once

#include <cstdint>

#include "TarnVellIO.h"

namespace Tarn::Logger {

// The table the library's messages go to. Starts at the built-in table.
const LogFunctionTable* CurrentLogTable();
const LogFunctionTable* BuiltInLogTable();

// What VellSetLogger does: make table current (no check) and register "VEL" with it.
void SetLogger(const LogFunctionTable* table);

// Swaps the current table and category without registering anything (tests restore the
// state they found with it).
void RestoreLogger(const LogFunctionTable* table, std::uint64_t categoryHandle);

}  // namespace Tarn::Logger
