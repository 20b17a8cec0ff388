// Plug-in flags set by a start of the plug-in and read by other parts: the
// screen mode, the shutdown mode and the audio option. Written only by the
// host's thread, before the icon thread starts.
#pragma once

#include <cstdint>

namespace plugin {

// 2 = two text lines in the small font, 1 = one line in the large font; 0 until
// the first start that passes the size check.
extern std::uint8_t ScreenMode;

// Shutdown mode: clock = DisplayClockOnExit alone, off = DisplayOffOnExit
// alone, message = neither.
extern bool DisplayClockOnExit;
extern bool DisplayOffOnExit;

// The "audio" option: the icon thread keeps the speaker-layout icons current.
extern bool AutoAudioDisplay;

}  // namespace plugin
