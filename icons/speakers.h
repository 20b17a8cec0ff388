// The speaker-layout icons: the PC's speaker configuration turned into the
// segments that show it.
#pragma once

#include <cstdint>

namespace icons {

// The speaker mask for a DirectSound speaker configuration value; only its low
// 16 bits count. 0 for a value that shows no layout.
std::uint64_t SpeakerMaskFor(std::uint32_t config);

// Reads the default playback device's speaker configuration and returns its
// speaker mask; 0 when it cannot be read. Changes no icon mask. Called by the
// icon thread's speaker poll before it takes the icon mutex, on purpose: a slow
// audio driver then never holds up the host's icon commands.
std::uint64_t GetSoundConfig();

}  // namespace icons
