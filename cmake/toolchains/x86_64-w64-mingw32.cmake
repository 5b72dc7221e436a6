# Cross-compiles the 64-bit Windows build with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix).
set(TARN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
