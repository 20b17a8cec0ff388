// Win32 implementation of the platform layer: the kernel's library loader, a
// kernel mutex for the icon masks, the C runtime's thread start, GetLocalTime
// and DirectSound. Also the DLL's entry routine.
// The order matters: windows.h first, then the multimedia header whose types
// the DirectSound header relies on.
// clang-format off
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
#include <process.h>
// clang-format on

#include "platform/platform.h"
#include "platform/seams.h"

// The library entry routine answers every notification with success and does
// nothing else; the only work at load is the icon mutex's static initialiser.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}

namespace platform {

const char kVendorLibraryName[] = "sg_vfd.dll";

namespace {

HANDLE g_icon_mutex = nullptr;
HANDLE g_thread = nullptr;
// Auto-reset: a Wake releases exactly one wait, also one that starts later.
HANDLE g_wake_event = nullptr;

unsigned __stdcall ThreadTrampoline(void* body) {
  // The body is handed over as a data pointer because the thread start takes one.
  reinterpret_cast<void (*)()>(body)();
  return 0;
}

Library* FromModule(HMODULE module) {
  return reinterpret_cast<Library*>(module);
}
HMODULE ToModule(Library* library) {
  return reinterpret_cast<HMODULE>(library);
}

using DirectSoundCreate8Function = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND8*, LPUNKNOWN);

// Creates a DirectSound object for the default playback device through
// `create`, asks it for its speaker configuration and releases it again,
// whatever it answered. An object that could not be created is not released.
template <typename Create>
bool QuerySpeakerConfig(Create create, std::uint32_t* value) {
  IDirectSound8* sound = nullptr;
  if (create(&sound) != DS_OK || sound == nullptr) {
    return false;
  }
  DWORD config = 0;
  const bool readable = sound->GetSpeakerConfig(&config) == DS_OK;
  sound->Release();
  if (readable) {
    *value = config;
  }
  return readable;
}

}  // namespace

Library* OpenLibrary(const char* name) {
  if (name == nullptr) {
    return nullptr;
  }
  return FromModule(LoadLibraryA(name));
}

Symbol FindSymbol(Library* library, const char* name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Symbol>(GetProcAddress(ToModule(library), name));
}

void CloseLibrary(Library* library) {
  if (library != nullptr) {
    FreeLibrary(ToModule(library));
  }
}

void CreateIconMutex() {
  if (g_icon_mutex == nullptr) {
    g_icon_mutex = CreateMutexA(nullptr, FALSE, nullptr);
  }
}

void LockIconMutex() {
  WaitForSingleObject(g_icon_mutex, INFINITE);
}

void UnlockIconMutex() {
  ReleaseMutex(g_icon_mutex);
}

bool StartThread(void (*body)()) {
  if (seam_state::TakeThreadStartFailure() || g_thread != nullptr) {
    return false;
  }
  if (seam_state::ThreadStartsHeld()) {
    return true;
  }
  if (g_wake_event == nullptr) {
    g_wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (g_wake_event == nullptr) {
      return false;
    }
  }
  ResetEvent(g_wake_event);
  // _beginthreadex rather than _beginthread: its handle stays valid after the
  // thread has ended, so JoinThread can wait on it without a race.
  const std::uintptr_t handle =
      _beginthreadex(nullptr, 0, ThreadTrampoline, reinterpret_cast<void*>(body), 0, nullptr);
  if (handle == 0) {
    return false;
  }
  g_thread = reinterpret_cast<HANDLE>(handle);
  return true;
}

void JoinThread() {
  if (g_thread != nullptr) {
    WaitForSingleObject(g_thread, INFINITE);
    CloseHandle(g_thread);
    g_thread = nullptr;
  }
  // The next start makes a new one; none is left behind when the host unloads
  // the plug-in.
  if (g_wake_event != nullptr) {
    CloseHandle(g_wake_event);
    g_wake_event = nullptr;
  }
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

void WaitForWake(std::uint32_t milliseconds) {
  if (g_wake_event == nullptr) {
    Sleep(milliseconds);
    return;
  }
  WaitForSingleObject(g_wake_event, milliseconds);
}

void Wake() {
  if (g_wake_event != nullptr) {
    SetEvent(g_wake_event);
  }
}

LocalTime GetLocalTime() {
  LocalTime result{};
  if (seam_state::LocalTime(&result)) {
    return result;
  }
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  result.year = now.wYear;
  result.month = static_cast<std::uint8_t>(now.wMonth);
  result.day = static_cast<std::uint8_t>(now.wDay);
  result.hour = static_cast<std::uint8_t>(now.wHour);
  result.minute = static_cast<std::uint8_t>(now.wMinute);
  result.second = static_cast<std::uint8_t>(now.wSecond);
  return result;
}

bool ReadSpeakerConfig(std::uint32_t* value) {
  std::uint32_t installed = 0;
  switch (seam_state::SpeakerConfig(&installed)) {
    case 1:
      *value = installed;
      return true;
    case 2:
      return false;
    default:
      break;
  }
  if (const seam::SoundCreateFunction fake = seam_state::SoundCreate(); fake != nullptr) {
    return QuerySpeakerConfig(
        [fake](IDirectSound8** sound) {
          return fake(nullptr, reinterpret_cast<void**>(sound), nullptr);
        },
        value);
  }
  // dsound.dll is loaded only for the query, so that a machine without it can
  // still load the plug-in. COM is not initialised here; DirectSoundCreate8
  // works without it.
  // From the system directory only, never from the host's own directories.
  HMODULE dsound = LoadLibraryExA("dsound.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (dsound == nullptr) {
    return false;
  }
  // Through the generic function type, which converts to and from any other.
  const auto create = reinterpret_cast<DirectSoundCreate8Function>(
      reinterpret_cast<Symbol>(GetProcAddress(dsound, "DirectSoundCreate8")));
  const bool readable =
      create != nullptr &&
      QuerySpeakerConfig(
          [create](IDirectSound8** sound) { return create(nullptr, sound, nullptr); }, value);
  FreeLibrary(dsound);
  return readable;
}

}  // namespace platform
