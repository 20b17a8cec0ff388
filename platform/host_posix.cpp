// POSIX implementation of the host-side services: the library directory as an
// environment variable that the platform layer's OpenLibrary consults, and
// dropping libraries through dlopen's reference counts.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/host.h"
#include "platform/platform.h"

namespace platform {
void SetLibraryDirectory(const char* directory) {
  if (directory == nullptr) {
    unsetenv(kLibraryDirVariable);
  } else {
    setenv(kLibraryDirVariable, directory, 1);
  }
}

bool IsLibraryLoaded(const char* name) {
  void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
}

bool UnloadLibraryCompletely(const char* name) {
  // Each dlclose drops one reference; stop when the object is gone. The bound
  // guards against an object that cannot be unloaded at all.
  for (int attempt = 0; attempt < 64; ++attempt) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
      return true;
    }
    dlclose(handle);  // the reference taken just now
    dlclose(handle);  // one that was left behind
  }
  return !IsLibraryLoaded(name);
}

bool PrepareTerminalOutput() {
  // A POSIX terminal takes UTF-8 and ANSI sequences as they are.
  return isatty(STDOUT_FILENO) == 1;
}

}  // namespace platform
