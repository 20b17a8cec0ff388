// A host that closes its plug-in from a static destructor of its own, as the
// process ends, with the panel emulator as the vendor library. The destructor
// runs after the emulator's static objects would have been destroyed (they
// were made later, when the plug-in loaded the emulator), so the emulator must
// still take the packets of Done then. Exits 0 when the process ends normally.
//   vestrix_done_at_exit
#include <cstdio>

#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"

namespace {

// Calls Done, once set, when static objects are destroyed at the end.
struct DoneAtExit {
  decltype(plugin::EntryPoints::Done) done = nullptr;
  ~DoneAtExit() {
    if (done != nullptr) {
      done();
      std::puts("done_at_exit: Done returned");
    }
  }
};

}  // namespace

int main() {
  // Made before the plug-in loads the emulator, so destroyed after its statics.
  static DoneAtExit closer;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  platform::SetLibraryDirectory(VESTRIX_TEST_EMULATOR_DIR);
  platform::Library* library = platform::OpenLibrary(VESTRIX_TEST_PLUGIN_PATH);
  plugin::EntryPoints api;
  if (library == nullptr || plugin::ResolveEntryPoints(library, &api) != nullptr) {
    std::fprintf(stderr, "done_at_exit: cannot load %s\n", VESTRIX_TEST_PLUGIN_PATH);
    return 1;
  }
  bool ok = false;
  if (api.Init(16, 2, "clock", &ok) != nullptr || !ok) {
    std::fprintf(stderr, "done_at_exit: Init failed\n");
    return 1;
  }
  api.Write("Good night");
  closer.done = api.Done;
  // The plug-in stays loaded: the host's reference is never given back.
  return 0;
}
