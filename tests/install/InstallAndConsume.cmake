# Installs the build into a scratch prefix and builds two hosts against the installed files
# only, as a game's build would: one with find_package(TarnVellIO), one with pkg-config. Both
# read the sample release; the installed vell reads it too.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSAMPLE=<release dir> -DVERSION=x.y.z
#         -DC_COMPILER=... -DGENERATOR=... [-DPKG_CONFIG=...] -P InstallAndConsume.cmake
# For a Windows build also -DTOOLCHAIN=<toolchain file> -DEMULATOR=<wine-run>: the programs
# then run under the emulator and the host is cross-built (no pkg-config host there).
cmake_minimum_required(VERSION 3.19)
set(here ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# What the consumers must print: the header's version and the sample's readme.txt.
set(expected "TarnVellIO ${VERSION}: DATA/readme.txt 2000 bytes, begins \"client 0.0.0.2 D\"")
function(expect_output what)
  string(STRIP "${out}" got)
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${what} printed\n  ${got}\ninstead of\n  ${expected}")
  endif()
  message(STATUS "${what}: ${got}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(EMULATOR)
  set(exe .exe)
  set(library bin/TarnVellIO.dll lib/libTarnVellIO.dll.a)
else()
  set(library lib/libtarnvellio.so.${VERSION})
endif()
foreach(file include/TarnVellIO.h ${library} lib/cmake/TarnVellIO/TarnVellIOConfig.cmake
             lib/cmake/TarnVellIO/TarnVellIOConfigVersion.cmake lib/pkgconfig/tarnvellio.pc bin/vell${exe} bin/vellpack${exe})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed tools run from the prefix and tell the version.
foreach(tool vell vellpack)
  run(${EMULATOR} ${prefix}/bin/${tool}${exe} --version)
  string(REPLACE "\r" "" out "${out}")
  if(NOT out MATCHES "^${tool} \\(TarnVellIO\\) ${VERSION}\n$")
    message(FATAL_ERROR "${tool} --version printed: ${out}")
  endif()
endforeach()
run(${EMULATOR} ${prefix}/bin/vell${exe} -C ${SAMPLE} check)
if(NOT out MATCHES " 0 failed")
  message(FATAL_ERROR "the installed vell failed on the sample: ${out}")
endif()

# A CMake host: find_package(TarnVellIO) through CMAKE_PREFIX_PATH.
if(TOOLCHAIN)
  # A cross-build searches only below its target root: the package is named directly.
  set(host_options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DTarnVellIO_DIR=${prefix}/lib/cmake/TarnVellIO)
else()
  set(host_options -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
run(${CMAKE_COMMAND} -S ${here}/consumer -B ${WORK_DIR}/cmake-host -G ${GENERATOR} ${host_options}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-host)
if(EMULATOR)
  # The host finds the DLL beside it, as a game does.
  file(COPY ${prefix}/bin/TarnVellIO.dll DESTINATION ${WORK_DIR}/cmake-host)
endif()
run(${EMULATOR} ${WORK_DIR}/cmake-host/consumer${exe} ${SAMPLE})
string(REPLACE "\r" "" out "${out}")
expect_output("find_package host")

# A host built by hand from pkg-config's flags.
if(EMULATOR)
  return()  # pkg-config's flags are for this system's compiler
endif()
if(NOT PKG_CONFIG)
  message(WARNING "pkg-config is missing (Debian: pkg-config): the pkg-config host is not tried")
  return()
endif()
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(${PKG_CONFIG} --modversion tarnvellio)
string(STRIP "${out}" modversion)
if(NOT modversion STREQUAL VERSION)
  message(FATAL_ERROR "pkg-config --modversion tarnvellio gave ${modversion}, not ${VERSION}")
endif()
run(${PKG_CONFIG} --cflags --libs tarnvellio)
separate_arguments(flags UNIX_COMMAND "${out}")
run(${C_COMPILER} ${here}/consumer/consumer.c ${flags} -o ${WORK_DIR}/pkg-config-host)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
run(${WORK_DIR}/pkg-config-host ${SAMPLE})
expect_output("pkg-config host")
