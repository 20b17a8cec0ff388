// The runs of the icon thread and the calls into the vendor library on their
// way, which Done waits for within a bound (see shutdown.h).
#include "plugin/shutdown.h"

#include <atomic>

#include "platform/platform.h"

namespace plugin {
namespace {

// Each start of the icon thread has a number, its run: the current one is in
// CurrentRunNumber. Done retires the run once it stops waiting for the thread,
// by moving CurrentRunNumber on to a number no thread has, and a thread whose
// run is not current any more changes and sends nothing. So a thread that Done
// gave up on (held in the speaker query by a hanging audio driver, say) sends
// nothing when it comes back: not after Done's last packets, and not into the
// library of a later start, even while that start's iMONVFD_Init still runs.
// The thread enters its loop only if Done has not told it not to begin (a new
// thread is held back while the host holds the loader lock): each side writes
// its own variable before it reads the other's, so at least one of them sees
// the other. Entered and Finished only ever grow, so a thread of an earlier run
// that comes late cannot undo what a later one has recorded.
std::atomic<std::uint32_t> CurrentRunNumber{kHostRun};
std::atomic<std::uint32_t> RunEntered{kHostRun};    // the latest run that began
std::atomic<std::uint32_t> RunCancelled{kHostRun};  // the latest run told not to begin
std::atomic<std::uint32_t> RunFinished{kHostRun};   // the latest run whose last packet is sent

// Calls into the library that have begun and not yet returned.
std::atomic<int> CallsInLibrary{0};

// How long CallsReturn waits for calls still running in the library.
constexpr std::uint32_t kCallsEndBoundMs = 1000;

void RaiseTo(std::atomic<std::uint32_t>& value, std::uint32_t run) {
  std::uint32_t seen = value.load();
  while (seen < run && !value.compare_exchange_weak(seen, run)) {
  }
}

bool LastPacketSent() {
  return RunFinished.load() == CurrentRunNumber.load() || platform::ThreadEnded();
}

bool NoCallsInLibrary() {
  return CallsInLibrary.load() == 0;
}

}  // namespace

std::uint32_t BeginRun() {
  return CurrentRunNumber.fetch_add(1) + 1;
}

std::uint32_t CurrentRun() {
  return CurrentRunNumber.load();
}

bool RunIsCurrent(std::uint32_t run) {
  return run == kHostRun || CurrentRunNumber.load() == run;
}

bool EnterRun(std::uint32_t run) {
  RaiseTo(RunEntered, run);
  return RunCancelled.load() != run;
}

void FinishRun(std::uint32_t run) {
  RaiseTo(RunFinished, run);
}

RunEnd RetireRun(std::uint32_t milliseconds) {
  const std::uint32_t run = CurrentRunNumber.load();
  RunCancelled.store(run);
  RunEnd end = RunEnd::kNeverBegan;
  if (RunEntered.load() == run) {
    end = platform::WaitUntil(LastPacketSent, milliseconds) ? RunEnd::kFinished : RunEnd::kHung;
  }
  // From now on no thread's run is current. The sends of the retired run check
  // it after they have read the vendor binding, so one that is already past the
  // check is a call into the library that has begun, which CallsReturn waits
  // for.
  CurrentRunNumber.fetch_add(1);
  return end;
}

void CallBegins() {
  CallsInLibrary.fetch_add(1);
}

void CallEnds() {
  CallsInLibrary.fetch_sub(1);
}

bool CallsReturn() {
  return platform::WaitUntil(NoCallsInLibrary, kCallsEndBoundMs);
}

}  // namespace plugin
