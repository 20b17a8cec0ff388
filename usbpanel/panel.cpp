// The emulated panel's USB side: its descriptors, the answers the driver
// expects, the display packets, the faults, and the attachment through the
// virtual host controller's files in sysfs.
#include "usbpanel/panel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/decode.h"
#include "emulator/state_file.h"

namespace usbpanel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr char kVhci[] = "/sys/devices/platform/vhci_hcd.0";
constexpr char kDisplayClass[] = "/sys/class/usbmisc";

// The device as the driver sees it: USB 1.1, full speed, no strings, one
// configuration with one vendor-specific interface.
constexpr std::uint8_t kMaxPacket0 = 64;
constexpr std::uint32_t kFullSpeed = 2;
// Any device number will do; the controller hands it back in every request.
constexpr std::uint32_t kDeviceId = 0x00010002;
constexpr std::uint8_t kInEndpoint = 0x81;
constexpr std::uint8_t kOutEndpoint = 0x02;
constexpr std::uint8_t kPacketSize = 8;
constexpr std::uint8_t kInterval = 10;

// The first interrupt report of the shared product: bytes 0..2 all 0xFF make
// the driver take it for idle noise rather than a key, and byte 6 says "LCD".
constexpr std::array<std::uint8_t, 8> kLcdReport = {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x9F, 0};

// While binding, the driver sends two packets of its own: the front panel's
// buttons on (command byte 0x88), then the remote's protocol (0x86).
constexpr int kDriverPackets = 2;

// Standard and class requests on the control pipe.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kSetInterface = 0x0B;
constexpr std::uint8_t kSetReport = 0x09;  // class request to the interface
constexpr std::uint8_t kClassToInterface = 0x21;
constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;

std::uint8_t Low(std::uint16_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint8_t High(std::uint16_t value) {
  return static_cast<std::uint8_t>(value >> 8);
}

std::vector<std::uint8_t> DeviceDescriptor(const Shape& shape) {
  return {18,
          kDescriptorDevice,
          0x10,
          0x01,  // USB 1.1
          0,
          0,
          0,
          kMaxPacket0,
          Low(kVendor),
          High(kVendor),
          Low(shape.product),
          High(shape.product),
          0x00,
          0x01,  // device release 1.00
          0,
          0,
          0,   // no strings
          1};  // one configuration
}

std::vector<std::uint8_t> ConfigurationDescriptor(const Shape& shape) {
  const std::uint8_t endpoints = shape.out_endpoint ? 2 : 1;
  const auto total = static_cast<std::uint16_t>(9 + 9 + 7 * endpoints);
  std::vector<std::uint8_t> descriptor = {9,           kDescriptorConfiguration,
                                          Low(total),  High(total),
                                          1,           1,
                                          0,           0x80,
                                          50,  // bus powered
                                          9,           4,
                                          0,           0,
                                          endpoints,   0xFF,
                                          0,           0,
                                          0,  // vendor class
                                          7,           5,
                                          kInEndpoint, 3,
                                          kPacketSize, 0,
                                          kInterval};  // interrupt IN
  if (shape.out_endpoint) {
    descriptor.insert(descriptor.end(), {7, 5, kOutEndpoint, 3, kPacketSize, 0, kInterval});
  }
  return descriptor;
}

// Calls `io(offset)` until `size` bytes have gone through, again when a
// signal interrupted it; false when the connection fails or has ended.
template <typename Io>
bool Whole(std::size_t size, Io io) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t result = io(done);
    if (result > 0) {
      done += static_cast<std::size_t>(result);
    } else if (result == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool ReadAll(int fd, std::uint8_t* bytes, std::size_t size) {
  return Whole(size, [&](std::size_t done) { return read(fd, bytes + done, size - done); });
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  return Whole(size,
               [&](std::size_t done) { return send(fd, bytes + done, size - done, MSG_NOSIGNAL); });
}

bool WriteSysfs(const std::string& file, const std::string& text, std::string* why) {
  std::FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    *why = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fputs(text.c_str(), out) >= 0;
  const int error = errno;
  if (std::fclose(out) != 0 || !written) {
    *why = "cannot write '" + text + "' to " + file + ": " + std::strerror(written ? errno : error);
    return false;
  }
  return true;
}

// A free full-speed port of the virtual host controller, from its status
// file: lines "hs  0003 004 ..." name the hub, the port and its state, 4
// meaning free.
int FreePort(std::string* why) {
  std::ifstream status(std::string(kVhci) + "/status");
  if (!status) {
    *why = std::string("no virtual USB host controller (") + kVhci +
           "): the kernel lacks the module vhci-hcd";
    return -1;
  }
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string hub;
    int port = -1;
    int state = -1;
    if (fields >> hub >> port >> state && hub == "hs" && state == 4) {
      return port;
    }
  }
  *why = "the virtual USB host controller has no free port";
  return -1;
}

// A TCP connection over loopback; the two ends in `ends`, the kernel's first.
bool Connect(int ends[2], std::string* why) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ends[0] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ends[1] = -1;
  const bool connected =
      listener >= 0 && ends[0] >= 0 &&
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener, 1) == 0 &&
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      connect(ends[0], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      (ends[1] = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
  const int error = errno;
  if (listener >= 0) {
    close(listener);
  }
  if (!connected) {
    *why = std::string("cannot connect over loopback (is the interface lo up?): ") +
           std::strerror(error);
    for (int i = 0; i < 2; ++i) {
      if (ends[i] >= 0) {
        close(ends[i]);
      }
    }
    return false;
  }
  const int on = 1;
  setsockopt(ends[1], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

// The display devices the imon driver has made, e.g. "/dev/lcd0".
std::vector<std::string> DisplayDevices() {
  std::vector<std::string> devices;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kDisplayClass, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("lcd", 0) == 0 && fs::exists("/dev/" + name, error)) {
      devices.push_back("/dev/" + name);
    }
  }
  std::sort(devices.begin(), devices.end());
  return devices;
}

std::string Hex(const std::array<std::uint8_t, 8>& bytes) {
  char text[17];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  }
  return text;
}

}  // namespace

std::string DescribeRecord(const Packet& packet) {
  static const char* const kOutcomes[] = {"", " STALLED", " UNANSWERED"};
  std::string line =
      Hex(packet.bytes) + (packet.origin == Origin::kDriver ? " driver" : " host  ") +
      (packet.control ? " control  " : " interrupt") + kOutcomes[static_cast<int>(packet.outcome)];
  if (packet.origin == Origin::kHost) {
    line += "  " + emulator::DescribePacket(packet.bytes.data());
  }
  return line;
}

Panel::Panel(Shape shape) : shape_(shape) {}

Panel::~Panel() {
  std::string why;
  Unplug(milliseconds(5000), &why);
}

void Panel::Serve(int connection) {
  if (server_.joinable()) {
    server_.join();  // the last connection's, which has ended (Plug checks)
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  ++plug_;
  driver_packets_left_ = kDriverPackets;
  report_sent_ = false;
  unplugging_ = false;
  pending_reports_.clear();
  waiting_.clear();
  serving_ = true;
  {
    const std::lock_guard<std::mutex> send_lock(send_mutex_);
    connection_ = connection;
  }
  server_ = std::thread(&Panel::ServeLoop, this, connection);
}

void Panel::ServeLoop(int connection) {
  for (;;) {
    std::uint8_t header[kHeaderSize];
    if (!ReadAll(connection, header, sizeof header)) {
      break;
    }
    const Request request = ParseRequest(header);
    if (request.command == kCommandUnlink) {
      HandleUnlink(request);
      continue;
    }
    // Nothing the driver sends comes near this; more is a broken stream.
    constexpr std::uint32_t kLongestTransfer = 4096;
    if (request.command != kCommandSubmit || request.length > kLongestTransfer) {
      break;
    }
    std::vector<std::uint8_t> data;
    if (request.direction == kDirectionOut) {
      data.resize(request.length);
      if (!ReadAll(connection, data.data(), data.size())) {
        break;
      }
    }
    HandleSubmit(request, data);
  }
  {
    const std::lock_guard<std::mutex> send_lock(send_mutex_);
    close(connection);
    connection_ = -1;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  serving_ = false;
  port_ = -1;
  changed_.notify_all();
}

void Panel::HandleSubmit(const Request& request, const std::vector<std::uint8_t>& data) {
  const std::uint32_t seqnum = request.seqnum;
  if (request.endpoint == (kInEndpoint & 0x0F) && request.direction == kDirectionIn) {
    // The shared product's first report tells the driver it is an LCD; after
    // it, as before it for the other product, no key is ever pressed.
    std::unique_lock<std::mutex> lock(mutex_);
    if (shape_.product == kProductShared && !report_sent_) {
      report_sent_ = true;
      lock.unlock();
      Reply(SubmitReply(seqnum, kStatusOk, kPacketSize, {kLcdReport.begin(), kLcdReport.end()}));
    } else {
      pending_reports_.push_back(seqnum);
    }
    return;
  }
  if (request.endpoint == kOutEndpoint && request.direction == kDirectionOut &&
      shape_.out_endpoint && data.size() == kPacketSize) {
    HandlePacket(seqnum, data.data(), false);
    return;
  }
  if (request.endpoint != 0) {
    Reply(SubmitReply(seqnum, kStatusStall, 0));
    return;
  }
  const std::uint8_t type = request.setup[0];
  const std::uint8_t code = request.setup[1];
  const std::uint8_t descriptor = request.setup[3];
  const auto wanted = static_cast<std::size_t>(request.setup[6] | request.setup[7] << 8);
  std::vector<std::uint8_t> answer;
  if (type == kClassToInterface && code == kSetReport && data.size() == kPacketSize) {
    HandlePacket(seqnum, data.data(), true);
    return;
  }
  if (type == 0x80 && code == kGetDescriptor && descriptor == kDescriptorDevice) {
    answer = DeviceDescriptor(shape_);
  } else if (type == 0x80 && code == kGetDescriptor && descriptor == kDescriptorConfiguration) {
    answer = ConfigurationDescriptor(shape_);
  } else if (type == 0x80 && code == kGetStatus) {
    answer = {0, 0};
  } else if ((type == 0x00 && code == kSetConfiguration) ||
             (type == 0x01 && code == kSetInterface) || (type <= 0x02 && code == kClearFeature)) {
    Reply(SubmitReply(seqnum, kStatusOk, 0));
    return;
  } else {
    Reply(SubmitReply(seqnum, kStatusStall, 0));
    return;
  }
  answer.resize(std::min(answer.size(), wanted));
  Reply(SubmitReply(seqnum, kStatusOk, static_cast<std::uint32_t>(answer.size()), answer));
}

void Panel::HandleUnlink(const Request& request) {
  std::int32_t status = kStatusOk;  // already answered
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto report =
        std::find(pending_reports_.begin(), pending_reports_.end(), request.unlink_seqnum);
    const auto packet = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
      return w.seqnum == request.unlink_seqnum;
    });
    if (report != pending_reports_.end()) {
      pending_reports_.erase(report);
      status = kStatusUnlinked;
    } else if (packet != waiting_.end()) {
      waiting_.erase(packet);
      status = kStatusUnlinked;
    }
  }
  Reply(UnlinkReply(request.seqnum, status));
}

void Panel::HandlePacket(std::uint32_t seqnum, const std::uint8_t* bytes, bool control) {
  Packet packet;
  std::copy_n(bytes, packet.bytes.size(), packet.bytes.begin());
  packet.control = control;
  bool unplug = false;
  std::int32_t status = kStatusOk;
  bool answer = true;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    packet.plug = plug_;
    const std::size_t record = packets_.size();
    if (driver_packets_left_ > 0) {
      --driver_packets_left_;
      packet.origin = Origin::kDriver;
      packets_.push_back(packet);
    } else if (unplugging_) {
      // Unplugged in the middle of the stream: what follows the last packet
      // taken is lost with the device.
      packet.outcome = Outcome::kUnanswered;
      packets_.push_back(packet);
      answer = false;
    } else if (stall_next_) {
      stall_next_ = false;
      packet.outcome = Outcome::kStalled;
      packets_.push_back(packet);
      status = kStatusStall;
    } else if (hanging_) {
      packet.outcome = Outcome::kUnanswered;
      packets_.push_back(packet);
      waiting_.push_back(Waiting{seqnum, record});
      answer = false;
    } else {
      packets_.push_back(packet);
      Take(record);
      unplug = unplug_after_ > 0 && --unplug_after_ == 0;
      unplugging_ = unplug;
    }
    changed_.notify_all();
  }
  Notify(DescribeRecord(packet));
  if (answer) {
    Reply(SubmitReply(seqnum, status, status == kStatusOk ? kPacketSize : 0));
  }
  if (unplug) {
    std::string why;
    if (!Detach(&why)) {
      Notify("cannot unplug: " + why);
    }
  }
}

void Panel::Take(std::size_t record) {
  Packet& packet = packets_[record];
  packet.outcome = Outcome::kTaken;
  model_.ApplyPacket(packet.bytes.data(), 1);
  if (!state_path_.empty()) {
    std::string why;
    if (!emulator::WriteStateFile(state_path_, model_.State(), &why)) {
      std::fprintf(stderr, "usbpanel: cannot write the state file %s: %s\n", state_path_.c_str(),
                   why.c_str());
      state_path_.clear();
    }
  }
}

void Panel::Reply(const std::vector<std::uint8_t>& message) {
  const std::lock_guard<std::mutex> lock(send_mutex_);
  // A connection that fails is noticed by the reading loop, which ends.
  if (connection_ >= 0) {
    WriteAll(connection_, message.data(), message.size());
  }
}

bool Panel::Plug(std::chrono::milliseconds timeout, std::string* why) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (serving_) {
      *why = "the panel is plugged in already";
      return false;
    }
  }
  const int port = FreePort(why);
  int ends[2];
  if (port < 0 || !Connect(ends, why)) {
    return false;
  }
  // The controller takes the connection from the process that names its
  // descriptor, then holds its own reference.
  const bool attached = WriteSysfs(std::string(kVhci) + "/attach",
                                   std::to_string(port) + " " + std::to_string(ends[0]) + " " +
                                       std::to_string(kDeviceId) + " " + std::to_string(kFullSpeed),
                                   why);
  close(ends[0]);
  if (!attached) {
    close(ends[1]);
    return false;
  }
  Serve(ends[1]);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    port_ = port;
  }
  Notify("plugged in, port " + std::to_string(port) + ", product " +
         (shape_.product == kProductShared ? "ffdc" : "0038") +
         (shape_.out_endpoint ? ", interrupt OUT" : ", SET_REPORT"));
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const bool bound =
      changed_.wait_until(lock, deadline, [&] { return driver_packets_left_ == 0 || !serving_; });
  lock.unlock();
  while (bound && DevicePath().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  if (!DevicePath().empty()) {
    Notify("the driver has bound: " + DevicePath());
    return true;
  }
  *why = bound ? "the imon driver made no display device (is the module imon loaded?)"
               : "the imon driver did not bind to the device (is the module imon loaded?)";
  std::string ignored;
  Unplug(timeout, &ignored);
  return false;
}

bool Panel::Detach(std::string* why) {
  int port = -1;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::swap(port, port_);
  }
  if (port < 0) {
    return true;
  }
  Notify("unplugged");
  return WriteSysfs(std::string(kVhci) + "/detach", std::to_string(port), why);
}

bool Panel::Unplug(std::chrono::milliseconds timeout, std::string* why) {
  const bool detached = Detach(why);
  std::unique_lock<std::mutex> lock(mutex_);
  const bool closed = changed_.wait_for(lock, timeout, [&] { return !serving_; });
  lock.unlock();
  if (!closed) {
    // The other end keeps the connection: end it from this side.
    {
      const std::lock_guard<std::mutex> send_lock(send_mutex_);
      if (connection_ >= 0) {
        shutdown(connection_, SHUT_RDWR);
      }
    }
    *why = "the connection did not close when the device was unplugged";
  }
  if (server_.joinable()) {
    server_.join();
  }
  if (!detached || !closed) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!DevicePath().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  if (!DevicePath().empty()) {
    *why = "the display device " + DevicePath() + " stayed after the device was detached";
    return false;
  }
  return true;
}

std::string Panel::DevicePath() const {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!serving_) {
      return {};
    }
  }
  const std::vector<std::string> devices = DisplayDevices();
  return devices.empty() ? std::string() : devices.front();
}

void Panel::StallNext() {
  const std::lock_guard<std::mutex> lock(mutex_);
  stall_next_ = true;
}

void Panel::SetHanging(bool hanging) {
  std::vector<Waiting> answered;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    hanging_ = hanging;
    answered.swap(waiting_);
    for (const Waiting& waiting : answered) {
      Take(waiting.record);
    }
    changed_.notify_all();
  }
  for (const Waiting& waiting : answered) {
    Reply(SubmitReply(waiting.seqnum, kStatusOk, kPacketSize));
  }
}

void Panel::UnplugAfter(std::uint64_t packets) {
  const std::lock_guard<std::mutex> lock(mutex_);
  unplug_after_ = packets;
}

std::vector<Packet> Panel::Packets() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return packets_;
}

VxPanelState Panel::State() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return model_.State();
}

bool Panel::WaitFor(const std::function<bool(const std::vector<Packet>&)>& done,
                    std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(packets_); });
}

void Panel::PublishStateTo(const std::string& path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  state_path_ = path;
  if (!path.empty()) {
    std::string why;
    if (!emulator::WriteStateFile(path, model_.State(), &why)) {
      std::fprintf(stderr, "usbpanel: cannot write the state file %s: %s\n", path.c_str(),
                   why.c_str());
      state_path_.clear();
    }
  }
}

void Panel::SetObserver(std::function<void(const std::string&)> observer) {
  const std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

void Panel::Notify(const std::string& line) {
  std::function<void(const std::string&)> observer;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    observer = observer_;
  }
  if (observer) {
    observer(line);
  }
}

}  // namespace usbpanel
