// The bridge to a real panel, with a FIFO standing in for the panel's device:
// the plug-in's packets arrive whole, in order and as the recording vendor
// library sees them; a missing device gives the plug-in's message; a device
// that fails or takes nothing neither crashes nor holds up the plug-in; and
// hostsim drives the device through the bridge.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/tests/standin.h"
#include "emulator/model.h"
#include "hostsim/cli.h"
#include "panel/packet.h"
#include "plugin/vendor_functions.h"
#include "tests/support/plugin_fixture.h"

namespace testing_support {
namespace {

using bridge_test::FifoPath;
using bridge_test::FifoReader;
using std::chrono::milliseconds;

constexpr char kDeviceVariable[] = "VESTRIX_PANEL_DEVICE";
constexpr char kDisplayNotFound[] =
    "VESTRIX.DLL: Unable to Initialize the display. Display hardware not found";
constexpr std::uint8_t kFanOn = 2;
constexpr std::uint8_t kFanBlink = 3;

std::string BridgeDirectory() {
  return VESTRIX_TEST_BRIDGE_DIR;
}

std::string BridgePath() {
  return BridgeDirectory() + "/" + platform::kVendorLibraryName;
}

// The bridge's count of packets it could not write.
std::uint64_t FailedWrites(platform::Library* bridge) {
  std::uint64_t (*failed)() = nullptr;
  platform::Resolve(bridge, "VxBridge_FailedWrites", &failed);
  EXPECT_NE(failed, nullptr);
  return failed != nullptr ? failed() : 0;
}

std::vector<PacketBytes> Split(const std::vector<std::uint8_t>& bytes) {
  std::vector<PacketBytes> packets(bytes.size() / 8);
  for (std::size_t i = 0; i < packets.size(); ++i) {
    std::memcpy(packets[i].data(), bytes.data() + 8 * i, 8);
  }
  return packets;
}

// The model the emulator builds from `packets`.
VxPanelState Decode(const std::vector<PacketBytes>& packets) {
  emulator::PanelModel model;
  for (const PacketBytes& packet : packets) {
    model.ApplyPacket(packet.data(), 1);
  }
  return model.State();
}

std::string Art(const VxPanelState& state) {
  Picture picture{};
  std::memcpy(picture.data(), state.picture, picture.size());
  return PictureArt(picture);
}

// The device's bytes are the host thread's packets in order, whole, with only
// the icon thread's packets between them, which come at its own pace.
void ExpectSamePackets(const std::vector<std::uint8_t>& bytes,
                       const std::vector<PacketBytes>& host_packets) {
  ASSERT_EQ(bytes.size() % 8, 0u) << "a packet arrived in part";
  const std::vector<PacketBytes> device = WithoutClockTime(Split(bytes));
  const std::vector<PacketBytes> host = WithoutClockTime(host_packets);
  std::size_t next = 0;
  for (const PacketBytes& packet : device) {
    if (next < host.size() && packet == host[next]) {
      ++next;
    } else {
      EXPECT_EQ(packet[7], panel::kIcons) << "unexpected packet " << Hex(packet);
    }
  }
  EXPECT_EQ(next, host.size()) << "the device received:\n"
                               << Hex(device) << "the host's thread sent:\n"
                               << Hex(host);
}

class BridgeTest : public PluginTest {
 protected:
  void TearDown() override {
    CloseIfOpen();
    platform::CloseLibrary(bridge_);
    bridge_ = nullptr;
    PluginTest::TearDown();
    bridge_test::SetEnvironment(kDeviceVariable, nullptr);
  }

  // The plug-in finds the bridge as its vendor library, and the bridge `device`.
  // The test holds a reference of its own to the bridge, so that its counter
  // outlasts the plug-in's use of it.
  void UseBridge(const std::string& device) {
    platform::CloseLibrary(bridge_);
    bridge_ = nullptr;
    ForgetVendor();
    platform::SetLibraryDirectory(BridgeDirectory().c_str());
    bridge_test::SetEnvironment(kDeviceVariable, device.c_str());
    bridge_ = platform::OpenLibrary(BridgePath().c_str());
    ASSERT_NE(bridge_, nullptr);
  }

  std::uint64_t FailedWrites() { return testing_support::FailedWrites(bridge_); }

  platform::Library* bridge_ = nullptr;

  // A fresh copy of the plug-in, as after a restart of the host.
  void ReloadPlugin() {
    UnloadPlugin();
    LoadPlugin();
  }
};

struct SessionCase {
  const char* name;
  std::uint8_t width;
  std::uint8_t height;
  const char* parameters;  // chooses the shutdown mode
};

void PrintTo(const SessionCase& c, std::ostream* out) {
  *out << c.name;
}

class BridgeSession : public BridgeTest, public ::testing::WithParamInterface<SessionCase> {
 protected:
  // Start, text in two places with a custom character, steady and blinking
  // icons and the ring, contrast; everything but the end.
  void PlayUntilDone() {
    const SessionCase& c = GetParam();
    bool ok = false;
    ASSERT_EQ(Init(c.width, c.height, c.parameters, &ok), nullptr);
    api_.SetPosition(1, 1);
    api_.Write("Caf\x96 42\x9c");
    static const std::uint8_t kBell[8] = {0x04, 0x0e, 0x0e, 0x0e, 0x1f, 0x00, 0x04, 0x00};
    api_.CustomChar(1, kBell);
    api_.SetPosition(3, c.height);
    api_.Write("\x08 ok");
    api_.SetFan(kFanOn, 7);
    api_.SetFan(kFanBlink, 3);
    api_.SetFan(kFanOn, 51);
    api_.SetContrast(40);
    api_.Write("!");
  }
};

TEST_P(BridgeSession, ReachesTheDeviceWholeInOrderAndAsRecorded) {
  // The session with the recording vendor library first.
  PlayUntilDone();
  const std::vector<PacketBytes> recorded_open = SentPackets();
  const std::size_t host_open = SentPackets(true).size();
  Close();
  const std::vector<PacketBytes> recorded_host = SentPackets(true);

  // The same session through the bridge; the device is read once Done has
  // returned, which delivers everything still on its way.
  ReloadPlugin();
  UseBridge(FifoPath());
  FifoReader reader;
  ASSERT_TRUE(reader.IsOpen()) << "no FIFO at '" << FifoPath() << "'";
  const std::uint64_t failed_before = FailedWrites();
  PlayUntilDone();
  Close();
  const std::vector<std::uint8_t> bytes = reader.Drain();

  ExpectSamePackets(bytes, recorded_host);
  EXPECT_EQ(FailedWrites(), failed_before);
#if !defined(_WIN32)
  EXPECT_TRUE(reader.WritersGone()) << "Uninit left the device open";
#endif

  // What the emulator makes of them: the same panel, text and all, before
  // Done (up to the last of the host thread's packets until then) and after.
  ASSERT_EQ(bytes.size() % 8, 0u);
  const std::vector<PacketBytes> device = Split(bytes);
  const std::vector<PacketBytes> host = WithoutClockTime(recorded_host);
  std::size_t matched = 0;
  std::size_t split = 0;
  while (split < device.size() && matched < host_open) {
    if (WithoutClockTime({device[split++]})[0] == host[matched]) {
      ++matched;
    }
  }
  const VxPanelState bridged =
      Decode(std::vector<PacketBytes>(device.begin(), device.begin() + static_cast<long>(split)));
  const VxPanelState recorded = Decode(recorded_open);
  EXPECT_EQ(Art(bridged), Art(recorded));
  EXPECT_NE(Art(bridged), Art(VxPanelState{})) << "the session drew nothing";
  EXPECT_EQ(bridged.contrast, recorded.contrast);
  EXPECT_EQ(bridged.unknown_packets, 0u);
  const VxPanelState bridged_end = Decode(device);
  EXPECT_EQ(Art(bridged_end), Art(Decode(SentPackets())));
  EXPECT_EQ(bridged_end.mode, Decode(SentPackets()).mode);
  EXPECT_EQ(bridged_end.icons, 0u);
}

INSTANTIATE_TEST_SUITE_P(ScreenAndShutdownModes, BridgeSession,
                         ::testing::Values(SessionCase{"TwoLinesClock", 16, 2, "clock"},
                                           SessionCase{"OneLineOff", 16, 1, "off"},
                                           SessionCase{"TwoLinesMessage", 16, 2, "message"},
                                           SessionCase{"OneLineMessage", 16, 1, "message"}),
                         [](const ::testing::TestParamInfo<SessionCase>& case_info) {
                           return case_info.param.name;
                         });

TEST_F(BridgeTest, DeviceThatCannotBeOpenedGivesThePluginsMessage) {
  std::vector<std::string> devices = {FifoPath() + ".missing"};
#if !defined(_WIN32)
  // Under Wine a FIFO opens also without a reader: Wine opens it for reading too.
  devices.push_back(FifoPath());
#endif
  for (const std::string& device : devices) {
    UseBridge(device);
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(Init(16, 2, "", &ok), kDisplayNotFound) << device;
    EXPECT_FALSE(ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000)) << device;
    Close();
  }
}

struct FailureCase {
  const char* name;
  bool fifo;  // a FIFO whose reader goes away; else a device whose writes fail
};

void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.name;
}

class FailingDevice : public BridgeTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailingDevice, NeitherCrashesNorHoldsUpThePlugin) {
#if defined(_WIN32)
  if (GetParam().fifo) {
    GTEST_SKIP() << "under Wine the bridge's own handle reads from the FIFO too, so its "
                    "reader cannot go away";
  }
#endif
  std::optional<FifoReader> reader;
  if (GetParam().fifo) {
    reader.emplace();
  }
  UseBridge(GetParam().fifo ? FifoPath() : "/dev/full");
  Open("clock");
  api_.Write("Hello");
  const std::uint64_t failed_before = FailedWrites();
  if (reader) {
    reader->Close();
  }
  for (int i = 0; i < 3; ++i) {
    api_.SetFan(kFanBlink, static_cast<std::uint8_t>(i));
    api_.Write("World");
  }
  EXPECT_LT(Close(), milliseconds(2500));
  // Every write since failed: three pictures at least; the reset and the clock.
  EXPECT_GE(FailedWrites() - failed_before, 3u * 28u + 10u);
  // The bridge blocked SIGPIPE only while it wrote, and took the one it raised.
  EXPECT_FALSE(bridge_test::SigpipeBlockedOrPending());
}

INSTANTIATE_TEST_SUITE_P(Devices, FailingDevice,
                         ::testing::Values(FailureCase{"FifoReaderGoesAway", true},
                                           FailureCase{"DeviceFull", false}),
                         [](const ::testing::TestParamInfo<FailureCase>& case_info) {
                           return case_info.param.name;
                         });

// A host whose standard error is a pipe whose reader has gone: the bridge's
// messages, on a device that cannot be opened and on a failed write, must not
// end it with SIGPIPE, and the process handles the signal as before.
TEST_F(BridgeTest, MessagesToAStandardErrorWithoutReaderDoNotEndTheHost) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no SIGPIPE: a write to such a pipe just fails";
#else
  ASSERT_TRUE(bridge_test::SigpipeAtDefault());
  const char* missing_device_message = nullptr;
  bool ok = true;
  std::uint64_t failed_before = 0;
  {
    const bridge_test::BrokenStandardError broken;
    UseBridge(FifoPath() + ".missing");
    missing_device_message = Init(16, 2, "", &ok);
    Close();
    UseBridge("/dev/full");
    failed_before = FailedWrites();
    Open("message");
    api_.Write("Hello");
    Close();
  }
  EXPECT_STREQ(missing_device_message, kDisplayNotFound);
  EXPECT_FALSE(ok);
  EXPECT_GT(FailedWrites(), failed_before);
  EXPECT_TRUE(bridge_test::SigpipeAtDefault());
  EXPECT_FALSE(bridge_test::SigpipeBlockedOrPending());
#endif
}

// Why the tests that fill the FIFO run natively only.
[[maybe_unused]] constexpr char kFillsTheFifoNatively[] =
    "the test makes the FIFO small and reads it a little at a time, which needs Linux's "
    "fcntl and reads that do not wait";

// A device that takes nothing, as a FIFO that nobody reads: the host waits
// for it once, for the bridge's bound, and then not at all; the packets the
// bridge took arrive whole, in order and once each as soon as it takes again.
TEST_F(BridgeTest, DeviceThatTakesNothingCostsTheHostOneWaitOnly) {
#if defined(_WIN32)
  GTEST_SKIP() << kFillsTheFifoNatively;
#else
  FifoReader reader;
  ASSERT_TRUE(reader.ShrinkToOnePage());
  UseBridge(FifoPath());
  platform::Library* library = bridge_;
  plugin::VendorInitFunction init = nullptr;
  plugin::VendorSendDataFunction send = nullptr;
  plugin::VendorUninitFunction uninit = nullptr;
  platform::Resolve(library, "iMONVFD_Init", &init);
  platform::Resolve(library, "iMONLCD_SendData", &send);
  platform::Resolve(library, "iMONVFD_Uninit", &uninit);
  ASSERT_EQ(init(24, 0x8888), 1);

  // Nobody reads: the FIFO fills up, then the bridge's queue; the packet that
  // finds both full waits for the bound, then is dropped.
  const auto numbered = [](std::uint32_t n) {
    PacketBytes packet = {
        static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 0, 0, 0, 0, 0, 0x03};
    return packet;
  };
  std::uint32_t sent = 0;
  const std::uint64_t failed_before = FailedWrites();
  const auto start = std::chrono::steady_clock::now();
  while (sent < 100000 && send(numbered(sent).data()) == 1) {
    ++sent;
  }
  const auto filled = std::chrono::steady_clock::now();
  EXPECT_GE(filled - start, milliseconds(400));
  EXPECT_LT(filled - start, milliseconds(10000));
  // The next ones do not wait again.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(send(numbered(sent).data()), 0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - filled, milliseconds(300));
  EXPECT_EQ(FailedWrites() - failed_before, 6u);

  // Once it is read again, every packet taken arrives, and new ones go out.
  const std::vector<std::uint8_t> bytes = reader.Read(8 * sent);
  ASSERT_EQ(bytes.size(), 8u * sent);
  for (std::uint32_t n = 0; n < sent; ++n) {
    ASSERT_TRUE(std::equal(bytes.begin() + 8 * n, bytes.begin() + 8 * n + 8, numbered(n).begin()))
        << "packet " << n << " lost, reordered or sent twice";
  }
  EXPECT_TRUE(platform::WaitUntil([&] { return send(numbered(sent).data()) == 1; }, kWaitMs));
  EXPECT_EQ(uninit(), 1);
  const std::vector<std::uint8_t> last = reader.Drain();
  EXPECT_TRUE(last.size() >= 8 && std::equal(last.end() - 8, last.end(), numbered(sent).begin()));
#endif
}

// Uninit gives up within its bound on a device that takes nothing, and the
// plug-in's release right after it does not unload the bridge under its
// writer, which is still waiting for the device.
TEST_F(BridgeTest, UninitGivesUpInTimeAndTheBridgeStaysLoaded) {
#if defined(_WIN32)
  GTEST_SKIP() << kFillsTheFifoNatively;
#else
  FifoReader reader;
  ASSERT_TRUE(reader.ShrinkToOnePage());
  UseBridge(FifoPath());
  platform::CloseLibrary(bridge_);  // only the plug-in holds the bridge now
  bridge_ = nullptr;
  Open("message");
  for (int i = 0; i < 30; ++i) {
    api_.Write(i % 2 == 0 ? "Hello" : "World");
  }
  EXPECT_LT(Close(), milliseconds(2500));
  EXPECT_TRUE(platform::IsLibraryLoaded(BridgePath().c_str()))
      << "the plug-in's release unloaded the bridge under its writer";
  // Read again: the writer finishes its write and ends.
  EXPECT_FALSE(reader.Drain().empty());
#endif
}

// Messages go to a standard error that nobody drains: neither the host's
// start with a device that cannot be opened nor writes that fail (reported by
// the bridge's writer) wait for it.
TEST_F(BridgeTest, MessagesNeverWaitForAFullStandardError) {
  bridge_test::FullStandardError full;
  ASSERT_TRUE(full.IsFull());
  std::atomic<bool> returned{false};
  const char* message = nullptr;
  std::chrono::milliseconds done{0};
  std::thread host([&] {
    UseBridge(FifoPath() + ".missing");
    bool ok = true;
    message = Init(16, 2, "", &ok);
    UseBridge("/dev/full");
    Open("message");
    api_.Write("Hello");
    done = Close();
    returned = true;
  });
  const bool in_time = platform::WaitUntil([&] { return returned.load(); }, 5000);
  full.Release();  // lets a bridge that waits for standard error go on
  host.join();
  EXPECT_TRUE(in_time) << "the host waited for standard error";
  EXPECT_STREQ(message, kDisplayNotFound);
  EXPECT_LT(done, milliseconds(2500));
}

// hostsim -p PLUGIN -m BRIDGE with the device a FIFO: every packet of a start,
// a write and Done goes through it, 8 bytes each.
TEST_F(BridgeTest, HostsimDrivesTheDeviceThroughTheBridge) {
  Open("message");
  api_.Write("Hi");
  Close();
  const std::vector<PacketBytes> recorded = SentPackets(true);
  ForgetVendor();

  FifoReader reader;
  ASSERT_TRUE(reader.IsOpen());
  // Under Wine the device named as a Windows program may also name it.
  bridge_test::SetEnvironment(kDeviceVariable, bridge_test::FifoPathForWindows().c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int status =
      hostsim::HostsimMain({"-q", "-p", PluginPath(), "-m", BridgePath(), "-e",
                            "init 16 2 \"message\"", "-e", "write \"Hi\"", "-e", "done"},
                           out, err, false);
  EXPECT_EQ(status, 0) << err.str();
  ExpectSamePackets(reader.Drain(), recorded);
}

}  // namespace
}  // namespace testing_support
