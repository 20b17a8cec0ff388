// The few operating-system services the plug-in uses, as plain free functions.
// Exactly one implementation is compiled: platform_win32.cpp, platform_posix.cpp
// or, for the panel page in the browser, platform_wasm.cpp.
// Host-side services for tools and tests are in host.h, test seams in
// test_seams.h; neither is part of the plug-in.
#pragma once

#include <cstdint>

namespace platform {

// ---------------------------------------------------------------------------
// Run-time loaded libraries
// ---------------------------------------------------------------------------

// An opaque handle of a loaded library; null means "not loaded".
struct Library;

// A resolved function address, of no particular type: Resolve below gives it
// the type the caller expects. The plug-in's calls into the vendor library
// (plugin/vendor.cpp) keep the bare address and make the call themselves.
using Symbol = void (*)();

// File name under which the panel vendor's library is loaded: "sg_vfd.dll" on
// Windows, "libsg_vfd.so" on POSIX, "sg_vfd" for the one bound into a
// WebAssembly program.
extern const char kVendorLibraryName[];

#if !defined(_WIN32)
// POSIX: the environment variable naming a directory that OpenLibrary searches
// first for plain file names, as Windows searches the DLL directory.
inline constexpr char kLibraryDirVariable[] = "VESTRIX_LIBRARY_DIR";
#endif

#if defined(__EMSCRIPTEN__)
// WebAssembly has no library loader: the vendor library is bound into the
// program, which names its functions in this table, ended by an entry whose
// name is null. OpenLibrary(kVendorLibraryName) opens it.
struct BoundFunction {
  const char* name;
  Symbol address;
};
extern const BoundFunction kBoundVendorFunctions[];
#endif

// Loads a library by plain file name through the platform's library search, or
// by path. Returns null when it cannot be loaded. On Windows a plain name is
// looked for beside the program first: a file of that name there is loaded
// by its full path or nothing is, and the search, which also looks in the
// current directory and along the PATH, runs only when no such file is there.
// Any thread.
Library* OpenLibrary(const char* name);

// Resolves an exported function by name; null when the library lacks it.
Symbol FindSymbol(Library* library, const char* name);

// Resolves an exported function by name into `*slot` as the function type the
// caller expects, or null when the library lacks it; says whether it was found.
// The one place where a symbol is cast to a function type: the library must
// export `name` with that type, which nothing here can check.
template <typename Function>
bool Resolve(Library* library, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(FindSymbol(library, name));
  return *slot != nullptr;
}

// Releases one reference taken by OpenLibrary. A null library is ignored.
void CloseLibrary(Library* library);

// ---------------------------------------------------------------------------
// The icon mutex: one process-wide, non-recursive lock guarding the icon masks.
// ---------------------------------------------------------------------------

// Creates the mutex; called once by a static initialiser when the module loads.
// It lives as long as the module: on Windows it is closed when FreeLibrary
// unloads the module (a host may load and free the plug-in many times).
void CreateIconMutex();
// Takes the mutex, waiting as long as it takes.
void LockIconMutex();
// Gives the mutex back; only the thread that took it may call this.
void UnlockIconMutex();

// ---------------------------------------------------------------------------
// The icon thread: at most one background thread at a time.
// ---------------------------------------------------------------------------

// Starts `body(argument)` on a new thread with the default stack size. The
// thread holds a reference to the module this code lives in from before it
// starts until it has ended, so a host that unloads the plug-in without closing
// it leaves a running thread behind, not code pulled out from under one. The
// thread gives the reference back itself as it ends, whether anybody waits for
// it or not, after the last of its code in the module has run: on Windows with
// FreeLibraryAndExitThread, on POSIX through the C library's list of what a
// thread calls after its own code has returned (glibc's, which the C++
// runtime also uses for thread_local destructors). A module whose host has let
// go of it is thus unloaded as soon as its last thread has ended.
// Returns false when the thread could not be started.
// POSIX: a child that a host makes with fork() while the thread runs has no
// such thread, and any lock that the thread or the vendor library held at the
// fork stays held there; no handler at the fork could repair the vendor
// library's own. So a host must not call the plug-in in that child (the README
// says so): there ReleaseThread waits its whole bound for a thread that cannot
// end, and the module reference that the thread held is never given back.
bool StartThread(void (*body)(std::uint32_t), std::uint32_t argument);

#if defined(__EMSCRIPTEN__)
// WebAssembly, without threads: StartThread starts none, and from then until
// ReleaseThread this is true, and the program does the thread's work in its
// place (the panel page runs the icon refresh cycle every 500 ms).
bool ThreadStarted();
#endif

// True once the thread started by StartThread has ended, also when it was ended
// from outside, as Windows ends every other thread of a process that exits.
// False when no thread was started.
bool ThreadEnded();

// Lets go of the thread started by StartThread: waits up to `milliseconds` for
// it to end, then forgets it. Returns whether it has ended; one that has not
// goes on by itself, and the system frees what it holds when it ends. Returns
// true at once when no thread was started. Only the host's thread calls this.
bool ReleaseThread(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

// Suspends the calling thread for about `milliseconds`.
void SleepMilliseconds(std::uint32_t milliseconds);

// Pause that another thread can cut short: WaitForWake returns after
// `milliseconds` or as soon as Wake has been called, whichever is first, and
// then forgets the wake. A Wake that comes before the wait makes it return at
// once. Used by the icon thread so that it ends promptly when told to.
void WaitForWake(std::uint32_t milliseconds);
void Wake();

// A millisecond count that only ever moves forward at the pace of real time,
// whatever happens to the wall clock; it wraps around after about 49 days, so
// only differences of two readings mean anything.
std::uint32_t TickMilliseconds();

// Tests `condition` (a function or any callable answering true or false) until
// it holds or `milliseconds` have passed, pausing briefly between tests;
// returns its last answer. For short waits on another thread's progress that
// must never hang the caller.
template <typename Condition>
bool WaitUntil(Condition condition, std::uint32_t milliseconds) {
  const std::uint32_t start = TickMilliseconds();
  while (!condition()) {
    if (TickMilliseconds() - start >= milliseconds) {
      return condition();
    }
    SleepMilliseconds(1);
  }
  return true;
}

// Local calendar date and time of the machine.
struct LocalTime {
  std::uint16_t year;   // full year, e.g. 2011
  std::uint8_t month;   // 1..12
  std::uint8_t day;     // 1..31
  std::uint8_t hour;    // 0..23
  std::uint8_t minute;  // 0..59
  std::uint8_t second;  // 0..59
};
LocalTime GetLocalTime();

// ---------------------------------------------------------------------------
// Audio
// ---------------------------------------------------------------------------

// Reads the speaker configuration of the default playback device, as the
// DirectSound speaker configuration value (DSSPEAKER_* numbering, geometry in
// bits 16..23). Returns false when it cannot be read. On Windows each call
// creates and releases its own DirectSound object; on POSIX it cannot be read
// (unless a test build has installed a value, see test_seams.h).
bool ReadSpeakerConfig(std::uint32_t* value);

}  // namespace platform
