// Name matching with '*' and '?', ignoring ASCII case, without backtracking: after a star,
// the first occurrence of the next literal run is taken and never reconsidered. Safe on any
// number of threads.
#pragma once

namespace Tarn {

bool WildcardMatch(const char* text, const char* pattern);

}  // namespace Tarn
