// State of the test seams, as the platform implementation reads it. In the
// unit tests' copy of the platform layer (VESTRIX_TEST_SEAMS) it comes from the
// setters in test_seams.h; in the plug-in every answer is "nothing installed",
// known at compile time. Private to platform/.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/test_seams.h"

namespace platform::seam_state {

#if defined(VESTRIX_TEST_SEAMS)

// Reads the installed local time into `*time`; false when none is installed.
bool LocalTime(platform::LocalTime* time);

// True once per FailNextThreadStart call: the start being made must fail.
bool TakeThreadStartFailure();

// True while HoldThreadStarts is in force: a start reports success and starts
// nothing.
bool ThreadStartsHeld();

// True while SkipPauses is in force: SleepMilliseconds only yields and returns.
bool PausesSkipped();

// The installed library table's answers. Each returns false when no table is
// installed or the name or handle is not the table's, and the loader serves
// the call; true when the table has answered through `*result` or by `close`.
bool TableOpen(const char* name, Library** result);
bool TableFind(Library* library, const char* symbol, Symbol* result);
bool TableClose(Library* library);

// The installed speaker answer: 0 none (use the real device), 1 readable, 2
// cannot be read. `*value` is filled for 1.
int SpeakerConfig(std::uint32_t* value);

// Calls the installed speaker query hook, if any; at the start of every query.
void SpeakerQueryBegins();

#if defined(_WIN32)
// The installed DirectSound object factory; null when none is installed.
seam::SoundCreateFunction SoundCreate();
// True while the loader is to count as one without the safe search flags.
bool OldLoader();
// The installed program directory; null when none is installed.
const char* ProgramDirectory();
#endif

#else

inline bool LocalTime(platform::LocalTime*) {
  return false;
}
inline bool TakeThreadStartFailure() {
  return false;
}
inline bool ThreadStartsHeld() {
  return false;
}
inline bool PausesSkipped() {
  return false;
}
inline bool TableOpen(const char*, Library**) {
  return false;
}
inline bool TableFind(Library*, const char*, Symbol*) {
  return false;
}
inline bool TableClose(Library*) {
  return false;
}
inline int SpeakerConfig(std::uint32_t*) {
  return 0;
}
inline void SpeakerQueryBegins() {}
#if defined(_WIN32)
inline seam::SoundCreateFunction SoundCreate() {
  return nullptr;
}
inline bool OldLoader() {
  return false;
}
inline const char* ProgramDirectory() {
  return nullptr;
}
#endif

#endif

}  // namespace platform::seam_state
