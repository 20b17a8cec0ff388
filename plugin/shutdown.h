// How the plug-in ends its background work within a bound: the runs of the
// icon thread, and the calls into the vendor library that are on their way.
// Done stops the icon thread and then releases the library; a panel or an
// audio driver that hangs must not hold up Done, nor may anything the icon
// thread does afterwards reach the panel or a library loaded by a later start.
#pragma once

#include <cstdint>

namespace plugin {

// ---------------------------------------------------------------------------
// Runs of the icon thread
// ---------------------------------------------------------------------------

// The run of no thread: packets the host's own calls send.
inline constexpr std::uint32_t kHostRun = 0;

// Starts a new run and returns its number, which the icon thread about to
// start carries. Host thread.
std::uint32_t BeginRun();

// The run now current. For stepping the refresh cycle in the thread's place.
std::uint32_t CurrentRun();

// Whether `run` is still current: until Done retires it, and never for a run
// that a later start has replaced. kHostRun is always current. Any thread.
bool RunIsCurrent(std::uint32_t run);

// The icon thread, first thing: records that `run` began, and answers whether
// it may go on; false when Done has told it not to begin.
bool EnterRun(std::uint32_t run);

// The icon thread, last thing: records that `run` has sent its last packet.
void FinishRun(std::uint32_t run);

// How the current run ended when Done retired it.
enum class RunEnd {
  kNeverBegan,  // its thread had not begun, and now never will
  kFinished,    // its last packet is sent
  kHung,        // it hangs in a call that did not return within the bound
};

// Done, after it has told the icon thread to end: tells a run that has not
// begun never to begin, and waits up to `milliseconds` until a begun one has
// sent its last packet (or its thread has ended). Then it retires the run:
// whatever the thread does from now on, it changes nothing and sends nothing,
// a call into the library that it has already begun excepted (CallsReturn
// waits for that). Host thread.
RunEnd RetireRun(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Calls into the vendor library
// ---------------------------------------------------------------------------

// A call into the library counts itself in before it reads its binding, and
// out once it has returned; a release clears the bindings before it asks
// whether calls run. So once CallsReturn has answered true after the bindings
// were cleared, no call runs in the library and none can start. Any thread.
void CallBegins();
void CallEnds();

// Waits, up to a second, until no call runs in the library; true when none
// does. False means a packet has not come back: the panel has stopped
// answering, and every further call would hang as well. Returns at once when
// no call runs. Host thread.
bool CallsReturn();

}  // namespace plugin
