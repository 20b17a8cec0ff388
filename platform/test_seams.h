// Test seams of the platform layer: deterministic replacements for the clock,
// the thread start, the pauses, the vendor library's loading and the speaker
// query. They exist only in the copy of the platform layer built for the unit
// tests and the fuzzer (VESTRIX_TEST_SEAMS); the plug-in itself has none.
// Each call replaces the previous setting; null / false restores the real
// service.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::seam {

// GetLocalTime answers `*time` instead of the clock while set.
void SetLocalTime(const LocalTime* time);

// The next StartThread fails without starting anything.
void FailNextThreadStart();

// While held, StartThread reports success without starting anything, and
// ReleaseThread has nothing to wait for: a test then runs the thread's work
// itself, one step at a time.
void HoldThreadStarts(bool held);

// While set, SleepMilliseconds only yields the processor and returns: the
// plug-in's fixed pauses (the half second of Done, for one) are taken out, for
// runs at full speed. Waits on another thread (WaitForWake) are unchanged.
void SkipPauses(bool skip);

// A library served from inside the test program in place of the loader: while
// a table is installed, OpenLibrary of its plain `name` answers `handle`, or
// null when `open` answers false (the library counts as not found), without
// any search; FindSymbol on `handle` answers `find(symbol)`, and CloseLibrary
// of `handle` calls `close`. Every other name and handle goes to the loader.
// The table must outlive its installation; null uninstalls it.
struct LibraryTable {
  const char* name;
  Library* handle;
  bool (*open)();
  Symbol (*find)(const char* symbol);
  void (*close)();
};
void SetLibraryTable(const LibraryTable* table);

// ReadSpeakerConfig answers `value` (readable) or "cannot be read".
void SetSpeakerConfig(bool readable, std::uint32_t value);
void ClearSpeakerConfig();

// Every ReadSpeakerConfig first calls `hook` on the thread that asks (the icon
// thread), before it answers as it otherwise would. A hook that blocks makes
// the speaker query hang, as with an audio driver that does not answer. Null
// removes it.
void SetSpeakerQueryHook(void (*hook)());

#if defined(_WIN32)
// Windows: while set, ReadSpeakerConfig obtains its DirectSound object from
// `create` instead of dsound.dll's DirectSoundCreate8, with the same arguments
// (device identifier, where to store the object, aggregating object) and the
// same meaning of the result (0 = created). The object stored must be laid out
// as a COM object with the IDirectSound8 method table; ReadSpeakerConfig calls
// its GetSpeakerConfig and Release as it would on the real one. Only
// ReadSpeakerConfig's installed answer (SetSpeakerConfig) takes precedence.
using SoundCreateFunction = std::int32_t (*)(const void* device, void** sound, void* outer);
void SetSoundCreate(SoundCreateFunction create);

// Windows: while set, the system's library loader counts as one that lacks
// the safe search flags (no AddDllDirectory in kernel32), as on Windows XP and
// on Vista or 7 without the loader update.
void PretendOldLoader(bool old);

// Windows: while set, `directory` (without a trailing separator) counts as the
// directory of the running program, where OpenLibrary looks first for plain
// library names. Null restores the real one.
void SetProgramDirectory(const char* directory);
#endif

}  // namespace platform::seam
