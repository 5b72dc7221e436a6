# The Windows build: cross-compiled with MinGW-w64 (cmake/toolchains/) and tested under Wine.
# scripts/windows.sh drives it: it builds liblzma first and passes TARN_WINDOWS_DEPS and
# TARN_WINE. Included from the top-level CMakeLists.txt before the dependencies are looked up.
if(NOT WIN32)
  return()
endif()

# A host copies one file: the C++ runtime, libgcc, winpthread, zlib and liblzma are linked into
# the DLL and every program, which then import only DLLs that every Windows has.
add_link_options(-static)
set(ZLIB_USE_STATIC_LIBS ON)
# The programs and the DLL side by side, where Windows looks for the DLL a program imports.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# liblzma has no MinGW package; scripts/windows.sh cross-compiles Debian's xz-utils source and
# installs the static library under this prefix. Its package configuration adds LZMA_API_STATIC,
# without which lzma.h declares its functions as imported from a DLL.
set(TARN_WINDOWS_DEPS "" CACHE PATH "Install prefix of the Windows builds of the dependencies (liblzma)")
if(TARN_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TARN_WINDOWS_DEPS})
endif()
find_package(liblzma CONFIG)
if(NOT liblzma_FOUND)
  message(FATAL_ERROR "No Windows build of liblzma: scripts/build.sh windows builds one from Debian's xz-utils "
                      "source and passes -DTARN_WINDOWS_DEPS=<its prefix>")
endif()

# nlohmann's JSON library is header-only: vell's --json takes its headers from the Linux
# package (nlohmann-json3-dev), or from TARN_NLOHMANN_JSON_INCLUDE (a directory holding
# nlohmann/json.hpp). Only that folder is put on the include path, through a directory of its
# own, never the rest of the Linux include directory.
set(TARN_NLOHMANN_JSON_INCLUDE /usr/include CACHE PATH "Directory holding nlohmann/json.hpp (Debian: nlohmann-json3-dev)")
if(NOT EXISTS ${TARN_NLOHMANN_JSON_INCLUDE}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found in ${TARN_NLOHMANN_JSON_INCLUDE} (Debian: nlohmann-json3-dev, "
                      "or -DTARN_NLOHMANN_JSON_INCLUDE=<directory>)")
endif()
set(tarn_json_root ${CMAKE_BINARY_DIR}/include-roots/nlohmann_json)
file(MAKE_DIRECTORY ${tarn_json_root})
if(NOT IS_SYMLINK ${tarn_json_root}/nlohmann)
  file(CREATE_LINK ${TARN_NLOHMANN_JSON_INCLUDE}/nlohmann ${tarn_json_root}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${tarn_json_root})

# Google Benchmark has no MinGW build in Debian; the benchmarks measure the Linux build.
set(TARN_BUILD_BENCHMARKS OFF CACHE BOOL "" FORCE)

if(TARN_BUILD_TESTS)
  # GoogleTest from the sources of Debian's googletest package, built for the target. A package
  # configuration beside it lets find_package(GTest) find these targets as it finds an installed
  # GoogleTest.
  set(TARN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian: googletest)")
  if(NOT EXISTS ${TARN_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${TARN_GOOGLETEST_SOURCE} (Debian: googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  file(WRITE ${CMAKE_BINARY_DIR}/googletest-config/GTestConfig.cmake
       "# The GoogleTest of this build (cmake/Windows.cmake): its targets exist already.\n")
  set(GTest_DIR ${CMAKE_BINARY_DIR}/googletest-config CACHE PATH "" FORCE)

  # The tests run under Wine. Test programs are listed when the tests run, not when they are
  # built, so a build for a system this machine cannot run still builds.
  set(TARN_WINE "" CACHE FILEPATH "Wine loader that runs this build's programs (wine, or /usr/lib/wine/wine64)")
  if(TARN_WINE)
    set(wine_prefix ${CMAKE_BINARY_DIR}/wine)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  endif()
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
