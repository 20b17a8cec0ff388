# Cross toolchain for the Windows build: 32-bit MinGW-w64 with POSIX threads,
# the build a user installs. Test programs run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESTRIX_MINGW_TRIPLET i686-w64-mingw32)
set(VESTRIX_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
