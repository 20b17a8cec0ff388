// The three icon masks and the thread flags, shared by the refresh thread, the
// host's icon commands and the speaker poll. Private to icons/.
#pragma once

#include <atomic>
#include <cstdint>

namespace icons {

// Bit n = icon segment n (0..55); bits 56..63 of ICON_STATUS hold the command
// byte. Guarded by the icon mutex, except while the icon thread is not running.
extern std::uint64_t ICON_STATUS;    // the picture to send next, 1 = lit
extern std::uint64_t ICON_FLASH;     // 1 = segment blinks
extern std::uint64_t ICON_SPEAKERS;  // the speaker mask ICON_STATUS shows (0 after ClearIcons)

// Written by the host's thread, read by the icon thread once a cycle.
extern std::atomic<std::uint8_t> IconThreadTerminate;
extern std::atomic<std::uint8_t> IconThreadSuspend;

// The ring: eight segments, bits 40..47, rotated by the ring animation.
inline constexpr int kRingShift = 40;
inline constexpr std::uint64_t kRingMask = 0xFFull << kRingShift;

// Animation marks: 51, 52 step the ring forward, 53, 54 backward.
inline constexpr std::uint64_t kForwardMarks = (1ull << 51) | (1ull << 52);
inline constexpr std::uint64_t kBackwardMarks = (1ull << 53) | (1ull << 54);

}  // namespace icons
