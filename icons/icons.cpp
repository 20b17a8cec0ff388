// Icon state and the refresh thread that sends it to the panel.
#include "icons/icons.h"

#include "icons/masks.h"
#include "icons/speakers.h"
#include "panel/panel.h"
#include "platform/platform.h"
#include "plugin/shutdown.h"
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

// How long Done waits, after its pause, for the icon thread's last packet: a
// cycle takes far less, unless the vendor library or the audio device hangs.
// The thread is then left to end by itself.
constexpr std::uint32_t kStopBoundMs = 3000;

// How long Done then waits for the thread to end. Normally it ends at once, and
// the module is free to unload when the host lets go of it. A thread cannot end
// while the host holds the loader lock, closing the plug-in from its own
// library's entry routine for instance; it then ends afterwards by itself.
constexpr std::uint32_t kExitBoundMs = 1000;

// The poll counter of the cycles that a test steps through itself with
// RunRefreshCycle. A running thread keeps its own.
int SteppedPollCounter = 0;

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

// One refresh cycle of run `run`, counting towards the next speaker poll in
// `poll_counter`. Should a later start have replaced `run` meanwhile (while the
// audio device kept the thread waiting, for instance), it changes and sends
// nothing: the icons are that start's business now.
void RefreshCycle(std::uint32_t run, int& poll_counter) {
  if (plugin::AutoAudioDisplay) {
    ++poll_counter;
  }
  const bool suspended = IconThreadSuspend.load() != 0;
  // The speaker query may take long with a slow audio driver, so it runs before
  // the icon mutex is taken and the host's icon commands never wait for it. A
  // thread told to end skips it: its packet is followed by the empty one, and
  // the query could hold up Done, which may hold the loader lock.
  const bool poll = !suspended && plugin::AutoAudioDisplay && poll_counter >= kSpeakerPollCycles &&
                    IconThreadTerminate.load() == 0;
  std::uint64_t speakers = 0;
  if (poll) {
    poll_counter = 0;
    speakers = GetSoundConfig();
  }
  platform::LockIconMutex();
  if (!plugin::RunIsCurrent(run)) {
    platform::UnlockIconMutex();
    return;
  }
  if (!suspended) {
    if (poll && speakers != ICON_SPEAKERS) {
      ICON_STATUS = (ICON_STATUS & kSpeakerMergeMask) | speakers;
      ICON_SPEAKERS = speakers;
    }
    if ((ICON_STATUS & kForwardMarks) != 0) {
      ICON_STATUS = RotateRingForward(ICON_STATUS);
    }
    if ((ICON_STATUS & kBackwardMarks) != 0) {
      ICON_STATUS = RotateRingBackward(ICON_STATUS);
    }
    ICON_STATUS ^= ICON_FLASH;
  }
  const std::uint64_t packet = ICON_STATUS | kIconCommand;
  platform::UnlockIconMutex();
  // Sent after the mutex is given back, so that a vendor library that stalls
  // holds up neither the host's icon commands nor the end of the plug-in. Only
  // this thread sends icon packets while it runs, so their order is the same.
  // A run that Done has retired meanwhile sends nothing.
  panel::SendData(packet, run);
}

void RefreshUntilTold(std::uint32_t run) {
  int poll_counter = 0;
  for (;;) {
    // The pause ends early when the host tells the thread to end.
    platform::WaitForWake(kRefreshPeriodMs);
    if (!plugin::RunIsCurrent(run)) {
      return;  // retired by Done
    }
    RefreshCycle(run, poll_counter);
    if (IconThreadTerminate.load() != 0) {
      return;
    }
  }
}

void UpdateIconsThread(std::uint32_t run) {
  if (plugin::EnterRun(run)) {
    RefreshUntilTold(run);
  }
  plugin::FinishRun(run);
}

}  // namespace

void RunRefreshCycle() {
  RefreshCycle(plugin::CurrentRun(), SteppedPollCounter);
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
  SteppedPollCounter = 0;
  return platform::StartThread(UpdateIconsThread, plugin::BeginRun());
}

bool StopIconThread() {
  IconThreadTerminate.store(1);
  platform::Wake();
  // One refresh period, as the host expects Done to take; then make sure the
  // thread's last packet has gone out before anything else is sent.
  platform::SleepMilliseconds(kRefreshPeriodMs);
  switch (plugin::RetireRun(kStopBoundMs)) {
    case plugin::RunEnd::kNeverBegan:
      platform::ReleaseThread(0);
      return true;
    case plugin::RunEnd::kFinished:
      platform::ReleaseThread(kExitBoundMs);
      return true;
    case plugin::RunEnd::kHung:
      break;
  }
  platform::ReleaseThread(0);
  return false;
}

}  // namespace icons
