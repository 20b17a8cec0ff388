// A host that starts the plug-in once and tells what came of it: Init's
// message, and whether a library under the vendor library's file name was
// loaded meanwhile. For the end-to-end test of where the plug-in looks for
// the vendor library (planted_library_test.sh), which runs it from a
// directory of its own.
//   vestrix_start_once PLUGIN
// Prints "message: TEXT" ("message: none" for a start that worked) and
// "vendor library loaded: yes" or "no"; exits 1 when the plug-in cannot be
// loaded.
#include <cstdio>

#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vestrix_start_once PLUGIN\n");
    return 2;
  }
  platform::Library* library = platform::OpenLibrary(argv[1]);
  plugin::EntryPoints api;
  if (library == nullptr || plugin::ResolveEntryPoints(library, &api) != nullptr) {
    std::fprintf(stderr, "vestrix_start_once: cannot load %s\n", argv[1]);
    return 1;
  }
  bool ok = false;
  const char* message = api.Init(16, 2, "message", &ok);
  std::printf("message: %s\n", message != nullptr ? message : "none");
  std::printf("vendor library loaded: %s\n",
              platform::IsLibraryLoaded(platform::kVendorLibraryName) ? "yes" : "no");
  api.Done();
  platform::CloseLibrary(library);
  return 0;
}
