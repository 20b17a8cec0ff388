// Panel control built on command packets: sending one packet, the reset
// sequence, contrast and the transfer of the pixel picture.
#pragma once

#include <cstdint>

#include "panel/packet.h"

namespace panel {

// Sends one packet to the panel through the vendor library; sends nothing
// while the library is not bound. Called from the host's thread and from the
// icon thread; takes no lock.
void SendData(Packet packet);

// As SendData, for a sender that may be retired meanwhile: the packet goes out
// only if `current(token)` still holds once the vendor binding has been read
// (see plugin::VendorSendDataIf). The icon thread sends its packets this way.
void SendDataIf(Packet packet, bool (*current)(std::uint32_t token), std::uint32_t token);

// The reset sequence: eight packets that put the panel into a known state,
// then the text frame and the pixel buffer are emptied in memory. Host thread.
void ClearDisplay();

// Sends the whole pixel buffer as the 28 packets 0x20..0x3B. Host thread.
void UpdateDisplay();

// Stores host contrast 0..255 as level 0..31 and sends it. Host thread.
void SetContrast(std::uint8_t contrast);

}  // namespace panel
