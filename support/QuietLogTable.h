// A host log table whose 26 entries do nothing: no targets, no categories (mask 0), empty
// texts, a zero time, and LogV formats each message (so every argument is used as the library would use
// it) and drops it. Hosts that want a few entries of their own start from it:
//
//     LogFunctionTable table = TarnSupport::QuietLogTable();
//     table.LogV = MyLogV;
//     VellSetLogger(&table);  // the table must outlive its use
#pragma once

#include "TarnVellIO.h"

namespace TarnSupport {

LogFunctionTable QuietLogTable();

}  // namespace TarnSupport
