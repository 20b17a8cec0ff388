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
