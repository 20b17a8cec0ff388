// Icon commands from the host, which arrive on the fan channel.
#pragma once

#include <cstdint>

namespace icons {

// Applies `action` (1 off, 2 on, 3 blink; others ignored) to icon `number`
// (0..54; others ignored) in the icon masks, under the icon mutex. Sends
// nothing: the icon thread shows the change with its next packet. Host thread.
void SetFan(std::uint8_t action, std::uint8_t number);

}  // namespace icons
