// The bridge to a real panel: a library in the shape of the panel vendor's,
// under its file name, that hands each command packet to the display device
// of the kernel's imon driver (/dev/lcd0, or the device that
// VESTRIX_PANEL_DEVICE names). It offers the vendor's functions that an LCD
// panel needs, and VxBridge_FailedWrites, which is the bridge's own.
//
// The host never waits long for the panel. The driver waits up to ten seconds
// for a panel that does not answer a packet, holding its device's lock
// meanwhile, so the bridge writes from a thread of its own, one per start of
// the panel, out of a small queue:
// - iMONLCD_SendData puts the packet in the queue and returns true. When the
//   queue is full it waits for room until the writer has been in one write
//   for kBound: then the panel has stopped taking packets, and this packet
//   and those after it are dropped at once, answered false, until the writer
//   gets a packet through again. One line on standard error says so. (A
//   writer that is only slow to come round, on a busy machine, is waited for
//   up to twice kBound.)
// - the writer takes the packets in the order they came, each once, and
//   writes each in one write of its 8 bytes. The imon driver takes exactly 8
//   bytes a write and sends them as one packet; a FIFO standing in for the
//   device writes up to PIPE_BUF bytes in one piece. So the host's thread and
//   the plug-in's icon thread, which send at the same time, never split a
//   packet, and neither does another program writing to the same device.
// - iMONVFD_Uninit waits while the writer makes progress, so that a panel
//   that answers gets everything; it gives up once a write has taken kBound
//   since Uninit was called (or no write has ended for twice that), so that
//   a panel that has just answered again is not given up on, and the writer
//   ends by itself after that write, dropping the rest.
// - a device that has gone away (the panel was unplugged) is opened again
//   every kReopenInterval until it is back; meanwhile packets are dropped.
// - the library stays loaded from its first start on (on Windows from its
//   first load, see platform/pin_win32.cpp), since a writer may outlive
//   iMONVFD_Uninit and the plug-in releases the library right after it.
// Lines on standard error are written outside the lock, and never wait.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "bridge/device.h"
#include "plugin/vendor_functions.h"

namespace {

constexpr char kDeviceVariable[] = "VESTRIX_PANEL_DEVICE";
constexpr char kDefaultDevice[] = "/dev/lcd0";
constexpr std::size_t kPacketSize = 8;
// A whole picture (28 packets) and the icon packets that come between.
constexpr std::size_t kQueueCapacity = 32;
// The longest a call waits for the panel.
constexpr std::chrono::milliseconds kBound{500};
// How often a device that has gone away is looked for again.
constexpr std::chrono::milliseconds kReopenInterval{1000};

using Clock = std::chrono::steady_clock;
using Packet = std::array<std::uint8_t, kPacketSize>;

// One start of the panel, from iMONVFD_Init to iMONVFD_Uninit: the device,
// the queue and the writer thread. The writer holds it as long as it runs,
// which may be after Uninit has given up on it. Needs the shared lock, but
// for `path`, which never changes, `device`, which only the writer uses once
// it runs, and `abandoned`.
struct Link {
  std::string path;  // of the device; set before the writer starts
  bridge::Device device;
  std::deque<Packet> queue;  // at most kQueueCapacity
  std::thread writer;
  std::uint64_t writes = 0;  // writes finished, whatever their outcome
  bool writing = false;      // the writer is in a write, since write_began
  Clock::time_point write_began;
  std::uint64_t lost = 0;  // packets taken that never reached the device
  bool gone = false;       // the device has gone; looked for again at look_again
  Clock::time_point look_again;
  bool dropping = false;               // the panel hangs: packets are dropped at once
  bool reported = false;               // a trouble was reported, and no packet went out since
  bool stopping = false;               // Uninit: the writer ends once the queue is empty
  std::atomic<bool> abandoned{false};  // Uninit gave up: end after the current write
  bool ended = false;                  // the writer has ended and closed the device
};

// The lock, the condition every change is announced on, and the current start,
// in storage that is never destroyed: a writer that Uninit gave up on may
// still use them while the process ends.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::shared_ptr<Link> link;  // null while the panel is not started
  int abandoned_writers = 0;   // writers that Uninit gave up on, still running
};

Shared& TheShared() {
  static Shared* const shared = new Shared();
  return *shared;
}

std::atomic<std::uint64_t> g_failed_writes{0};

std::string DevicePath() {
  const std::string path = bridge::EnvironmentValue(kDeviceVariable);
  return path.empty() ? kDefaultDevice : path;
}

// One line on standard error, for the user who wonders why the panel stays dark.
std::string Line(const std::string& what, const std::string& path, const std::string& why) {
  return "sg_vfd bridge: " + what + " " + path + ": " + why;
}

// Sets `*line` to `text` once per trouble: only when nothing was reported
// since a packet last went out. Needs the lock; the line is written after it.
void ReportOnce(Link* link, std::string* line, std::string text) {
  if (!link->reported) {
    link->reported = true;
    *line = std::move(text);
  }
}

// Waits until `done()` holds, the writer has been in one write for kBound
// (the panel does not answer), or, when the writer is merely slow to come
// round (a busy machine), until `limit`. A write counts from `counted_from`
// at the earliest, so that a caller can give a write already held a bound of
// its own. True when `done()` holds. Needs the lock, which it gives up while
// it waits.
template <typename Done>
bool WaitForWriter(std::unique_lock<std::mutex>* lock, Link* link, Clock::time_point limit,
                   Clock::time_point counted_from, Done done) {
  for (;;) {
    if (done()) {
      return true;
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point held_until = std::max(link->write_began, counted_from) + kBound;
    if (now >= limit || (link->writing && now >= held_until)) {
      return false;
    }
    TheShared().changed.wait_until(*lock, link->writing ? std::min(limit, held_until) : limit);
  }
}

// Drops what waits in the queue. Needs the lock.
void DropQueue(Link* link) {
  link->lost += link->queue.size();
  g_failed_writes.fetch_add(link->queue.size());
  link->queue.clear();
}

// What a write's outcome means for the start. Needs the lock; the line to
// write after it goes into `*line`.
void Account(Link* link, bridge::Written result, const std::string& why, Clock::duration took,
             std::string* line) {
  ++link->writes;
  link->writing = false;
  link->dropping = false;
  if (result == bridge::Written::kWhole) {
    link->reported = false;
    return;
  }
  ++link->lost;
  g_failed_writes.fetch_add(1);
  if (result == bridge::Written::kFailed) {
    ReportOnce(link, line,
               Line("cannot write to the panel device", link->path,
                    why + "; packets are dropped until it works"));
    // A panel that let the driver wait this long for its answer would let
    // every packet still waiting here wait as long.
    if (took >= kBound) {
      DropQueue(link);
    }
    return;
  }
  DropQueue(link);
  bridge::CloseDevice(&link->device);
  link->gone = true;
  link->look_again = Clock::now() + kReopenInterval;
  ReportOnce(link, line,
             Line("the panel device", link->path,
                  "it has gone (" + why + "); it is looked for every second until it returns"));
}

// The writer thread of one start.
void WriteQueue(const std::shared_ptr<Link>& link) {
  Shared& shared = TheShared();
  const auto told = [&link] { return link->stopping || link->abandoned.load(); };
  std::unique_lock<std::mutex> lock(shared.mutex);
  while (!link->abandoned.load() && !(link->stopping && (link->gone || link->queue.empty()))) {
    if (link->gone) {
      // Looked for again when its time has come, outside the lock.
      if (shared.changed.wait_until(lock, link->look_again, told)) {
        continue;
      }
      lock.unlock();
      std::string why;
      bridge::Device device = bridge::OpenDevice(link->path, &why);
      lock.lock();
      if (!device.IsOpen()) {
        link->look_again = Clock::now() + kReopenInterval;
        continue;
      }
      link->device = device;
      link->gone = false;
      link->reported = false;
      shared.changed.notify_all();
      lock.unlock();
      bridge::WriteMessage(Line("the panel device", device.path, "it is back"));
      lock.lock();
      continue;
    }
    if (link->queue.empty()) {
      shared.changed.wait(lock, [&] { return !link->queue.empty() || told(); });
      continue;
    }
    const Packet packet = link->queue.front();
    link->queue.pop_front();
    link->writing = true;
    link->write_began = Clock::now();
    const Clock::time_point began = link->write_began;
    shared.changed.notify_all();  // room in the queue
    lock.unlock();
    std::string why;
    const bridge::Written result = bridge::WriteDevice(
        &link->device, packet.data(), packet.size(), [&link] { return !link->abandoned.load(); },
        &why);
    const Clock::duration took = Clock::now() - began;
    std::string line;
    lock.lock();
    Account(link.get(), result, why, took, &line);
    shared.changed.notify_all();
    if (!line.empty()) {
      lock.unlock();
      bridge::WriteMessage(line);
      lock.lock();
    }
  }
  DropQueue(link.get());
  lock.unlock();
  bridge::CloseDevice(&link->device);
  lock.lock();
  link->ended = true;
  if (link->abandoned.load()) {
    --shared.abandoned_writers;
  }
  shared.changed.notify_all();
}

// Ends the current start: the writer delivers what is queued while it makes
// progress; once a write has taken kBound it is given up on and ends by
// itself after that write. True when every packet taken reached the device.
// Needs the lock, which it gives up while it joins the writer.
bool CloseLink(std::unique_lock<std::mutex>* lock) {
  Shared& shared = TheShared();
  const std::shared_ptr<Link> link = std::move(shared.link);
  if (!link) {
    return false;
  }
  link->stopping = true;
  shared.changed.notify_all();
  // Each packet may take the bound; a writer slow to come round gets twice
  // that. The write under way when Uninit came counts from then: the panel
  // may have answered again just before, and the driver not yet returned it.
  const Clock::time_point closing_began = Clock::now();
  std::uint64_t seen = link->writes;
  while (!link->ended) {
    if (!WaitForWriter(lock, link.get(), Clock::now() + 2 * kBound, closing_began,
                       [&] { return link->ended || link->writes != seen; })) {
      link->abandoned = true;
      ++shared.abandoned_writers;
      shared.changed.notify_all();
      break;
    }
    seen = link->writes;
  }
  const bool ended = link->ended;
  const bool delivered = ended && link->lost == 0;
  lock->unlock();
  if (ended) {
    link->writer.join();
  } else {
    link->writer.detach();  // it holds the link, and the library stays loaded
  }
  lock->lock();
  return delivered;
}

}  // namespace

extern "C" {

// Opens the panel's device and starts its writer; true when both are there.
// The two arguments carry the host's wishes for the vendor's own driver and
// mean nothing to the device. A start while the device is open closes it
// first, as Uninit does, so that a panel plugged in anew is found.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int /*first*/, int /*second*/) {
  bridge::KeepLoaded();
  Shared& shared = TheShared();
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    CloseLink(&lock);
  }
  const std::string path = DevicePath();
  std::string why;
  auto link = std::make_shared<Link>();
  link->path = path;
  link->device = bridge::OpenDevice(path, &why);
  if (!link->device.IsOpen()) {
    // The imon driver lets its device be opened only once at a time, and a
    // writer that Uninit gave up on still holds it until its write returns:
    // it is waited for, as long as any call waits for the panel.
    std::unique_lock<std::mutex> lock(shared.mutex);
    if (shared.abandoned_writers > 0 &&
        shared.changed.wait_for(lock, kBound, [&] { return shared.abandoned_writers == 0; })) {
      lock.unlock();
      link->device = bridge::OpenDevice(path, &why);
    }
  }
  if (!link->device.IsOpen()) {
    bridge::WriteMessage(Line("cannot open the panel device", path,
                              why + " (" + kDeviceVariable + " chooses another)"));
    return 0;
  }
  try {
    link->writer = std::thread(WriteQueue, link);
  } catch (const std::system_error& error) {
    bridge::CloseDevice(&link->device);
    bridge::WriteMessage(Line("cannot start writing to the panel device", path, error.what()));
    return 0;
  }
  const std::lock_guard<std::mutex> lock(shared.mutex);
  shared.link = std::move(link);
  return 1;
}

// Delivers what is still queued to a panel that takes it, within the bound
// for each packet, and closes the device. True when every packet taken since
// Init reached the device.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Uninit() {
  std::unique_lock<std::mutex> lock(TheShared().mutex);
  return CloseLink(&lock) ? 1 : 0;
}

// True while the panel's device is open and has not gone away.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_IsInited() {
  const std::lock_guard<std::mutex> lock(TheShared().mutex);
  const std::shared_ptr<Link>& link = TheShared().link;
  return link && !link->gone ? 1 : 0;
}

// Queues one packet, its 8 bytes in memory order, for the writer; true when
// it was queued. False, and counted, when no device is open, the device has
// gone, or the panel has taken nothing for kBound. Any thread.
VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* bytes) {
  if (bytes == nullptr) {
    g_failed_writes.fetch_add(1);
    return 0;
  }
  Packet packet;
  std::copy(bytes, bytes + kPacketSize, packet.begin());
  Shared& shared = TheShared();
  std::string line;
  int queued = 0;
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    const std::shared_ptr<Link> link = shared.link;
    const auto usable = [&] { return link && shared.link == link && !link->gone; };
    if (usable() && link->queue.size() >= kQueueCapacity && !link->dropping) {
      WaitForWriter(&lock, link.get(), Clock::now() + 2 * kBound, Clock::time_point{},
                    [&] { return !usable() || link->queue.size() < kQueueCapacity; });
    }
    if (usable() && link->queue.size() < kQueueCapacity) {
      link->queue.push_back(packet);
      shared.changed.notify_all();
      queued = 1;
    } else if (usable()) {
      link->dropping = true;
      ReportOnce(link.get(), &line,
                 Line("the panel device", link->path,
                      "it has not taken a packet for " + std::to_string(kBound.count()) +
                          " ms; packets are dropped until it takes one again"));
    }
  }
  if (queued == 0) {
    g_failed_writes.fetch_add(1);
  }
  if (!line.empty()) {
    bridge::WriteMessage(line);
  }
  return queued;
}

// The bridge's own: the number of packets since the library was loaded that
// never reached the device: refused by iMONLCD_SendData (no device open, the
// device gone, the panel taking nothing), failed in the write, or dropped
// from the queue (the device went away, or the panel stopped answering).
VENDOR_EXPORT std::uint64_t VxBridge_FailedWrites() {
  return g_failed_writes.load();
}

}  // extern "C"
