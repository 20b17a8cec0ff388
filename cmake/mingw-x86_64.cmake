# Cross toolchain for the 64-bit test build of the Windows code: x86-64
# MinGW-w64 with POSIX threads. Test programs run under 64-bit Wine, which
# also runs where the kernel refuses 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESTRIX_MINGW_TRIPLET x86_64-w64-mingw32)
set(VESTRIX_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
