// POSIX implementation of the platform layer: dlopen for libraries, pthreads for
// the icon thread and its mutex, localtime_r for the clock. Used by the native
// Linux build, which serves tests, sanitizers and the developer tools.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/seams.h"

// The C library's list of functions that a thread calls as it ends, after its
// own code has returned (glibc 2.18 and later; the C++ runtime keeps the
// destructors of thread_local objects there). `dso_symbol` is an address in
// the object that the entry belongs to, which stays loaded until it has run.
extern "C" int __cxa_thread_atexit_impl(void (*function)(void*), void* object, void* dso_symbol);

namespace platform {

// The panel vendor's library as a shared object; a user puts it where the
// dynamic linker finds it, or in the directory named by VESTRIX_LIBRARY_DIR.
const char kVendorLibraryName[] = "libsg_vfd.so";

namespace {

pthread_mutex_t g_icon_mutex = PTHREAD_MUTEX_INITIALIZER;

// The icon thread: its body and the reference to this module that it holds
// while it runs (each the same at every start; atomic because a thread that
// has not begun yet may read them while a later start writes them), and the
// thread now running.
std::atomic<void (*)(std::uint32_t)> g_body{nullptr};
std::atomic<void*> g_thread_module{nullptr};
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

void* ThreadTrampoline(void* argument) {
  // The thread gives back the module reference that StartThread took for it
  // as it ends, whether joined or not, as the Windows build does with
  // FreeLibraryAndExitThread. It cannot call dlclose itself: once the
  // reference is back, the module may be unmapped, and no code of it may run
  // any more, not even a return. So dlclose itself goes on the C library's
  // list of what the thread calls after its own code has returned, on behalf
  // of the C library (the address given is dlclose's, never unloaded), so that
  // the entry holds up nothing else. Registering takes the dynamic linker's
  // lock: a thread started while the host holds it (from a library's
  // constructor or destructor) begins once the host lets it go.
  if (void* module = g_thread_module.load(); module != nullptr) {
    const auto give_back = reinterpret_cast<void (*)(void*)>(reinterpret_cast<Symbol>(&dlclose));
    __cxa_thread_atexit_impl(give_back, module, reinterpret_cast<void*>(&dlclose));
  }
  // The argument is handed over as a data pointer because pthread_create takes one.
  g_body.load()(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(argument)));
  return nullptr;
}

// A reference to the shared object this code lives in, taken as dlopen takes
// one; null when the code is part of the program itself, which is never
// unloaded.
void* TakeModuleReference() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&g_thread_started), &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

void GiveModuleReference(void* module) {
  if (module != nullptr) {
    dlclose(module);
  }
}

bool JoinedNow() {
  return pthread_tryjoin_np(g_thread, nullptr) == 0;
}

// The time `milliseconds` from now on the monotonic clock.
timespec DeadlineAfter(std::uint32_t milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
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
  if (Library* library = nullptr; seam_state::TableOpen(name, &library)) {
    return library;
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
  if (Symbol symbol = nullptr; seam_state::TableFind(library, name, &symbol)) {
    return symbol;
  }
  return reinterpret_cast<Symbol>(dlsym(library, name));
}

void CloseLibrary(Library* library) {
  if (library != nullptr && !seam_state::TableClose(library)) {
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

bool StartThread(void (*body)(std::uint32_t), std::uint32_t argument) {
  if (seam_state::TakeThreadStartFailure() || g_thread_started) {
    return false;
  }
  if (seam_state::ThreadStartsHeld()) {
    return true;
  }
  pthread_mutex_lock(&g_wake_mutex);
  g_wake_pending = false;
  pthread_mutex_unlock(&g_wake_mutex);
  g_body.store(body);
  // The same handle at every start, since handles of one loaded object are
  // equal; so a thread that reads it late still finds its own.
  void* module = TakeModuleReference();
  g_thread_module.store(module);
  if (pthread_create(&g_thread, nullptr, ThreadTrampoline,
                     reinterpret_cast<void*>(static_cast<std::uintptr_t>(argument))) != 0) {
    GiveModuleReference(module);
    return false;
  }
  g_thread_started = true;
  return true;
}

bool ThreadEnded() {
  // A POSIX thread ends only through its own code, or with the whole process.
  return false;
}

bool ReleaseThread(std::uint32_t milliseconds) {
  if (!g_thread_started) {
    return true;
  }
  g_thread_started = false;
  // Joins are tried against the monotonic clock, which a change of the wall
  // clock cannot stretch.
  const bool ended = WaitUntil(JoinedNow, milliseconds);
  if (!ended) {
    // It ends by itself, and the system then frees what it holds.
    pthread_detach(g_thread);
  }
  return ended;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  if (seam_state::PausesSkipped()) {
    // Other threads that are ready still get the processor: a wait for one of
    // them (WaitUntil) must not keep it from running.
    sched_yield();
    return;
  }
  timespec rest{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

std::uint32_t TickMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

void WaitForWake(std::uint32_t milliseconds) {
  pthread_cond_t* condition = WakeCondition();
  const timespec deadline = DeadlineAfter(milliseconds);
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
  seam_state::SpeakerQueryBegins();
  // POSIX has no DirectSound; only a test's installed answer can be read.
  std::uint32_t installed = 0;
  if (seam_state::SpeakerConfig(&installed) == 1) {
    *value = installed;
    return true;
  }
  return false;
}

}  // namespace platform
