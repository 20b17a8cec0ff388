// Descriptions of packets and calls for the packet log.
#include "emulator/decode.h"

#include <cstdio>

#include "emulator/commands.h"

namespace emulator {
namespace {

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

bool DataIsZero(const std::uint8_t* bytes, std::size_t from) {
  for (std::size_t i = from; i < kCommandOffset; ++i) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return true;
}

// Data bytes a command does not use should be 0; anything else is worth a note.
std::string UnusedDataNote(const std::uint8_t* bytes, std::size_t from) {
  return DataIsZero(bytes, from) ? "" : " (unused data bytes not zero)";
}

}  // namespace

int FullYear(std::uint8_t low_bits) {
  constexpr int kFirstYear = 1980;
  return kFirstYear + ((low_bits - kFirstYear % 256 + 256) % 256);
}

std::string FormatClock(const std::uint8_t* clock) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", FullYear(clock[0]), clock[1],
                clock[2], clock[3], clock[4], clock[5]);
  return text;
}

std::string FormatMode(std::uint8_t mode) {
  switch (mode) {
    case 0x40:
      return "0x40 (reset)";
    case 0x80:
      return "0x80 (clock)";
    case 0x08:
      return "0x08 (off)";
    default:
      return Hex2(mode);
  }
}

std::string SegmentList(std::uint64_t segments) {
  std::string text;
  unsigned n = 0;
  while (n < 64) {
    if ((segments >> n & 1u) == 0) {
      ++n;
      continue;
    }
    unsigned last = n;
    while (last + 1 < 64 && (segments >> (last + 1) & 1u) != 0) {
      ++last;
    }
    if (!text.empty()) {
      text += ' ';
    }
    text += std::to_string(n);
    if (last > n) {
      text += last == n + 1 ? ' ' : '-';
      text += std::to_string(last);
    }
    n = last + 1;
  }
  return text.empty() ? "none" : text;
}

std::string DescribePacket(const std::uint8_t* bytes) {
  const std::uint8_t command = bytes[kCommandOffset];
  switch (ClassifyCommand(command)) {
    case CommandKind::kIcons: {
      std::uint64_t segments = 0;
      for (std::size_t i = 0; i < 7; ++i) {
        segments |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
      }
      return "icons: " + SegmentList(segments);
    }
    case CommandKind::kContrast:
      return "contrast " + std::to_string(bytes[0]) + (bytes[0] > 31 ? " (above 31)" : "") +
             UnusedDataNote(bytes, 1);
    case CommandKind::kPixels: {
      const std::size_t first = FirstPictureByte(command);
      std::size_t last = first + kPixelBytesPerPacket - 1;
      std::string note;
      if (last >= kVxPanelPictureBytes) {
        last = kVxPanelPictureBytes - 1;
        note = UnusedDataNote(bytes, last - first + 1);
      }
      return "pixels " + Hex2(command) + " bytes " + std::to_string(first) + ".." +
             std::to_string(last) + note;
    }
    case CommandKind::kClock:
      if (DataIsZero(bytes, 1)) {
        return "mode " + FormatMode(bytes[0]) + ", no date";
      }
      return "clock " + FormatClock(bytes + 1) + " mode " + FormatMode(bytes[0]);
    case CommandKind::kEvent:
      return "event " + Hex2(command) + UnusedDataNote(bytes, 0);
    case CommandKind::kUnknown:
      break;
  }
  return "unknown command " + Hex2(command);
}

std::string DescribeEntry(const VxPanelLogEntry& entry) {
  char head[48];
  std::snprintf(head, sizeof head, "%7llu t%u  ", static_cast<unsigned long long>(entry.sequence),
                entry.thread);
  std::string line = head;
  switch (entry.kind) {
    case kVxPanelPacket: {
      char hex[32];
      const std::uint8_t* b = entry.bytes;
      std::snprintf(hex, sizeof hex, "%02x %02x %02x %02x %02x %02x %02x %02x  ", b[0], b[1], b[2],
                    b[3], b[4], b[5], b[6], b[7]);
      return line + hex + DescribePacket(b);
    }
    case kVxPanelInit:
      return line + "call iMONVFD_Init(" + std::to_string(entry.arguments[0]) + ", " +
             std::to_string(entry.arguments[1]) + ")";
    case kVxPanelUninit:
      return line + "call iMONVFD_Uninit()";
    case kVxPanelIsInited:
      return line + "call iMONVFD_IsInited()";
    case kVxPanelSetText:
      return line + "call iMONVFD_SetText()";
    case kVxPanelSetEQ:
      return line + "call iMONVFD_SetEQ()";
    default:
      return line + "unknown entry";
  }
}

}  // namespace emulator
