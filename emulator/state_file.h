// The panel's state as a file, for a panel that lives in another process: the
// emulated panel on USB (usbpanel --state FILE) writes it after every packet,
// and hostsim --panel-state FILE reads it as it reads the emulator library's
// model. The same file serves native and Windows programs alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/panel_api.h"

namespace emulator {

// The file's contents for `state`.
std::vector<std::uint8_t> EncodeStateFile(const VxPanelState& state);

// The state in `contents`; false when they are not such a file.
bool DecodeStateFile(const std::vector<std::uint8_t>& contents, VxPanelState* state);

// Writes the file whole: into `path`.tmp first, then renamed over `path`, so
// that a reader never sees half of it. False with the system's reason.
bool WriteStateFile(const std::string& path, const VxPanelState& state, std::string* why);

// Reads the file; false when it is missing or not such a file.
bool ReadStateFile(const std::string& path, VxPanelState* state);

}  // namespace emulator
