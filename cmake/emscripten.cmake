# Debian's emscripten, for the panel page's WebAssembly module (preset wasm).
set(VESTRIX_EMSCRIPTEN_TOOLCHAIN /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
if(NOT EXISTS ${VESTRIX_EMSCRIPTEN_TOOLCHAIN})
  message(FATAL_ERROR "Debian's emscripten is not installed (${VESTRIX_EMSCRIPTEN_TOOLCHAIN} is "
                      "missing): scripts/setup.sh installs it")
endif()
include(${VESTRIX_EMSCRIPTEN_TOOLCHAIN})

# emscripten's optimiser runs under Node.js and needs Debian's acorn from
# /usr/share/nodejs, which a Node.js of another origin (NodeSource's) does not
# search by itself.
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
