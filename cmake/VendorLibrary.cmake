# vestrix_vendor_library(<target> <directory>): makes the shared library
# <target> take the panel vendor's library's shape: its file name (sg_vfd.dll,
# libsg_vfd.so) in a directory of its own, so that pointing the library search
# there chooses it, and on Windows the vendor's plain export names whatever the
# calling convention. The emulator, the bridge and the test vendor libraries
# each take it.
function(vestrix_vendor_library target directory)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME sg_vfd
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${directory}
    RUNTIME_OUTPUT_DIRECTORY ${directory}
    ARCHIVE_OUTPUT_DIRECTORY ${directory})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  else()
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# vestrix_pin_at_first_load(<target>): on Windows, the DLL <target> pins itself
# as it is first loaded, so that it stays loaded until the process ends and
# FreeLibrary only gives back references (platform/pin_win32.cpp says why a
# -static DLL that a host loads and frees per session needs it). Natively it
# does nothing: a shared object keeps no such per-thread records.
function(vestrix_pin_at_first_load target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/pin_win32.cpp)
  endif()
endfunction()
