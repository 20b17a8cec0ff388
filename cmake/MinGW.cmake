# Shared part of the two Windows cross toolchains (MinGW-w64 with POSIX
# threads). The including file sets VESTRIX_MINGW_TRIPLET, the processor and
# VESTRIX_WINE_BITS, the kind of Wine that runs the test programs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VESTRIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESTRIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VESTRIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VESTRIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine with the panel emulator's window shut, also when
# the developer's shell has switched it on: the suites run without a display,
# and a window would keep the emulator loaded from one test to the next. The
# window's own tests start Wine through scripts/window-test.sh instead.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "env;VESTRIX_VIRTUAL_PANEL_WINDOW=0;${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${VESTRIX_WINE_BITS}")
