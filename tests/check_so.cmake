# Checks that the native plug-in library exports the twelve entry points with
# C linkage as functions, and no other symbol of any kind.
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" rows "${dump}")
set(found)
foreach(row ${rows})
  # "<address> <type> <name>"; the entry points must be code (T).
  if(NOT row MATCHES "^[0-9a-fA-F]+ T ([^ ]+)$")
    message(FATAL_ERROR "unexpected exported symbol: ${row}")
  endif()
  list(APPEND found ${CMAKE_MATCH_1})
endforeach()
list(SORT found)
set(wanted DISPLAYDLL_CustomChar DISPLAYDLL_CustomCharIndex DISPLAYDLL_DefaultParameters
  DISPLAYDLL_Done DISPLAYDLL_DriverName DISPLAYDLL_Init DISPLAYDLL_SetBrightness
  DISPLAYDLL_SetContrast DISPLAYDLL_SetFan DISPLAYDLL_SetPosition DISPLAYDLL_Usage
  DISPLAYDLL_Write)
if(NOT found STREQUAL wanted)
  message(FATAL_ERROR "exported functions differ\n found: ${found}\n wanted: ${wanted}")
endif()
