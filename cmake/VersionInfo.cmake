# vestrix_version_info(<target> FILE_NAME <name> INTERNAL_NAME <name>
#                      DESCRIPTION <text> [COMMENTS <text>])
# Gives a Windows DLL a version resource: the project's version, the file's
# description and name as Explorer shows them, and the copyright line of
# LICENSE. The description is kept on the target (VESTRIX_FILE_DESCRIPTION)
# for the tests that read the resource back from the built file. Does nothing
# outside Windows builds.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE VESTRIX_COPYRIGHT_LINE REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT VESTRIX_COPYRIGHT_LINE)
  message(FATAL_ERROR "LICENSE has no line starting with 'Copyright '")
endif()
# As the resource holds it, and as the tests expect it.
set(VESTRIX_LEGAL_COPYRIGHT "${VESTRIX_COPYRIGHT_LINE}. MIT License, see LICENSE.")

function(vestrix_version_info target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FILE_NAME;INTERNAL_NAME;DESCRIPTION;COMMENTS" "")
  if(NOT arg_FILE_NAME OR NOT arg_INTERNAL_NAME OR NOT arg_DESCRIPTION)
    message(FATAL_ERROR "vestrix_version_info(${target}): FILE_NAME, INTERNAL_NAME and DESCRIPTION are required")
  endif()
  # A double quote inside a resource string is written twice.
  foreach(field FILE_NAME INTERNAL_NAME DESCRIPTION COMMENTS)
    string(REPLACE "\"" "\"\"" value "${arg_${field}}")
    set(VESTRIX_RC_${field} "${value}")
  endforeach()
  string(REPLACE "\"" "\"\"" VESTRIX_RC_COPYRIGHT "${VESTRIX_LEGAL_COPYRIGHT}")
  set(VESTRIX_RC_COMPANY "the Vestrix authors")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_target_properties(${target} PROPERTIES VESTRIX_FILE_DESCRIPTION "${arg_DESCRIPTION}")
endfunction()
