# What `cmake --install` puts under the prefix:
#   include/TarnVellIO.h                      the public header
#   lib/libtarnvellio.so.0.1.0 (+ .so.0, .so) the shared library (Windows: bin/TarnVellIO.dll
#                                             and the import library lib/libTarnVellIO.dll.a)
#   bin/vell, bin/vellpack                    the tools
#   lib/cmake/TarnVellIO/                     the CMake package: TarnVellIO::tarnvellio
#   lib/pkgconfig/tarnvellio.pc               for pkg-config
# The static vellcore is not installed: it exists for the tests, which see the library's inner
# layers; their headers are not an interface, and a host needs only the thirteen exported
# functions of the shared library.
include(CMakePackageConfigHelpers)

set(TARN_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarnVellIO)

install(TARGETS tarnvellio EXPORT TarnVellIOTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES include/TarnVellIO.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# The tools find the shared library beside them (Windows) or in the prefix's library folder.
set(tarn_tools)
foreach(tool vell vellpack)
  if(TARGET ${tool})
    list(APPEND tarn_tools ${tool})
  endif()
endforeach()
if(TARGET vell AND NOT WIN32)
  file(RELATIVE_PATH tarn_bin_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(vell PROPERTIES INSTALL_RPATH "$ORIGIN/${tarn_bin_to_lib}")
endif()
if(tarn_tools)
  install(TARGETS ${tarn_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT TarnVellIOTargets NAMESPACE TarnVellIO:: DESTINATION ${TARN_CMAKE_PACKAGE_DIR} COMPONENT Development)
configure_package_config_file(cmake/TarnVellIOConfig.cmake.in ${PROJECT_BINARY_DIR}/TarnVellIOConfig.cmake
  INSTALL_DESTINATION ${TARN_CMAKE_PACKAGE_DIR})
# Within a major version the interface only grows (the major version is the library's SOVERSION).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnVellIOConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnVellIOConfig.cmake ${PROJECT_BINARY_DIR}/TarnVellIOConfigVersion.cmake
  DESTINATION ${TARN_CMAKE_PACKAGE_DIR} COMPONENT Development)

# pkg-config: the prefix is found from the .pc file's own place, so the package stays right
# whatever prefix `cmake --install --prefix` is given.
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
  set(TARN_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH tarn_pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" tarn_pc_up "${tarn_pc_up}")
  set(TARN_PC_PREFIX "\${pcfiledir}/${tarn_pc_up}")
endif()
macro(tarn_pc_dir var dir)
  if(IS_ABSOLUTE ${dir})
    set(${var} ${dir})
  else()
    set(${var} "\${prefix}/${dir}")
  endif()
endmacro()
tarn_pc_dir(TARN_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
tarn_pc_dir(TARN_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
get_target_property(TARN_PC_LIBRARY tarnvellio OUTPUT_NAME)
if(NOT TARN_PC_LIBRARY)
  set(TARN_PC_LIBRARY tarnvellio)
endif()
configure_file(cmake/tarnvellio.pc.in ${PROJECT_BINARY_DIR}/tarnvellio.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnvellio.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
