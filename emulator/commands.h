// The panel's command bytes as the emulator understands them: the last byte of
// every 8-byte packet names the command, the seven bytes before it are its data.
// The emulator keeps its own table rather than the plug-in's (panel/packet.h):
// it is a second, independent reading of the panel's language, so a wrong
// command byte on the plug-in's side shows up in the tests against it instead
// of being agreed with.
#pragma once

#include <cstdint>

namespace emulator {

enum class CommandKind {
  kIcons,     // 0x01: icon segments 0..55 in data bytes 0..6
  kContrast,  // 0x03: contrast level in data byte 0
  kPixels,    // 0x20..0x3B: seven consecutive bytes of the 192-byte picture
  kClock,     // 0x50: mode value, then year mod 256, month, day, hour, minute, second
  kEvent,     // 0x02, 0x10, 0x11, 0x12, 0x51: no data, recorded as events
  kUnknown,   // anything else: counted and reported
};

inline constexpr std::uint8_t kCommandIcons = 0x01;
inline constexpr std::uint8_t kCommandContrast = 0x03;
inline constexpr std::uint8_t kCommandPixelsFirst = 0x20;
inline constexpr std::uint8_t kCommandPixelsLast = 0x3B;
inline constexpr std::uint8_t kCommandClock = 0x50;
inline constexpr std::size_t kPixelBytesPerPacket = 7;

// Offset of the command byte within a packet as received.
inline constexpr std::size_t kCommandOffset = 7;

constexpr CommandKind ClassifyCommand(std::uint8_t command) {
  switch (command) {
    case kCommandIcons:
      return CommandKind::kIcons;
    case kCommandContrast:
      return CommandKind::kContrast;
    case kCommandClock:
      return CommandKind::kClock;
    case 0x02:
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x51:
      return CommandKind::kEvent;
    default:
      break;
  }
  if (command >= kCommandPixelsFirst && command <= kCommandPixelsLast) {
    return CommandKind::kPixels;
  }
  return CommandKind::kUnknown;
}

// First picture byte carried by pixel command `command`.
constexpr std::size_t FirstPictureByte(std::uint8_t command) {
  return kPixelBytesPerPacket * static_cast<std::size_t>(command - kCommandPixelsFirst);
}

static_assert(ClassifyCommand(0x3B) == CommandKind::kPixels);
static_assert(ClassifyCommand(0x3C) == CommandKind::kUnknown);
static_assert(FirstPictureByte(0x2D) == 91);

}  // namespace emulator
