# Checks the export table and the import list of VESTRIX.DLL with objdump:
# exactly the 24 entry-point names at ordinals 1..24 in ascending byte order of
# the names, and imports from Windows system DLLs only.
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

set(expected
  DISPLAYDLL_CustomChar DISPLAYDLL_CustomChar@8
  DISPLAYDLL_CustomCharIndex DISPLAYDLL_CustomCharIndex@4
  DISPLAYDLL_DefaultParameters DISPLAYDLL_DefaultParameters@0
  DISPLAYDLL_Done DISPLAYDLL_Done@0
  DISPLAYDLL_DriverName DISPLAYDLL_DriverName@0
  DISPLAYDLL_Init DISPLAYDLL_Init@16
  DISPLAYDLL_SetBrightness DISPLAYDLL_SetBrightness@4
  DISPLAYDLL_SetContrast DISPLAYDLL_SetContrast@4
  DISPLAYDLL_SetFan DISPLAYDLL_SetFan@8
  DISPLAYDLL_SetPosition DISPLAYDLL_SetPosition@8
  DISPLAYDLL_Usage DISPLAYDLL_Usage@0
  DISPLAYDLL_Write DISPLAYDLL_Write@4)

# objdump lists the names under "[Ordinal/Name Pointer] Table" with the ordinal
# minus the ordinal base in brackets.
string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${dump}")
set(base "${CMAKE_MATCH_1}")
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(base STREQUAL "" OR start EQUAL -1)
  message(FATAL_ERROR "no export table found in ${DLL}")
endif()
string(SUBSTRING "${dump}" ${start} -1 names)
string(REGEX MATCH "^[^\n]*\n(\t\\[ *[0-9]+\\] [^\n]+\n)+" names "${names}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${names}")
set(found)
foreach(row ${rows})
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND found "${ordinal}=${CMAKE_MATCH_2}")
endforeach()
set(wanted)
set(ordinal 1)
foreach(name ${expected})
  list(APPEND wanted "${ordinal}=${name}")
  math(EXPR ordinal "${ordinal} + 1")
endforeach()
if(NOT found STREQUAL wanted)
  message(FATAL_ERROR "export table differs\n found: ${found}\n wanted: ${wanted}")
endif()

# Windows system DLLs the plug-in may import from; the C++ runtime, libgcc and
# the thread library must be linked in.
set(allowed kernel32.dll msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no import table found")
endif()
foreach(import ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${import}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST allowed)
    message(FATAL_ERROR "VESTRIX.DLL imports from ${name}, which is not a Windows system DLL")
  endif()
endforeach()
message(STATUS "24 exports at ordinals 1..24; imports: ${imports}")
