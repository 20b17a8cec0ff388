// Win32 implementation of the host-side services: the DLL directory, dropping
// modules by their reference counts, and the console.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/host.h"

namespace platform {

void SetLibraryDirectory(const char* directory) {
  SetDllDirectoryA(directory);
}

bool IsLibraryLoaded(const char* name) {
  return GetModuleHandleA(name) != nullptr;
}

bool UnloadLibraryCompletely(const char* name) {
  // Each FreeLibrary drops one reference; the bound guards against a module
  // that cannot be unloaded at all.
  for (int attempt = 0; attempt < 64; ++attempt) {
    HMODULE module = GetModuleHandleA(name);
    if (module == nullptr) {
      return true;
    }
    FreeLibrary(module);
  }
  return GetModuleHandleA(name) == nullptr;
}

bool PrepareTerminalOutput() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == INVALID_HANDLE_VALUE || GetConsoleMode(output, &mode) == 0) {
    return false;  // a file or a pipe
  }
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleMode(output, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

}  // namespace platform
