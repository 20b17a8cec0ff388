// The command packet: a 64-bit value with the command byte in bits 56..63 and
// seven data bytes below it, handed to the panel as its eight bytes in memory,
// least significant first (data bytes 0..6, then the command byte).
#pragma once

#include <array>
#include <cstdint>

namespace panel {

using Packet = std::uint64_t;

// Command bytes the plug-in sends.
inline constexpr std::uint8_t kIcons = 0x01;
inline constexpr std::uint8_t kCommand02 = 0x02;
inline constexpr std::uint8_t kContrast = 0x03;
inline constexpr std::uint8_t kCommand10 = 0x10;
inline constexpr std::uint8_t kCommand11 = 0x11;
inline constexpr std::uint8_t kCommand12 = 0x12;
inline constexpr std::uint8_t kPixelsFirst = 0x20;  // 0x20..0x3B: the 28 pixel packets
inline constexpr std::uint8_t kPixelsLast = 0x3B;
inline constexpr std::uint8_t kModeAndClock = 0x50;
inline constexpr std::uint8_t kCommand51 = 0x51;

// Mode values of the 0x50 packet.
inline constexpr std::uint8_t kModeReset = 0x40;
inline constexpr std::uint8_t kModeClock = 0x80;
inline constexpr std::uint8_t kModeOff = 0x08;

// A packet from its command byte and up to seven data bytes (missing ones 0).
constexpr Packet MakePacket(std::uint8_t command, std::array<std::uint8_t, 7> data = {}) {
  Packet packet = static_cast<Packet>(command) << 56;
  for (unsigned i = 0; i < data.size(); ++i) {
    packet |= static_cast<Packet>(data[i]) << (8 * i);
  }
  return packet;
}

// The eight bytes of a packet as the panel receives them.
constexpr std::array<std::uint8_t, 8> PacketBytes(Packet packet) {
  std::array<std::uint8_t, 8> bytes{};
  for (unsigned i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(packet >> (8 * i));
  }
  return bytes;
}

static_assert(PacketBytes(MakePacket(kContrast, {10}))[0] == 10);
static_assert(PacketBytes(MakePacket(kContrast, {10}))[7] == kContrast);
static_assert(MakePacket(kIcons) == 0x0100000000000000ull);

}  // namespace panel
