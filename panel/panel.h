// Panel control built on command packets: sending one packet, the reset
// sequence, contrast and the transfer of the pixel picture.
#pragma once

#include <cstdint>

#include "panel/packet.h"
#include "plugin/shutdown.h"

namespace panel {

// Sends one packet to the panel through the vendor library; sends nothing
// while the library is not bound, or when `run` is an icon thread's run that
// Done has retired meanwhile (see plugin::RunIsCurrent). Called from the
// host's thread and from the icon thread; takes no lock.
void SendData(Packet packet, std::uint32_t run = plugin::kHostRun);

// The reset sequence: eight packets that put the panel into a known state,
// then the text frame and the pixel buffer are emptied in memory. Host thread.
void ClearDisplay();

// Sends the whole pixel buffer as the 28 packets 0x20..0x3B. Host thread.
void UpdateDisplay();

// Stores host contrast 0..255 as level 0..31 and sends it. Host thread.
void SetContrast(std::uint8_t contrast);

}  // namespace panel
