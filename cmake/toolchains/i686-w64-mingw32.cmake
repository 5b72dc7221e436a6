# Cross-compiles the 32-bit Windows build with Debian's MinGW-w64 (g++-mingw-w64-i686-posix).
set(TARN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
