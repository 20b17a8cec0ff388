// The panel emulator as a library: it stands in for the panel vendor's library
// under the same file name, offers the vendor's six functions, and keeps a model
// of the panel from the packets it receives. The reading functions of
// panel_api.h give hosts a consistent copy of that model. One lock serialises
// everything: the plug-in sends packets from its host thread and its icon
// thread at the same time. On Windows the library also shows the panel in a
// window of its own (window_win32.cpp), whose thread takes the lock only to
// copy the state.
//
// On Windows the library stays loaded from its first load until the process
// ends (vestrix_pin_at_first_load): a host that loads and frees it once per
// session of the plug-in then finds the panel as the last session left it,
// as a real panel would be; VxPanel_Reset puts it back to its power-on state.
//
// The state outlives every caller in the process. It is made when the library
// loads and given back only when the library is unloaded while the process
// goes on (dlclose, or FreeLibrary should the pin have failed); no C++ runtime
// destructor touches it at the end of the process, where a host may still
// call in, for instance to close its plug-in from a static destructor of its
// own, after this library's static objects would have been destroyed.
// Natively the state is given back by a finaliser, which at the end of the
// process runs after every static destructor; a call that still comes after it
// finds the panel gone and does nothing.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <thread>
#endif

#include "emulator/commands.h"
#include "emulator/model.h"
#include "emulator/panel_api.h"
#include "emulator/window.h"
#include "plugin/vendor_functions.h"

namespace {

// The calling thread's identity. On Windows the system's thread identifier:
// MinGW's std::this_thread::get_id asks its thread library, which for a thread
// it did not start duplicates that thread's handle and keeps it, so a host that
// loads and unloads this library once per session of the plug-in would lose
// two handles each time (its own thread's and the icon thread's).
#if defined(_WIN32)
using ThreadKey = DWORD;
ThreadKey CurrentThreadKey() {
  return GetCurrentThreadId();
}
#else
using ThreadKey = std::thread::id;
ThreadKey CurrentThreadKey() {
  return std::this_thread::get_id();
}
#endif

// Everything the library knows of the panel.
struct Emulation {
  emulator::PanelModel model;
  std::map<ThreadKey, std::uint32_t> threads;
  // Counts every change of the model, resets included, for the window.
  std::uint64_t version = 0;
  // When the last clock packet (command 0x50) arrived: the panel's clock runs
  // on from then, in the window.
  std::chrono::steady_clock::time_point clock_set{};
};

// The lock, made when the library loads and destroyed only with the emulation
// at its unload, so that it serves every caller up to the end of the process.
// (A static std::mutex would be destroyed with the other static objects, at
// least with MinGW's thread library.)
alignas(std::mutex) unsigned char g_lock_storage[sizeof(std::mutex)];
std::mutex* const g_mutex = new (g_lock_storage) std::mutex();

// The emulation, in storage that nothing destroys but ReleaseEmulation. Null
// before the library has loaded and after it has been released. Needs g_mutex.
alignas(Emulation) unsigned char g_storage[sizeof(Emulation)];
Emulation* g_emulation = nullptr;

[[maybe_unused]] const bool kEmulationMade = (g_emulation = new (g_storage) Emulation(), true);

// Gives the emulation back; later calls find the panel gone.
void ReleaseEmulation() {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation != nullptr) {
    g_emulation->~Emulation();
    g_emulation = nullptr;
  }
}

// A small number for the calling thread, in the order threads were first seen.
// Needs g_mutex and the emulation.
std::uint32_t CallingThread() {
  auto& threads = g_emulation->threads;
  const auto [slot, added] =
      threads.try_emplace(CurrentThreadKey(), static_cast<std::uint32_t>(threads.size() + 1));
  (void)added;
  return slot->second;
}

bool ReadChangedState(std::uint64_t* version, VxPanelState* state,
                      std::chrono::steady_clock::time_point* clock_set) {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr || *version == g_emulation->version) {
    return false;
  }
  *version = g_emulation->version;
  *state = g_emulation->model.State();
  *clock_set = g_emulation->clock_set;
  return true;
}

}  // namespace

extern "C" {

// The vendor's functions. The panel is always present: iMONVFD_Init answers 1
// unless a host has chosen otherwise with VxPanel_SetInitAnswer.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int first, int second) {
  emulator::OpenWindow(ReadChangedState);
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  return g_emulation->model.ApplyInit(first, second, CallingThread());
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_Uninit() {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  g_emulation->model.ApplyUninit(CallingThread());
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_IsInited() {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  g_emulation->model.RecordCall(kVxPanelIsInited, CallingThread());
  return g_emulation->model.State().inited;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetText(const char* /*first*/, const char* /*second*/) {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  g_emulation->model.RecordCall(kVxPanelSetText, CallingThread());
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetEQ(const int* /*bands*/) {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  g_emulation->model.RecordCall(kVxPanelSetEQ, CallingThread());
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* packet) {
  if (packet == nullptr) {
    return 0;
  }
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return 0;
  }
  ++g_emulation->version;
  g_emulation->model.ApplyPacket(packet, CallingThread());
  if (packet[emulator::kCommandOffset] == emulator::kCommandClock) {
    g_emulation->clock_set = std::chrono::steady_clock::now();
  }
  return 1;
}

// The reading interface.
std::uint32_t VxPanel_ApiVersion() {
  return kVxPanelApiVersion;
}

bool VxPanel_GetState(VxPanelState* state, std::size_t size) {
  if (state == nullptr || size != sizeof(VxPanelState)) {
    return false;
  }
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation == nullptr) {
    return false;
  }
  *state = g_emulation->model.State();
  return true;
}

bool VxPanel_GetLogEntry(std::uint64_t sequence, VxPanelLogEntry* entry, std::size_t size) {
  if (entry == nullptr || size != sizeof(VxPanelLogEntry)) {
    return false;
  }
  const std::lock_guard<std::mutex> lock(*g_mutex);
  return g_emulation != nullptr && g_emulation->model.LogEntry(sequence, entry);
}

void VxPanel_Reset() {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation != nullptr) {
    ++g_emulation->version;
    g_emulation->model.Reset();
    g_emulation->threads.clear();
  }
}

void VxPanel_SetInitAnswer(std::int32_t answer) {
  const std::lock_guard<std::mutex> lock(*g_mutex);
  if (g_emulation != nullptr) {
    g_emulation->model.SetInitAnswer(answer);
  }
}

bool VxPanel_GetWindowInfo(VxPanelWindowInfo* info, std::size_t size) {
  if (info == nullptr || size != sizeof(VxPanelWindowInfo)) {
    return false;
  }
  emulator::GetWindowInfo(info);
  return true;
}

void VxPanel_HoldWindowPainting(std::uint32_t hold) {
  emulator::HoldWindowPainting(hold != 0);
}

}  // extern "C"

#if defined(_WIN32)

// The library is pinned as it first loads (vestrix_pin_at_first_load), so
// FreeLibrary never unloads it; only if that failed does `reserved` come null
// here, and the emulation and its lock's own resources go with the library.
// No other thread calls in then: a host's calls have returned. The records
// that the runtimes linked into the library keep of the threads that used it
// stay with those threads until they end, as they must: no slot of
// thread-local storage is freed here. At the end of the process (`reserved`
// set) nothing is given back, since other libraries may still call in.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    ReleaseEmulation();
    std::destroy_at(g_mutex);
  }
  return TRUE;
}

#else

namespace {

// Runs when the library is unloaded and, at the end of the process, after
// every static destructor.
__attribute__((destructor)) void ReleaseAtUnload() {
  ReleaseEmulation();
}

}  // namespace

#endif
