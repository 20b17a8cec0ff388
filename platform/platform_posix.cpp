// POSIX implementation of the platform layer: dlopen for libraries, pthreads for
// the icon thread and its mutex, localtime_r for the clock. Used by the native
// Linux build, which serves tests, sanitizers and the developer tools.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/seams.h"

namespace platform {

// The panel vendor's library as a shared object; a user puts it where the
// dynamic linker finds it, or in the directory named by VESTRIX_LIBRARY_DIR.
const char kVendorLibraryName[] = "libsg_vfd.so";

namespace {

pthread_mutex_t g_icon_mutex = PTHREAD_MUTEX_INITIALIZER;

pthread_t g_thread;
bool g_thread_started = false;

pthread_mutex_t g_wake_mutex = PTHREAD_MUTEX_INITIALIZER;
// Waits measure the monotonic clock, so that setting the wall clock neither
// stretches nor cuts the icon thread's pause. Initialised on first use.
pthread_cond_t g_wake_cond;
pthread_once_t g_wake_cond_once = PTHREAD_ONCE_INIT;
bool g_wake_pending = false;

void InitWakeCondition() {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&g_wake_cond, &attributes);
  pthread_condattr_destroy(&attributes);
}

pthread_cond_t* WakeCondition() {
  pthread_once(&g_wake_cond_once, InitWakeCondition);
  return &g_wake_cond;
}

void* ThreadTrampoline(void* body) {
  // The body is handed over as a data pointer because pthread_create takes one.
  reinterpret_cast<void (*)()>(body)();
  return nullptr;
}

bool IsPlainName(const char* name) {
  return std::strchr(name, '/') == nullptr;
}

Library* FromHandle(void* handle) {
  return static_cast<Library*>(handle);
}

}  // namespace

Library* OpenLibrary(const char* name) {
  if (name == nullptr) {
    return nullptr;
  }
  // The directory set by SetLibraryDirectory comes first for plain names, as the
  // DLL directory does on Windows.
  const char* directory = std::getenv(kLibraryDirVariable);
  if (IsPlainName(name) && directory != nullptr && directory[0] != '\0') {
    char path[4096];
    const int length = std::snprintf(path, sizeof path, "%s/%s", directory, name);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof path) {
      if (void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        return FromHandle(handle);
      }
    }
  }
  return FromHandle(dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

Symbol FindSymbol(Library* library, const char* name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Symbol>(dlsym(library, name));
}

void CloseLibrary(Library* library) {
  if (library != nullptr) {
    dlclose(library);
  }
}

void CreateIconMutex() {
  // Statically initialised; nothing to do at load.
}

void LockIconMutex() {
  pthread_mutex_lock(&g_icon_mutex);
}

void UnlockIconMutex() {
  pthread_mutex_unlock(&g_icon_mutex);
}

bool StartThread(void (*body)()) {
  if (seam_state::TakeThreadStartFailure() || g_thread_started) {
    return false;
  }
  if (seam_state::ThreadStartsHeld()) {
    return true;
  }
  pthread_mutex_lock(&g_wake_mutex);
  g_wake_pending = false;
  pthread_mutex_unlock(&g_wake_mutex);
  if (pthread_create(&g_thread, nullptr, ThreadTrampoline, reinterpret_cast<void*>(body)) != 0) {
    return false;
  }
  g_thread_started = true;
  return true;
}

void JoinThread() {
  if (g_thread_started) {
    pthread_join(g_thread, nullptr);
    g_thread_started = false;
  }
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

void WaitForWake(std::uint32_t milliseconds) {
  pthread_cond_t* condition = WakeCondition();
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&g_wake_mutex);
  while (!g_wake_pending) {
    if (pthread_cond_timedwait(condition, &g_wake_mutex, &deadline) == ETIMEDOUT) {
      break;
    }
  }
  g_wake_pending = false;
  pthread_mutex_unlock(&g_wake_mutex);
}

void Wake() {
  pthread_cond_t* condition = WakeCondition();
  pthread_mutex_lock(&g_wake_mutex);
  g_wake_pending = true;
  pthread_cond_signal(condition);
  pthread_mutex_unlock(&g_wake_mutex);
}

LocalTime GetLocalTime() {
  LocalTime result{};
  if (seam_state::LocalTime(&result)) {
    return result;
  }
  const time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  result.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
  result.month = static_cast<std::uint8_t>(parts.tm_mon + 1);
  result.day = static_cast<std::uint8_t>(parts.tm_mday);
  result.hour = static_cast<std::uint8_t>(parts.tm_hour);
  result.minute = static_cast<std::uint8_t>(parts.tm_min);
  // A leap second (60) is shown as 59, the panel's largest second.
  result.second = static_cast<std::uint8_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  return result;
}

bool ReadSpeakerConfig(std::uint32_t* value) {
  // POSIX has no DirectSound; only a test's installed answer can be read.
  std::uint32_t installed = 0;
  if (seam_state::SpeakerConfig(&installed) == 1) {
    *value = installed;
    return true;
  }
  return false;
}

}  // namespace platform
