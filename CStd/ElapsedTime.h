// A high-resolution clock of elapsed time.
#pragma once

namespace Tarn {

// Seconds since the first call of this function in the process (the first call returns
// about 0). Never decreases.
double ElapsedSeconds();

}  // namespace Tarn
