// The emulator's model of the panel: what the panel has been told, built only
// from the calls and packets it received, and a log of those calls. Not locked:
// the emulator library serialises every call into it.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/panel_api.h"

namespace emulator {

class PanelModel {
 public:
  PanelModel();

  // Back to the power-on state: dark picture, no icons, nothing received.
  void Reset();

  // One packet from iMONLCD_SendData, its eight bytes in memory order.
  void ApplyPacket(const std::uint8_t* bytes, std::uint32_t thread);
  // iMONVFD_Init with its two arguments; answers what iMONVFD_Init returns.
  std::int32_t ApplyInit(std::int32_t first, std::int32_t second, std::uint32_t thread);
  void ApplyUninit(std::uint32_t thread);
  // A call that changes nothing on the panel (IsInited, SetText, SetEQ).
  void RecordCall(VxPanelEntryKind kind, std::uint32_t thread);

  void SetInitAnswer(std::int32_t answer) { init_answer_ = answer; }

  const VxPanelState& State() const { return state_; }
  // Log entry `sequence`; false when not (or no longer) kept.
  bool LogEntry(std::uint64_t sequence, VxPanelLogEntry* entry) const;

 private:
  VxPanelLogEntry& Append(VxPanelEntryKind kind, std::uint32_t thread);
  void ApplyIcons(const std::uint8_t* data);

  VxPanelState state_{};
  std::int32_t init_answer_ = 1;
  std::vector<VxPanelLogEntry> log_;  // ring of kVxPanelLogCapacity entries
};

}  // namespace emulator
