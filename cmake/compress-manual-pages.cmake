# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files of a package:
# for a Debian package, gzips the manual pages with "gzip -9n", as Debian
# packages ship them. Other generators keep them as installed.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(REQWATCH_GZIP gzip REQUIRED)
file(GLOB_RECURSE pages LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*")
list(FILTER pages EXCLUDE REGEX "\\.gz$")
foreach(page IN LISTS pages)
  execute_process(COMMAND ${REQWATCH_GZIP} -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9nf ${page} failed: ${status}")
  endif()
endforeach()
if(NOT pages)
  message(FATAL_ERROR "no manual page under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
