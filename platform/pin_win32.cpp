// Keeps the DLL this file is linked into loaded from its first load until the
// process ends: FreeLibrary then only gives back references, and a later load
// finds the same module. For DLLs linked -static with MinGW's C++ runtime that
// a host loads and frees again and again (the plug-in does so with its vendor
// library once per session). The 32-bit runtime registers its unwind tables as
// the DLL loads, and MinGW's POSIX thread library then keeps a record of the
// loading thread (a duplicate of its handle, an event, a slot of thread-local
// storage) that only that thread's end gives back, and the slot never. Loaded
// and unloaded over and over, such a DLL would use up the process's 1088 slots.
// Pinned, it pays for that once. Nothing can tell safely, at unload, which
// slots a runtime owns: guessing from their values frees other threads' slots.
//
// Linked in by vestrix_pin_at_first_load() (cmake/VendorLibrary.cmake), in the
// Windows builds of both widths, so that the 64-bit test build behaves as the
// 32-bit one does. It needs nothing from the DLL it is linked into.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace platform {
namespace {

// Any address inside the DLL, to find it by.
const char kModuleAnchor = 0;

// Called once, while the loader runs the DLL's static initialisers on its
// first load; the loader's lock, held then, is the calling thread's own.
bool PinThisModule() {
  HMODULE self = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&kModuleAnchor), &self) != 0;
}

[[maybe_unused]] const bool kPinned = PinThisModule();

}  // namespace
}  // namespace platform
