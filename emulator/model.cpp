// The panel model: each packet updates the picture, the icon segments, the
// contrast or the mode and clock, as its command byte says.
#include "emulator/model.h"

#include <algorithm>
#include <cstring>

#include "emulator/commands.h"

namespace emulator {

PanelModel::PanelModel() {
  Reset();
}

void PanelModel::Reset() {
  state_ = VxPanelState{};
  state_.contrast = -1;
  state_.mode = -1;
  init_answer_ = 1;
  log_.assign(kVxPanelLogCapacity, VxPanelLogEntry{});
}

VxPanelLogEntry& PanelModel::Append(VxPanelEntryKind kind, std::uint32_t thread) {
  VxPanelLogEntry& entry = log_[state_.sequence % kVxPanelLogCapacity];
  entry = VxPanelLogEntry{};
  entry.sequence = state_.sequence++;
  entry.kind = kind;
  entry.thread = thread;
  return entry;
}

bool PanelModel::LogEntry(std::uint64_t sequence, VxPanelLogEntry* entry) const {
  if (sequence >= state_.sequence || state_.sequence - sequence > kVxPanelLogCapacity) {
    return false;
  }
  *entry = log_[sequence % kVxPanelLogCapacity];
  return true;
}

void PanelModel::ApplyIcons(const std::uint8_t* data) {
  std::uint64_t segments = 0;
  for (std::size_t i = 0; i < 7; ++i) {
    segments |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  }
  state_.icons = segments;
  // Keep the last three icon packets, oldest first.
  auto& history = state_.icon_history;
  if (state_.icon_history_count < 3) {
    history[state_.icon_history_count++] = segments;
  } else {
    std::rotate(history, history + 1, history + 3);
    history[2] = segments;
  }
}

void PanelModel::ApplyPacket(const std::uint8_t* bytes, std::uint32_t thread) {
  VxPanelLogEntry& entry = Append(kVxPanelPacket, thread);
  std::memcpy(entry.bytes, bytes, sizeof entry.bytes);

  const std::uint8_t command = bytes[kCommandOffset];
  ++state_.packets;
  ++state_.command_counts[command];
  switch (ClassifyCommand(command)) {
    case CommandKind::kIcons:
      ApplyIcons(bytes);
      break;
    case CommandKind::kContrast:
      state_.contrast = bytes[0];
      break;
    case CommandKind::kPixels: {
      // Packets run through the picture regardless of its two bands; the last
      // one carries only three picture bytes.
      const std::size_t first = FirstPictureByte(command);
      for (std::size_t j = 0; j < kPixelBytesPerPacket && first + j < kVxPanelPictureBytes; ++j) {
        state_.picture[first + j] = bytes[j];
      }
      break;
    }
    case CommandKind::kClock:
      state_.mode = bytes[0];
      std::memcpy(state_.clock, bytes + 1, sizeof state_.clock);
      break;
    case CommandKind::kEvent:
      break;
    case CommandKind::kUnknown:
      ++state_.unknown_packets;
      std::memcpy(state_.last_unknown, bytes, sizeof state_.last_unknown);
      break;
  }
}

std::int32_t PanelModel::ApplyInit(std::int32_t first, std::int32_t second, std::uint32_t thread) {
  VxPanelLogEntry& entry = Append(kVxPanelInit, thread);
  entry.arguments[0] = first;
  entry.arguments[1] = second;
  ++state_.init_calls;
  state_.init_arguments[0] = first;
  state_.init_arguments[1] = second;
  state_.inited = (init_answer_ & 0xFF) != 0 ? 1 : 0;
  return init_answer_;
}

void PanelModel::ApplyUninit(std::uint32_t thread) {
  Append(kVxPanelUninit, thread);
  ++state_.uninit_calls;
  state_.inited = 0;
}

void PanelModel::RecordCall(VxPanelEntryKind kind, std::uint32_t thread) {
  Append(kind, thread);
}

}  // namespace emulator
