// Icon state and the refresh thread that sends it to the panel.
#include "icons/icons.h"

#include "icons/masks.h"
#include "icons/speakers.h"
#include "panel/panel.h"
#include "platform/platform.h"
#include "plugin/state.h"

namespace icons {

std::uint64_t ICON_STATUS = 0;
std::uint64_t ICON_FLASH = 0;
std::uint64_t ICON_SPEAKERS = 0;
std::atomic<std::uint8_t> IconThreadTerminate{0};
std::atomic<std::uint8_t> IconThreadSuspend{0};

namespace {

constexpr std::uint32_t kRefreshPeriodMs = 500;

// Every third cycle with the audio option on polls the speaker layout. The
// first layout thus shows with the third cycle after a start, about 1.5 s in;
// the start itself does not ask the audio device, so it never waits for it.
constexpr int kSpeakerPollCycles = 3;

// Clears the eight segments of the full speaker mask (0xFD01) and bits 60..63
// before a new speaker mask is merged; bit 9 is kept.
constexpr std::uint64_t kSpeakerMergeMask = 0x0FFFFFFFFFFF02FEull;

// Cycles counted towards the next speaker poll; touched only by the cycle.
int PollCounter = 0;

// The icon mutex exists from the moment the module is loaded.
[[maybe_unused]] const bool kIconMutexCreated = (platform::CreateIconMutex(), true);

std::uint64_t RotateRingForward(std::uint64_t mask) {
  const std::uint64_t ring = (mask & kRingMask) >> kRingShift;
  const std::uint64_t rotated = ((ring << 1) | (ring >> 7)) & 0xFF;
  return (mask & ~kRingMask) | (rotated << kRingShift);
}

std::uint64_t RotateRingBackward(std::uint64_t mask) {
  const std::uint64_t ring = (mask & kRingMask) >> kRingShift;
  const std::uint64_t rotated = ((ring >> 1) | (ring << 7)) & 0xFF;
  return (mask & ~kRingMask) | (rotated << kRingShift);
}

void SendStatus() {
  panel::SendData(ICON_STATUS | kIconCommand);
}

void UpdateIconsThread() {
  for (;;) {
    // The pause ends early when the host tells the thread to end.
    platform::WaitForWake(kRefreshPeriodMs);
    RunRefreshCycle();
    if (IconThreadTerminate.load() != 0) {
      return;
    }
  }
}

}  // namespace

void RunRefreshCycle() {
  if (plugin::AutoAudioDisplay) {
    ++PollCounter;
  }
  platform::LockIconMutex();
  if (IconThreadSuspend.load() == 0) {
    if (plugin::AutoAudioDisplay && PollCounter >= kSpeakerPollCycles) {
      PollCounter = 0;
      const std::uint64_t speakers = GetSoundConfig();
      if (speakers != ICON_SPEAKERS) {
        ICON_STATUS = (ICON_STATUS & kSpeakerMergeMask) | speakers;
        ICON_SPEAKERS = speakers;
      }
    }
    if ((ICON_STATUS & kForwardMarks) != 0) {
      ICON_STATUS = RotateRingForward(ICON_STATUS);
    }
    if ((ICON_STATUS & kBackwardMarks) != 0) {
      ICON_STATUS = RotateRingBackward(ICON_STATUS);
    }
    ICON_STATUS ^= ICON_FLASH;
  }
  SendStatus();
  platform::UnlockIconMutex();
}

void ClearIcons() {
  // The icon thread is not running now; the lock keeps out a host that sends
  // icon commands from another thread while the plug-in starts or ends.
  platform::LockIconMutex();
  ICON_STATUS = kIconCommand;
  // The speaker segments are dark now, so no speaker mask is shown any more.
  // Keeping the old one would make the next start's first poll see an
  // unchanged layout and leave the speaker icons dark until it changes.
  ICON_SPEAKERS = 0;
  SendStatus();
  platform::UnlockIconMutex();
}

void SendIconStatus() {
  platform::LockIconMutex();
  SendStatus();
  platform::UnlockIconMutex();
}

bool StartIconThread() {
  IconThreadTerminate.store(0);
  IconThreadSuspend.store(0);
  PollCounter = 0;
  return platform::StartThread(UpdateIconsThread);
}

void StopIconThread() {
  IconThreadTerminate.store(1);
  platform::Wake();
  // One refresh period, as the host expects Done to take; then make sure the
  // thread's last packet has gone out before anything else is sent.
  platform::SleepMilliseconds(kRefreshPeriodMs);
  platform::JoinThread();
}

}  // namespace icons
