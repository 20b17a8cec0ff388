// WebAssembly implementation of the platform layer, for the panel page in the
// browser (web/). The page's module has one thread and no library loader:
// - the vendor library is bound into the module at link time, and OpenLibrary
//   finds it under its file name in the table the module defines
//   (kBoundVendorFunctions);
// - StartThread starts no thread: the page runs the icon thread's refresh
//   cycle every 500 ms in its place, for as long as ThreadStarted says so;
// - pauses return at once, since nothing else could run while the one thread
//   waits; a lock has nobody to keep out;
// - the clock is the browser's.
#include <emscripten.h>

#include <cstring>

#include "platform/platform.h"

// The browser's local date and time, as six numbers.
// clang-format off
EM_JS(void, ReadBrowserLocalTime, (int* parts), {
  const now = new Date();
  const values = [now.getFullYear(), now.getMonth() + 1, now.getDate(),
                  now.getHours(), now.getMinutes(), now.getSeconds()];
  for (let i = 0; i < 6; ++i) {
    HEAP32[(parts >> 2) + i] = values[i];
  }
});
// clang-format on

namespace platform {

const char kVendorLibraryName[] = "sg_vfd";

namespace {

// The one library there is; its handle is the address of its table.
Library* VendorLibrary() {
  return reinterpret_cast<Library*>(const_cast<BoundFunction*>(kBoundVendorFunctions));
}

bool g_thread_started = false;

}  // namespace

Library* OpenLibrary(const char* name) {
  return name != nullptr && std::strcmp(name, kVendorLibraryName) == 0 ? VendorLibrary() : nullptr;
}

Symbol FindSymbol(Library* library, const char* name) {
  if (library != VendorLibrary() || name == nullptr) {
    return nullptr;
  }
  for (const BoundFunction* function = kBoundVendorFunctions; function->name != nullptr;
       ++function) {
    if (std::strcmp(function->name, name) == 0) {
      return function->address;
    }
  }
  return nullptr;
}

void CloseLibrary(Library* /*library*/) {
  // Bound in: nothing to unload.
}

void CreateIconMutex() {}
void LockIconMutex() {}
void UnlockIconMutex() {}

bool StartThread(void (* /*body*/)(std::uint32_t), std::uint32_t /*argument*/) {
  if (g_thread_started) {
    return false;
  }
  g_thread_started = true;
  return true;
}

bool ThreadStarted() {
  return g_thread_started;
}

bool ThreadEnded() {
  // The page's cycle ends only when the thread is released.
  return false;
}

bool ReleaseThread(std::uint32_t /*milliseconds*/) {
  g_thread_started = false;
  return true;
}

void SleepMilliseconds(std::uint32_t /*milliseconds*/) {}

void WaitForWake(std::uint32_t /*milliseconds*/) {}

void Wake() {}

std::uint32_t TickMilliseconds() {
  // The browser's monotonic clock (performance.now), in milliseconds.
  return static_cast<std::uint32_t>(static_cast<unsigned long long>(emscripten_get_now()));
}

LocalTime GetLocalTime() {
  int parts[6] = {};
  ReadBrowserLocalTime(parts);
  return {static_cast<std::uint16_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
          static_cast<std::uint8_t>(parts[2]),  static_cast<std::uint8_t>(parts[3]),
          static_cast<std::uint8_t>(parts[4]),  static_cast<std::uint8_t>(parts[5])};
}

bool ReadSpeakerConfig(std::uint32_t* /*value*/) {
  // A page learns nothing of the machine's speakers.
  return false;
}

}  // namespace platform
