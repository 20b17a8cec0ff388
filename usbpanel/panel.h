// An emulated iMON LCD on USB/IP: a USB device served over a local TCP
// connection and attached to the kernel's virtual host controller (vhci_hcd),
// so that the kernel's own imon driver binds to it and makes its display
// device (/dev/lcd0). Every display packet the device receives is recorded,
// the driver's own at binding told apart from the host's, and each host
// packet it takes goes into the panel emulator's model, which draws the same
// pictures as the emulator library. On command it misbehaves as a failing
// panel does: it stalls a transfer, stops answering, is unplugged in the
// middle of a stream and plugged in again.
//
// One Panel serves one device at a time. Its functions may be called from any
// thread; a thread of its own serves the connection.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/model.h"
#include "emulator/panel_api.h"
#include "usbpanel/usbip.h"

namespace usbpanel {

inline constexpr std::uint16_t kVendor = 0x15C2;
// A product the imon driver's table lists as an LCD.
inline constexpr std::uint16_t kProductLcd = 0x0038;
// A product shared by many of the vendor's devices: the driver tells the
// display from byte 6 of the device's first interrupt report (0x9F, an LCD).
inline constexpr std::uint16_t kProductShared = 0xFFDC;

// How the device presents itself to the driver.
struct Shape {
  std::uint16_t product = kProductLcd;
  // Display packets come as interrupt OUT transfers on endpoint 0x02; without
  // that endpoint the driver sends each as a SET_REPORT control transfer.
  bool out_endpoint = true;
};

enum class Origin : std::uint8_t {
  kDriver,  // sent by the driver itself while binding to the device
  kHost,    // written by a program to the display device
};

enum class Outcome : std::uint8_t {
  kTaken,       // answered as delivered: the panel shows it
  kStalled,     // refused with a stall
  kUnanswered,  // never answered (the panel hung); the driver took it back
};

// One display packet as the device received it.
struct Packet {
  std::array<std::uint8_t, 8> bytes{};
  Origin origin = Origin::kHost;
  bool control = false;  // came as SET_REPORT, not on the OUT endpoint
  Outcome outcome = Outcome::kTaken;
  std::uint32_t plug = 0;  // 1 while plugged in the first time, 2 the second, ...
};

// "4000000000000088 driver" and the like, for logs and test messages.
std::string DescribeRecord(const Packet& packet);

class Panel {
 public:
  explicit Panel(Shape shape);
  ~Panel();  // unplugs the device
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // Serves USB/IP on `connection`, a connected stream socket, until its other
  // end closes it; the panel owns the socket from here. Plug does this with
  // the kernel at the other end; a test may hold that end itself.
  void Serve(int connection);

  // Plugs the device in: attaches it to the virtual host controller, then
  // waits up to `timeout` until the imon driver has bound to it and its
  // display device exists. False with the reason in `*why` otherwise.
  bool Plug(std::chrono::milliseconds timeout, std::string* why);

  // Unplugs the device (when still plugged in) and waits up to `timeout`
  // until the connection has closed and the display device has gone.
  bool Unplug(std::chrono::milliseconds timeout, std::string* why);

  // The display device the driver made, e.g. /dev/lcd0; empty when none.
  std::string DevicePath() const;

  // Misbehaviour on command, for the host's packets only:
  // the next packet is refused with a stall;
  void StallNext();
  // while hanging no packet is answered; when it ends, those still waiting
  // for their answer are taken and answered;
  void SetHanging(bool hanging);
  // the device unplugs itself right after taking that many more packets.
  void UnplugAfter(std::uint64_t packets);

  // Every display packet so far, in the order received.
  std::vector<Packet> Packets() const;
  // The emulator's model of what the host's packets put on the panel.
  VxPanelState State() const;
  // Waits up to `timeout` until `done(Packets())` holds; returns its last answer.
  bool WaitFor(const std::function<bool(const std::vector<Packet>&)>& done,
               std::chrono::milliseconds timeout) const;

  // From now on the state goes whole into the file `path` after every packet
  // taken, before it is answered, for hostsim --panel-state to show. Empty:
  // no file.
  void PublishStateTo(const std::string& path);
  // Called with every packet as it is recorded, and with a line for every
  // plug and unplug (the tool prints them). Not called under the panel's lock.
  void SetObserver(std::function<void(const std::string& line)> observer);

 private:
  struct Waiting {
    std::uint32_t seqnum;
    std::size_t record;  // index into packets_
  };

  void ServeLoop(int connection);
  void HandleSubmit(const Request& request, const std::vector<std::uint8_t>& data);
  void HandleUnlink(const Request& request);
  // A display packet; `seqnum` is its transfer's.
  void HandlePacket(std::uint32_t seqnum, const std::uint8_t* bytes, bool control);
  // Sends one message on the connection, if it is still open.
  void Reply(const std::vector<std::uint8_t>& message);
  // Applies a host packet to the model and publishes the state. Needs mutex_.
  void Take(std::size_t record);
  bool Detach(std::string* why);
  void Notify(const std::string& line);

  const Shape shape_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::mutex send_mutex_;  // one message at a time on the connection
  int connection_ = -1;    // the connection being served; needs send_mutex_

  // Needs mutex_:
  std::thread server_;
  bool serving_ = false;
  int port_ = -1;  // the virtual host controller's port while plugged in
  std::uint32_t plug_ = 0;
  int driver_packets_left_ = 0;                 // the driver's own packets still to come at binding
  bool report_sent_ = false;                    // the first interrupt report of this plug
  std::vector<std::uint32_t> pending_reports_;  // interrupt IN transfers left waiting
  std::vector<Waiting> waiting_;                // host packets left unanswered
  std::vector<Packet> packets_;
  emulator::PanelModel model_;
  bool stall_next_ = false;
  bool hanging_ = false;
  std::uint64_t unplug_after_ = 0;  // 0: no unplug planned
  bool unplugging_ = false;         // the planned unplug is under way
  std::string state_path_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace usbpanel
