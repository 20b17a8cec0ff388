# Generates the glyph tables (Font8x5, Font8x12) from the picture files in
# text/fonts/ with tools/fontgen.py.
#
#   vestrix_generate_fonts(<out_var>)
#
# adds a custom command that writes ${CMAKE_CURRENT_BINARY_DIR}/font_tables.cpp
# and sets <out_var> in the caller's scope to that path; add it to a target's
# sources. The file is regenerated whenever a picture file or the generator
# changes, and a picture file that breaks the font rules fails the build with
# the file and line at fault.

find_package(Python3 COMPONENTS Interpreter REQUIRED)

# The repository root, taken from this file's place so that the function works
# from any directory that includes it.
get_filename_component(VESTRIX_FONTS_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

function(vestrix_generate_fonts out_var)
  set(small "${VESTRIX_FONTS_ROOT}/text/fonts/small.txt")
  set(large "${VESTRIX_FONTS_ROOT}/text/fonts/large.txt")
  set(generator "${VESTRIX_FONTS_ROOT}/tools/fontgen.py")
  set(output "${CMAKE_CURRENT_BINARY_DIR}/font_tables.cpp")

  add_custom_command(
    OUTPUT "${output}"
    COMMAND Python3::Interpreter "${generator}"
            --small "${small}" --large "${large}" --out "${output}"
    DEPENDS "${small}" "${large}" "${generator}"
    COMMENT "Generating glyph tables from text/fonts/small.txt and text/fonts/large.txt"
    VERBATIM)

  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()
