# Shared part of the MinGW-w64 toolchain files: TARN_MINGW_TRIPLET names the target. The
# compilers are the "posix" threading variants (std::thread and std::mutex need them); the
# libraries come from the target's sysroot only, never from the build machine.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${TARN_MINGW_TRIPLET}")

set(CMAKE_C_COMPILER ${TARN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARN_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TARN_MINGW_TRIPLET}-ar)
set(CMAKE_RANLIB ${TARN_MINGW_TRIPLET}-ranlib)
set(CMAKE_OBJDUMP ${TARN_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TARN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
