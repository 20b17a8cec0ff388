# Compiler warnings for the project's own code, as an interface target. Warnings
# are errors on both compilers.
add_library(vestrix_warnings INTERFACE)
target_compile_options(vestrix_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
  -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Werror)
