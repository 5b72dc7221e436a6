// The rule every name taken from stored data obeys before it becomes part of a disk path.
#pragma once

#include <string_view>

namespace Tarn {

// Whether name is a single plain path component, one that names an entry inside the
// directory it is joined to on every platform the library runs on:
//   - not empty, and no NUL byte;
//   - no '/', '\' or ':' (no separator, no drive, no alternate stream);
//   - not ".", "..", or any other name that is empty once Windows has stripped its trailing
//     dots and spaces ("...", ". .", ".. ");
//   - not a Windows device name (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, also with the
//     superscript digits 1-3 of code page 1252, CONIN$, CONOUT$), in any case, with or
//     without an extension, with trailing spaces before the extension ("con .txt").
// Names are bytes; anything else (spaces inside, bytes 0x80-0xFF, wildcards) is allowed.
bool IsPlainPathComponent(std::string_view name);

}  // namespace Tarn
