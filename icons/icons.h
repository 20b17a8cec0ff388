// The icon segments: the masks that describe them, the mutex that guards the
// masks, and the background thread that sends them to the panel every 500 ms.
#pragma once

#include <cstdint>

#include "panel/packet.h"

namespace icons {

// Bit 56 of a mask: the icon packet's command byte.
inline constexpr std::uint64_t kIconCommand = panel::MakePacket(panel::kIcons);

// All segments dark: ICON_STATUS becomes the empty icon packet, which is sent,
// and no speaker mask counts as shown. The blink marks stay. Called while the
// icon thread is not running; takes the icon mutex.
void ClearIcons();

// Sends ICON_STATUS once more as an icon packet. Same rule as ClearIcons.
void SendIconStatus();

// Clears the thread's terminate and suspend flags and starts the icon thread.
// Returns false when the thread could not be started. Host thread.
bool StartIconThread();

// Tells the icon thread to end, pauses one refresh period (500 ms) and then
// retires the thread's run (plugin::RetireRun): it waits, a few seconds at
// most, until the thread has sent its last packet, so that nothing it sends
// can follow, and from then on the thread changes no icon mask and sends
// nothing more. Returns false when the thread has not sent its last packet:
// it hangs in a call that does not return, and is left to end by itself.
// Returns true after the pause when no thread runs. Host thread.
bool StopIconThread();

// One refresh cycle without the pause before it: blink, ring animation,
// speaker poll, and the icon packet, which is sent after the icon mutex is
// given back. The icon thread runs it every 500 ms;
// tests call it directly to step the icons deterministically, and the panel
// page, which has no threads, calls it every 500 ms in the thread's place.
void RunRefreshCycle();

}  // namespace icons
