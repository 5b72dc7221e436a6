# The sample layout written by the Linux vellpack, walked by the independent host twice: on
# Linux through the shared library, and under Wine through the DLL, with the release's path as
# Windows hands it over (a drive letter and backslashes). Both must read the same files with the
# same bytes.
foreach(name vellpack vell_host_walk libtarnvellio.so)
  file(GLOB_RECURSE found LIST_DIRECTORIES false ${LINUX_BUILD}/${name} ${LINUX_BUILD}/*/${name})
  list(FILTER found EXCLUDE REGEX "CMakeFiles")
  if(NOT found)
    message(FATAL_ERROR "${name} not found in the Linux build ${LINUX_BUILD}: build it first")
  endif()
  list(GET found 0 linux_${name})
endforeach()

file(REMOVE_RECURSE ${SAMPLE})
execute_process(COMMAND ${linux_vellpack} sample ${SAMPLE} OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vellpack sample failed: ${rc}")
endif()

foreach(release solutions/game/releases/1.0.0.0 projects/client/releases/0.0.0.2 projects/patch/releases/0.0.0.1)
  set(deploy ${SAMPLE}/VELL/${release}/deploy)
  execute_process(COMMAND ${linux_vell_host_walk} ${linux_libtarnvellio.so} ${deploy}
                  OUTPUT_VARIABLE expected RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the Linux host failed on ${release} (${rc}):\n${expected}")
  endif()
  string(REPLACE "/" "\\" windows_deploy "Z:${deploy}")
  execute_process(COMMAND ${EMULATOR} ${HOST} ${LIBRARY} ${windows_deploy} OUTPUT_VARIABLE actual RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT actual STREQUAL expected)
    message(FATAL_ERROR "${release}: the host under Wine (status ${rc}) read\n${actual}\nthe Linux host read\n${expected}")
  endif()
  string(REGEX MATCHALL "\n" lines "${expected}")
  list(LENGTH lines count)
  message(STATUS "${release} (${windows_deploy}): ${count} files, the same bytes")
endforeach()
