# Finds libmd (Debian: libmd-dev), the message digest library whose <md5.h> gives MD5Init,
# MD5Update and MD5Final. Defines Libmd_FOUND and the imported target Libmd::Libmd.
find_path(Libmd_INCLUDE_DIR md5.h)
find_library(Libmd_LIBRARY md)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libmd REQUIRED_VARS Libmd_LIBRARY Libmd_INCLUDE_DIR)
if(Libmd_FOUND AND NOT TARGET Libmd::Libmd)
  add_library(Libmd::Libmd UNKNOWN IMPORTED)
  set_target_properties(Libmd::Libmd PROPERTIES IMPORTED_LOCATION ${Libmd_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${Libmd_INCLUDE_DIR})
endif()
mark_as_advanced(Libmd_INCLUDE_DIR Libmd_LIBRARY)
