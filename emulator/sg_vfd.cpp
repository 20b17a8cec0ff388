// The panel emulator as a library: it stands in for the panel vendor's library
// under the same file name, offers the vendor's six functions, and keeps a model
// of the panel from the packets it receives. The reading functions of
// panel_api.h give hosts a consistent copy of that model. One lock serialises
// everything: the plug-in sends packets from its host thread and its icon
// thread at the same time. On Windows the library also shows the panel in a
// window of its own (window_win32.cpp), whose thread takes the lock only to
// copy the state.
#include <chrono>
#include <map>
#include <mutex>
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

#if defined(__i386__)
#define VENDOR_CALL __stdcall
#else
#define VENDOR_CALL
#endif

#if defined(_WIN32)
#define VENDOR_EXPORT __declspec(dllexport)
#else
#define VENDOR_EXPORT __attribute__((visibility("default")))
#endif

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

std::mutex g_mutex;
emulator::PanelModel g_model;
std::map<ThreadKey, std::uint32_t> g_threads;
// Counts every change of the model, resets included, for the window.
std::uint64_t g_version = 0;
// When the last clock packet (command 0x50) arrived: the panel's clock runs on
// from then, in the window.
std::chrono::steady_clock::time_point g_clock_set{};

// A small number for the calling thread, in the order threads were first seen.
// Needs g_mutex.
std::uint32_t CallingThread() {
  const auto [slot, added] =
      g_threads.try_emplace(CurrentThreadKey(), static_cast<std::uint32_t>(g_threads.size() + 1));
  (void)added;
  return slot->second;
}

bool ReadChangedState(std::uint64_t* version, VxPanelState* state,
                      std::chrono::steady_clock::time_point* clock_set) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  if (*version == g_version) {
    return false;
  }
  *version = g_version;
  *state = g_model.State();
  *clock_set = g_clock_set;
  return true;
}

}  // namespace

extern "C" {

// The vendor's functions. The panel is always present: iMONVFD_Init answers 1
// unless a host has chosen otherwise with VxPanel_SetInitAnswer.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int first, int second) {
  emulator::OpenWindow(ReadChangedState);
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  return g_model.ApplyInit(first, second, CallingThread());
}

VENDOR_EXPORT void VENDOR_CALL iMONVFD_Uninit() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.ApplyUninit(CallingThread());
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_IsInited() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.RecordCall(kVxPanelIsInited, CallingThread());
  return g_model.State().inited;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetText(const char* /*first*/, const char* /*second*/) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.RecordCall(kVxPanelSetText, CallingThread());
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetEQ(const int* /*bands*/) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.RecordCall(kVxPanelSetEQ, CallingThread());
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* packet) {
  if (packet == nullptr) {
    return 0;
  }
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.ApplyPacket(packet, CallingThread());
  if (packet[emulator::kCommandOffset] == emulator::kCommandClock) {
    g_clock_set = std::chrono::steady_clock::now();
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
  const std::lock_guard<std::mutex> lock(g_mutex);
  *state = g_model.State();
  return true;
}

bool VxPanel_GetLogEntry(std::uint64_t sequence, VxPanelLogEntry* entry, std::size_t size) {
  if (entry == nullptr || size != sizeof(VxPanelLogEntry)) {
    return false;
  }
  const std::lock_guard<std::mutex> lock(g_mutex);
  return g_model.LogEntry(sequence, entry);
}

void VxPanel_Reset() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  ++g_version;
  g_model.Reset();
  g_threads.clear();
}

void VxPanel_SetInitAnswer(std::int32_t answer) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_model.SetInitAnswer(answer);
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
