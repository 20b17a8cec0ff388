// State of the test seams, shared by the seam setters and the one platform
// implementation that is compiled. Private to platform/.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace platform::seam_state {

// Reads the installed local time into `*time`; false when none is installed.
bool LocalTime(LocalTime* time);

// True once per FailNextThreadStart call: the start being made must fail.
bool TakeThreadStartFailure();

// True while HoldThreadStarts is in force: a start reports success and starts
// nothing.
bool ThreadStartsHeld();

// The installed speaker answer: 0 none (use the real device), 1 readable, 2
// cannot be read. `*value` is filled for 1.
int SpeakerConfig(std::uint32_t* value);

#if defined(_WIN32)
// The installed DirectSound object factory; null when none is installed.
seam::SoundCreateFunction SoundCreate();
#endif

}  // namespace platform::seam_state
