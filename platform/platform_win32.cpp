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

#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/platform.h"
#include "platform/seams.h"

namespace platform {

const char kVendorLibraryName[] = "sg_vfd.dll";

namespace {

HANDLE g_icon_mutex = nullptr;

// The icon thread: its body (the same at every start; atomic because a thread
// that has not begun yet may read it while a later start writes it) and its
// handle. The wake event is auto-reset: a Wake releases exactly one wait, also
// one that starts later.
std::atomic<void (*)(std::uint32_t)> g_body{nullptr};
HANDLE g_thread = nullptr;
HANDLE g_wake_event = nullptr;

// Any address inside this module, to find the module by.
const char kModuleAnchor = 0;

// This module's handle; with `take_reference` one more reference to it is
// taken, as a load would take one. Null when it cannot be had.
HMODULE ThisModule(bool take_reference) {
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                      (take_reference ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
  HMODULE self = nullptr;
  return GetModuleHandleExA(flags, &kModuleAnchor, &self) != 0 ? self : nullptr;
}

unsigned __stdcall ThreadTrampoline(void* argument) {
  // The argument is handed over as a data pointer because the thread start takes one.
  g_body.load()(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(argument)));
  // Gives back the module reference that StartThread took for this thread and
  // ends the thread, both in the system's code: once the reference is given
  // back, this module may be gone, so no code of it may run any more.
  if (HMODULE self = ThisModule(false); self != nullptr) {
    FreeLibraryAndExitThread(self, 0);
  }
  return 0;
}

Library* FromModule(HMODULE module) {
  return reinterpret_cast<Library*>(module);
}
HMODULE ToModule(Library* library) {
  return reinterpret_cast<HMODULE>(library);
}

bool IsPlainName(const char* name) {
  return std::strpbrk(name, "\\/:") == nullptr;
}

// Writes "<directory>\<name>" into `path`; false when it does not fit.
bool JoinPath(const char* directory, std::size_t length, const char* name, char* path,
              std::size_t size) {
  const std::size_t name_length = std::strlen(name);
  if (length == 0 || length + 1 + name_length >= size) {
    return false;
  }
  std::memmove(path, directory, length);
  path[length] = '\\';
  std::memcpy(path + length + 1, name, name_length + 1);
  return true;
}

// The full path that file `name` has in the directory of the running program.
bool PathBesideProgram(const char* name, char* path, std::size_t size) {
  if (const char* installed = seam_state::ProgramDirectory(); installed != nullptr) {
    return JoinPath(installed, std::strlen(installed), name, path, size);
  }
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) {
    return false;  // failed, or cut short
  }
  const char* separator = std::strrchr(program, '\\');
  return separator != nullptr &&
         JoinPath(program, static_cast<std::size_t>(separator - program), name, path, size);
}

// Loads a library of the system from the system directory only, never from the
// host's own directories. Systems whose loader lacks the safe search flags
// (before the loader update of Windows 7, and XP) get its full path instead.
HMODULE LoadSystemLibrary(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const bool flags_known = !seam_state::OldLoader() && kernel != nullptr &&
                           GetProcAddress(kernel, "AddDllDirectory") != nullptr;
  if (flags_known) {
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  char directory[MAX_PATH];
  const UINT length = GetSystemDirectoryA(directory, sizeof directory);
  char path[MAX_PATH];
  if (length == 0 || length >= sizeof directory ||
      !JoinPath(directory, length, name, path, sizeof path)) {
    return nullptr;
  }
  // Its own dependencies are then looked for in its directory first too.
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
  if (Library* library = nullptr; seam_state::TableOpen(name, &library)) {
    return library;
  }
  // A plain name is first looked for beside the program, by full path, so that
  // a file of that name planted in the current directory or on the PATH is not
  // found instead of it, nor a module of that name that happens to be loaded.
  // A file there is used or nothing is: one that cannot be loaded (of the
  // other width, or damaged) fails the load rather than send the search on to
  // those directories. Only when no such file is there does the plain search
  // run, as installations that keep the library elsewhere rely on.
  char path[MAX_PATH];
  if (IsPlainName(name) && PathBesideProgram(name, path, sizeof path)) {
    const DWORD attributes = GetFileAttributesA(path);
    const DWORD error = GetLastError();
    if (attributes == INVALID_FILE_ATTRIBUTES && error != ERROR_FILE_NOT_FOUND &&
        error != ERROR_PATH_NOT_FOUND) {
      return nullptr;  // there may be a file there, which cannot even be looked at
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return FromModule(LoadLibraryA(path));
    }
  }
  return FromModule(LoadLibraryA(name));
}

Symbol FindSymbol(Library* library, const char* name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  if (Symbol symbol = nullptr; seam_state::TableFind(library, name, &symbol)) {
    return symbol;
  }
  return reinterpret_cast<Symbol>(GetProcAddress(ToModule(library), name));
}

void CloseLibrary(Library* library) {
  if (library != nullptr && !seam_state::TableClose(library)) {
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

bool StartThread(void (*body)(std::uint32_t), std::uint32_t argument) {
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
  HMODULE self = ThisModule(true);
  if (self == nullptr) {
    return false;
  }
  g_body.store(body);
  // _beginthreadex rather than _beginthread: its handle stays valid after the
  // thread has ended, so ReleaseThread can test it without a race.
  const std::uintptr_t handle =
      _beginthreadex(nullptr, 0, ThreadTrampoline,
                     reinterpret_cast<void*>(static_cast<std::uintptr_t>(argument)), 0, nullptr);
  if (handle == 0) {
    FreeLibrary(self);
    return false;
  }
  g_thread = reinterpret_cast<HANDLE>(handle);
  return true;
}

bool ThreadEnded() {
  return g_thread != nullptr && WaitForSingleObject(g_thread, 0) == WAIT_OBJECT_0;
}

bool ReleaseThread(std::uint32_t milliseconds) {
  if (g_thread == nullptr) {
    return true;
  }
  const bool ended = WaitForSingleObject(g_thread, milliseconds) == WAIT_OBJECT_0;
  CloseHandle(g_thread);
  g_thread = nullptr;
  return ended;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  if (seam_state::PausesSkipped()) {
    // Other threads that are ready still get the processor: a wait for one of
    // them (WaitUntil) must not keep it from running.
    SwitchToThread();
    return;
  }
  Sleep(milliseconds);
}

std::uint32_t TickMilliseconds() {
  // GetTickCount rather than its 64-bit sibling, which older systems lack.
  return GetTickCount();
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
  seam_state::SpeakerQueryBegins();
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
  HMODULE dsound = LoadSystemLibrary("dsound.dll");
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

// The library entry routine answers every notification with success. When the
// module is unloaded by FreeLibrary (`reserved` null) it closes the icon mutex
// and the wake event of the icon thread, so that a host that loads and frees
// the plug-in as it switches displays keeps no handle of it: no icon thread
// runs then, since each holds a reference to the module while it runs, and
// the host's own calls have all returned. At the end of the process (`reserved`
// set) the system takes them back itself, and nothing is done.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    for (HANDLE* handle : {&platform::g_icon_mutex, &platform::g_wake_event}) {
      if (*handle != nullptr) {
        CloseHandle(*handle);
        *handle = nullptr;
      }
    }
  }
  return TRUE;
}
