# Debian's emscripten, for the panel page's WebAssembly module (preset wasm).
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# emscripten's optimiser runs under Node.js and needs Debian's acorn from
# /usr/share/nodejs, which a Node.js of another origin (NodeSource's) does not
# search by itself.
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
