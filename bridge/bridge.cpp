// The bridge to a real panel: a library in the shape of the panel vendor's,
// under its file name, that hands each command packet to the display device
// of the kernel's imon driver (/dev/lcd0, or the device that
// VESTRIX_PANEL_DEVICE names). It offers the vendor's functions that an LCD
// panel needs, and VxBridge_FailedWrites, which is the bridge's own.
//
// Every packet reaches the device whole and on its own, although the host's
// thread and the plug-in's icon thread send at the same time:
// - one mutex serialises all use of the device, so the two threads' packets
//   follow one another and a write never runs while Uninit closes the device;
// - each packet goes out in one write of its 8 bytes. The imon driver takes
//   exactly 8 bytes a write, under a mutex of its own per device, and sends
//   them as one packet; a FIFO standing in for the device writes up to
//   PIPE_BUF bytes (at least 512) in one piece. So even another program that
//   writes to the same device cannot split a packet.
// A short write would be finished under the same lock, so even then no other
// packet could come between its parts.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "bridge/device.h"
#include "plugin/vendor_functions.h"

namespace {

constexpr char kDeviceVariable[] = "VESTRIX_PANEL_DEVICE";
constexpr char kDefaultDevice[] = "/dev/lcd0";
constexpr std::size_t kPacketSize = 8;

std::mutex g_mutex;
// The device's path as last opened, for messages. Needs g_mutex.
std::string g_path;
// Whether the latest failure has been reported; a write that gets through
// clears it, so a device that fails again is reported again. Needs g_mutex.
bool g_failure_reported = false;

std::atomic<std::uint64_t> g_failed_writes{0};

std::string DevicePath() {
  const std::string path = bridge::EnvironmentValue(kDeviceVariable);
  return path.empty() ? kDefaultDevice : path;
}

// One line on standard error, for the user who wonders why the panel stays dark.
void Report(const char* what, const std::string& why) {
  bridge::WriteMessage(std::string("sg_vfd bridge: ") + what + " " + g_path + ": " + why);
}

}  // namespace

extern "C" {

// Opens the panel's device; true when it is open. The two arguments carry the
// host's wishes for the vendor's own driver and mean nothing to the device.
// A start while the device is open closes and opens it again, so that a panel
// plugged in anew is found.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int /*first*/, int /*second*/) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_path = DevicePath();
  g_failure_reported = false;
  std::string why;
  if (!bridge::OpenDevice(g_path.c_str(), &why)) {
    Report("cannot open the panel device", why + " (" + kDeviceVariable + " chooses another)");
    return 0;
  }
  return 1;
}

// Closes the panel's device; always true.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Uninit() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  bridge::CloseDevice();
  return 1;
}

// True while the panel's device is open.
VENDOR_EXPORT int VENDOR_CALL iMONVFD_IsInited() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  return bridge::DeviceIsOpen() ? 1 : 0;
}

// Sends one packet, its 8 bytes in memory order; true when it went out whole.
// A packet that cannot be written is counted and dropped: the panel misses it,
// the host carries on. Any thread.
VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* packet) {
  if (packet == nullptr) {
    g_failed_writes.fetch_add(1);
    return 0;
  }
  const std::lock_guard<std::mutex> lock(g_mutex);
  std::string why;
  if (!bridge::WriteDevice(packet, kPacketSize, &why)) {
    g_failed_writes.fetch_add(1);
    if (!g_failure_reported && bridge::DeviceIsOpen()) {
      Report("cannot write to the panel device", why + "; packets are dropped until it works");
      g_failure_reported = true;
    }
    return 0;
  }
  g_failure_reported = false;
  return 1;
}

// The bridge's own: the number of packets that iMONLCD_SendData could not
// write whole since the library was loaded (the write failed, the device took
// nothing within its bound, or no device was open).
VENDOR_EXPORT std::uint64_t VxBridge_FailedWrites() {
  return g_failed_writes.load();
}

}  // extern "C"
