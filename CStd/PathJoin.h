// Joins path components into a buffer of kMaxPath characters.
#pragma once

#include <initializer_list>

namespace Tarn {

// Joins up to eight components with single '/' separators into destination (kMaxPath bytes).
// Null and empty components are skipped; a component that begins with '/' or '\' or has ':'
// as its second character starts the path afresh; backslashes in the copied text become '/'.
// The destination may be the first component (it stays in place), never a later one.
// Returns false when a component does not fit (or more than eight are given); the
// destination then holds no result a caller may use.
bool PathJoin(char* destination, std::initializer_list<const char*> components);

}  // namespace Tarn
