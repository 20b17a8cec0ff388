// The bridge through the kernel's real imon driver: the emulated panel is
// plugged in over USB/IP, the driver makes its display device, and the bridge
// writes to it, loaded directly or as the plug-in's vendor library, natively
// and (with 32-bit Wine in the virtual machine) from the real VESTRIX.DLL. The
// panel records what arrives and misbehaves on command.
//
// Needs root, the modules vhci-hcd and imon and loopback, which only the
// virtual machine of scripts/vm has here: ctest --preset kernel there. The
// tests are skipped, saying so, where no virtual USB host controller exists.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/cli.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"
#include "usbpanel/panel.h"

namespace usbpanel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Bytes = std::array<std::uint8_t, 8>;

constexpr char kVhci[] = "/sys/devices/platform/vhci_hcd.0";
constexpr char kDeviceVariable[] = "VESTRIX_PANEL_DEVICE";
const std::string kSource = VESTRIX_TEST_SOURCE_DIR;
const std::string kBridge = std::string(VESTRIX_TEST_BRIDGE_DIR) + "/libsg_vfd.so";
const std::string kPlugin = VESTRIX_TEST_PLUGIN_PATH;
const std::string kEmulator = VESTRIX_TEST_EMULATOR_PATH;

// The driver binds in about a second, more when the machine is emulated.
constexpr milliseconds kPlugBound{30000};
// How long any call into the bridge may take, with room for an emulated
// machine: the bridge promises about half a second; the driver's own wait
// for a panel that does not answer is ten.
constexpr milliseconds kCallBound{1500};
// How long packets take at most to go through the driver once written.
constexpr milliseconds kArrivalBound{10000};

// The bridge as the plug-in loads it, with its own counter.
struct Bridge {
  Bridge() {
    library = platform::OpenLibrary(kBridge.c_str());
    if (library == nullptr) {
      return;
    }
    platform::Resolve(library, "iMONVFD_Init", &Init);
    platform::Resolve(library, "iMONVFD_Uninit", &Uninit);
    platform::Resolve(library, "iMONLCD_SendData", &Send);
    platform::Resolve(library, "VxBridge_FailedWrites", &FailedWrites);
  }
  bool Loaded() const { return Init && Uninit && Send && FailedWrites; }

  platform::Library* library = nullptr;  // kept for the whole process
  int (*Init)(int, int) = nullptr;
  int (*Uninit)() = nullptr;
  int (*Send)(const std::uint8_t*) = nullptr;
  std::uint64_t (*FailedWrites)() = nullptr;
};

Bridge& TheBridge() {
  static Bridge bridge;
  return bridge;
}

template <typename Call>
milliseconds Timed(Call call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

// While it lives, the process's standard error goes into a file that the
// test reads: the bridge's messages.
class CapturedStandardError {
 public:
  CapturedStandardError() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    char name[] = "/tmp/vestrix-kernel-stderr.XXXXXX";
    file_ = mkstemp(name);
    unlink(name);
    dup2(file_, STDERR_FILENO);
  }
  ~CapturedStandardError() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(file_);
  }
  CapturedStandardError(const CapturedStandardError&) = delete;
  CapturedStandardError& operator=(const CapturedStandardError&) = delete;

  // The bridge's lines so far.
  std::vector<std::string> BridgeLines() const {
    std::string text(static_cast<std::size_t>(lseek(file_, 0, SEEK_END)), '\0');
    pread(file_, text.data(), text.size(), 0);
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
      if (line.rfind("sg_vfd bridge:", 0) == 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }

 private:
  int saved_ = -1;
  int file_ = -1;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += "\n  " + line;
  }
  return text;
}

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kVhci)) {
      GTEST_SKIP() << "no virtual USB host controller (" << kVhci
                   << "): these tests need root and the kernel modules vhci-hcd and imon, "
                      "which the virtual machine of scripts/vm has (ctest --preset kernel there)";
    }
    ASSERT_TRUE(TheBridge().Loaded()) << "cannot load the bridge " << kBridge;
  }

  void TearDown() override {
    if (panel_) {
      panel_->SetHanging(false);
      std::string why;
      EXPECT_TRUE(panel_->Unplug(kPlugBound, &why)) << why;
      panel_.reset();
    }
    unsetenv(kDeviceVariable);
  }

  // Plugs the emulated panel in and points the bridge at its device.
  void Plug(Shape shape = {}) {
    if (!panel_) {
      panel_.emplace(shape);
    }
    std::string why;
    ASSERT_TRUE(panel_->Plug(kPlugBound, &why)) << why;
    setenv(kDeviceVariable, panel_->DevicePath().c_str(), 1);
  }

  // The host's packets that the panel received, of `plug` or of all plugs (0).
  std::vector<Packet> HostPackets(std::uint32_t plug = 0) const {
    std::vector<Packet> host;
    for (const Packet& packet : panel_->Packets()) {
      if (packet.origin == Origin::kHost && (plug == 0 || packet.plug == plug)) {
        host.push_back(packet);
      }
    }
    return host;
  }

  // Waits until the panel has received `count` host packets in all.
  bool WaitForHostPackets(std::size_t count) {
    return panel_->WaitFor(
        [count](const std::vector<Packet>& packets) {
          return static_cast<std::size_t>(std::count_if(
                     packets.begin(), packets.end(),
                     [](const Packet& p) { return p.origin == Origin::kHost; })) >= count;
        },
        kArrivalBound);
  }

  std::optional<Panel> panel_;
};

// Packet `index` of a test stream: every byte differs from its neighbours,
// the values 00, ff and 0a appear at every offset, and the last byte numbers
// the packet.
Bytes StreamPacket(std::size_t index) {
  static constexpr std::uint8_t kValues[] = {0x00, 0xFF, 0x0A};
  Bytes bytes{};
  for (std::size_t j = 0; j < 7; ++j) {
    bytes[j] = kValues[(index + j) % 3];
  }
  bytes[7] = static_cast<std::uint8_t>(index);
  return bytes;
}

std::vector<Bytes> BytesOf(const std::vector<Packet>& packets) {
  std::vector<Bytes> bytes;
  for (const Packet& packet : packets) {
    bytes.push_back(packet.bytes);
  }
  return bytes;
}

struct ShapeCase {
  const char* name;
  Shape shape;
  Bytes remote_protocol;  // the driver's second packet at binding
};

class EveryShape : public KernelTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(EveryShape, PacketsArriveByteExactAndInOrder) {
  Plug(GetParam().shape);
  Bridge& bridge = TheBridge();
  ASSERT_EQ(bridge.Init(24, 0x8888), 1);
  constexpr std::size_t kCount = 41;
  std::vector<Bytes> sent;
  for (std::size_t i = 0; i < kCount; ++i) {
    sent.push_back(StreamPacket(i));
    EXPECT_EQ(bridge.Send(sent.back().data()), 1) << i;
  }
  EXPECT_EQ(bridge.Uninit(), 1) << "not everything was delivered";
  ASSERT_TRUE(WaitForHostPackets(kCount));

  const std::vector<Packet> packets = panel_->Packets();
  ASSERT_GE(packets.size(), 2u);
  const Bytes buttons_on = {0x40, 0, 0, 0, 0, 0, 0, 0x88};
  EXPECT_EQ(packets[0].bytes, buttons_on);
  EXPECT_EQ(packets[1].bytes, GetParam().remote_protocol);
  EXPECT_EQ(packets[1].origin, Origin::kDriver);
  const std::vector<Packet> host = HostPackets();
  EXPECT_EQ(BytesOf(host), sent);
  for (const Packet& packet : host) {
    EXPECT_EQ(packet.outcome, Outcome::kTaken) << DescribeRecord(packet);
    EXPECT_EQ(packet.control, !GetParam().shape.out_endpoint) << DescribeRecord(packet);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ProductsAndPaths, EveryShape,
    ::testing::Values(
        ShapeCase{"Lcd0038InterruptOut", Shape{kProductLcd, true}, {0, 0, 0, 0, 0, 0, 0, 0x86}},
        ShapeCase{"Lcd0038SetReport", Shape{kProductLcd, false}, {0, 0, 0, 0, 0, 0, 0, 0x86}},
        ShapeCase{
            "SharedFfdcInterruptOut", Shape{kProductShared, true}, {1, 0, 0, 0, 0, 0, 0, 0x86}},
        ShapeCase{
            "SharedFfdcSetReport", Shape{kProductShared, false}, {1, 0, 0, 0, 0, 0, 0, 0x86}}),
    [](const ::testing::TestParamInfo<ShapeCase>& shape) { return shape.param.name; });

// hostsim, libvestrix.so and the bridge, through the driver: the demo's text
// art equals the emulator library's, kept in demo/expected.
TEST_F(KernelTest, TheDemoDrawsThroughTheDriverWhatTheEmulatorDraws) {
  Plug();
  const fs::path directory = fs::temp_directory_path() / "vestrix-kernel-demo";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  const std::string state = (directory / "panel.state").string();
  panel_->PublishStateTo(state);
  std::ostringstream out;
  std::ostringstream err;
  const int status = hostsim::HostsimMain(
      {"-q", "-p", kPlugin, "-m", kBridge, "--panel-state", state, "-o", directory.string(),
       "--art", (directory / "art").string(), kSource + "/demo/demo.vxs"},
      out, err, false);
  ASSERT_EQ(status, 0) << err.str();
  int compared = 0;
  for (const auto& expected : fs::directory_iterator(kSource + "/demo/expected")) {
    std::stringstream want;
    std::stringstream got;
    want << std::ifstream(expected.path()).rdbuf();
    got << std::ifstream(directory / "art" / expected.path().filename()).rdbuf();
    EXPECT_EQ(got.str(), want.str()) << expected.path().filename();
    ++compared;
  }
  EXPECT_GE(compared, 7);
  for (const Packet& packet : HostPackets()) {
    EXPECT_EQ(packet.outcome, Outcome::kTaken) << DescribeRecord(packet);
  }
  fs::remove_all(directory, ignored);
}

// A stalled transfer fails that one write: one message, and the packets after
// it get through.
TEST_F(KernelTest, AStalledTransferIsReportedOnceAndLaterPacketsGetThrough) {
  Plug();
  Bridge& bridge = TheBridge();
  const CapturedStandardError standard_error;
  const std::uint64_t failed_before = bridge.FailedWrites();
  ASSERT_EQ(bridge.Init(24, 0x8888), 1);
  for (std::size_t i = 0; i < 15; ++i) {
    if (i == 5) {
      ASSERT_TRUE(WaitForHostPackets(5));
      panel_->StallNext();
    }
    bridge.Send(StreamPacket(i).data());
  }
  bridge.Uninit();
  ASSERT_TRUE(WaitForHostPackets(15));
  const std::vector<Packet> host = HostPackets();
  ASSERT_EQ(host.size(), 15u);
  for (std::size_t i = 0; i < host.size(); ++i) {
    EXPECT_EQ(host[i].bytes, StreamPacket(i));
    EXPECT_EQ(host[i].outcome, i == 5 ? Outcome::kStalled : Outcome::kTaken) << i;
  }
  EXPECT_EQ(bridge.FailedWrites() - failed_before, 1u);
  EXPECT_EQ(standard_error.BridgeLines().size(), 1u) << Joined(standard_error.BridgeLines());
}

// A panel that never answers: no call into the bridge waits longer than
// about a second, every packet the bridge took reaches the panel once and in
// order when it answers again, and every packet it refused never does. Then
// Uninit gives up in time on a panel that still does not answer, and the next
// start works once it does.
TEST_F(KernelTest, APanelThatNeverAnswersHoldsNoCallLongerThanTheBound) {
  Plug();
  Bridge& bridge = TheBridge();
  const CapturedStandardError standard_error;
  ASSERT_EQ(bridge.Init(24, 0x8888), 1);
  std::size_t next = 0;
  for (; next < 3; ++next) {
    bridge.Send(StreamPacket(next).data());
  }
  ASSERT_TRUE(WaitForHostPackets(3));
  panel_->SetHanging(true);
  std::vector<Bytes> taken = {StreamPacket(0), StreamPacket(1), StreamPacket(2)};
  std::size_t refused = 0;
  for (; next < 103; ++next) {
    int answer = 0;
    const milliseconds took = Timed([&] { answer = bridge.Send(StreamPacket(next).data()); });
    ASSERT_LT(took, kCallBound) << "packet " << next << " held the host";
    if (answer == 1) {
      taken.push_back(StreamPacket(next));
    } else {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0u) << "a hanging panel took every packet";
  // Answering again, the panel gets everything the bridge took: Uninit
  // waits for that while the packets go out.
  panel_->SetHanging(false);
  EXPECT_EQ(bridge.Uninit(), 1);
  ASSERT_TRUE(WaitForHostPackets(taken.size()));
  EXPECT_EQ(BytesOf(HostPackets()), taken) << "packets lost, reordered or sent twice";
  EXPECT_EQ(standard_error.BridgeLines().size(), 1u) << Joined(standard_error.BridgeLines());

  // Uninit on a panel that still hangs gives up within the bound; once it
  // answers again, the packet it was writing arrives and a new start works.
  ASSERT_EQ(bridge.Init(24, 0x8888), 1);
  panel_->SetHanging(true);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_LT(Timed([&] { bridge.Send(StreamPacket(next++).data()); }), kCallBound);
  }
  int delivered = 1;
  EXPECT_LT(Timed([&] { delivered = bridge.Uninit(); }), kCallBound);
  EXPECT_EQ(delivered, 0) << "Uninit gave up, but said everything was delivered";
  panel_->SetHanging(false);
  ASSERT_EQ(bridge.Init(24, 0x8888), 1);
  const Bytes last = StreamPacket(next);
  EXPECT_EQ(bridge.Send(last.data()), 1);
  bridge.Uninit();
  ASSERT_TRUE(panel_->WaitFor(
      [&last](const std::vector<Packet>& packets) {
        return !packets.empty() && packets.back().bytes == last &&
               packets.back().outcome == Outcome::kTaken;
      },
      kArrivalBound));
  const std::vector<Bytes> after = BytesOf(HostPackets());
  for (std::size_t i = 1; i < after.size(); ++i) {
    EXPECT_LT(after[i - 1][7], after[i][7]) << "packets reordered or sent twice";
  }
}

// The plug-in is open while the panel is unplugged in the middle of a
// picture: the host goes on, the failure is reported once, and when the panel
// is plugged in again, packets reach it without the host starting the
// plug-in anew.
TEST_F(KernelTest, UnpluggedMidStreamThenPluggedInAgain) {
  Plug();
  const CapturedStandardError standard_error;
  platform::SetLibraryDirectory(fs::path(kBridge).parent_path().c_str());
  platform::Library* library = platform::OpenLibrary(kPlugin.c_str());
  ASSERT_NE(library, nullptr);
  plugin::EntryPoints api;
  ASSERT_EQ(plugin::ResolveEntryPoints(library, &api), nullptr);
  bool ok = false;
  ASSERT_EQ(api.Init(16, 2, "message", &ok), nullptr);
  ASSERT_TRUE(ok);
  api.Write("one");
  ASSERT_TRUE(WaitForHostPackets(28));
  const std::size_t before = HostPackets().size();
  panel_->UnplugAfter(10);
  for (const char* text : {"two", "three", "four"}) {
    EXPECT_LT(Timed([&] { api.Write(text); }), kCallBound) << text;
  }
  // The failure is reported once, however many packets fail after it.
  const auto reported = std::chrono::steady_clock::now() + kArrivalBound;
  while (standard_error.BridgeLines().empty() && std::chrono::steady_clock::now() < reported) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_LT(Timed([&] { api.Write("five"); }), kCallBound);
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(standard_error.BridgeLines().size(), 1u) << Joined(standard_error.BridgeLines());
  const std::vector<Packet> first = HostPackets(1);
  EXPECT_EQ(std::count_if(first.begin() + static_cast<std::ptrdiff_t>(before), first.end(),
                          [](const Packet& p) { return p.outcome == Outcome::kTaken; }),
            10);

  // Plugged in again: the open plug-in's pictures reach the panel again.
  std::string why;
  ASSERT_TRUE(panel_->Unplug(kPlugBound, &why)) << why;
  Plug();
  const auto deadline = std::chrono::steady_clock::now() + kArrivalBound;
  while (HostPackets(2).size() < 28 && std::chrono::steady_clock::now() < deadline) {
    EXPECT_LT(Timed([&] { api.Write("again"); }), kCallBound);
    std::this_thread::sleep_for(milliseconds(100));
  }
  const std::vector<Packet> again = HostPackets(2);
  ASSERT_GE(again.size(), 28u) << "the panel got nothing after it was plugged in again";
  EXPECT_LT(Timed([&] { api.Done(); }), milliseconds(4000));
  // One line when the panel went and one when it came back, whatever
  // happened in between; not one for every packet.
  const std::vector<std::string> lines = standard_error.BridgeLines();
  const auto saying = [&lines](const char* words) {
    return std::count_if(lines.begin(), lines.end(), [words](const std::string& line) {
      return line.find(words) != std::string::npos;
    });
  };
  EXPECT_EQ(saying("it has gone"), 1) << Joined(lines);
  EXPECT_EQ(saying("it is back"), 1) << Joined(lines);
  EXPECT_LE(lines.size(), 4u) << Joined(lines);
  platform::CloseLibrary(library);
}

// The user's setup: the real 32-bit VESTRIX.DLL and the bridge's 32-bit
// sg_vfd.dll under 32-bit Wine, through the driver, draw what the emulator
// library draws for the same script natively.
TEST_F(KernelTest, TheRealDllUnderWineDrawsThroughTheDriver) {
  const char* wanted = std::getenv("VESTRIX_KERNEL_WINE32");
  if (wanted == nullptr || std::string(wanted) != "1") {
    GTEST_SKIP() << "VESTRIX_KERNEL_WINE32 is not 1: this test needs build/win32 and 32-bit "
                    "Wine in the virtual machine (scripts/vm/run.sh --wine32); scripts/test.sh "
                    "runs it so";
  }
  Plug();
  const fs::path directory = fs::path(kSource) / "build" / "kernel-wine";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory / "native");
  const std::string state = (directory / "panel.state").string();
  panel_->PublishStateTo(state);
  const std::vector<std::string> script = {"init 16 2 \"message\"",
                                           "pos 1 1",
                                           "write \"Wine \\x82 lcd0\"",
                                           "pos 3 2",
                                           "write \"\\x8dpfel 42\"",
                                           "fan on 7",
                                           "wait 1200",
                                           "snapshot open.txt",
                                           "done",
                                           "snapshot done.txt"};
  std::string command = "cd '" + kSource + "' && " + kDeviceVariable + "=" + panel_->DevicePath() +
                        " cmake/wine-run.sh 32 build/win32/hostsim/hostsim.exe -q"
                        " -p build/win32/VESTRIX.DLL -m build/win32/bridge/sg_vfd.dll"
                        " --panel-state Z:" +
                        state + " -o Z:" + directory.string() +
                        " --art Z:" + (directory / "wine").string();
  std::vector<std::string> native = {
      "-q", "-m", kEmulator, "-o", directory.string(), "--art", (directory / "native").string()};
  for (const std::string& line : script) {
    std::string quoted;
    for (const char c : line) {
      quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    }
    command += " -e \"" + quoted + "\"";
    native.insert(native.end(), {"-e", line});
  }
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(hostsim::HostsimMain(native, out, err, false), 0) << err.str();
  for (const char* name : {"open.txt", "done.txt"}) {
    std::stringstream wine;
    std::stringstream emulated;
    wine << std::ifstream(directory / "wine" / name).rdbuf();
    emulated << std::ifstream(directory / "native" / name).rdbuf();
    EXPECT_FALSE(wine.str().empty()) << name;
    EXPECT_EQ(wine.str(), emulated.str()) << name;
  }
  EXPECT_GE(HostPackets().size(), 8u + 28u * 2u);
  fs::remove_all(directory, ignored);
}

}  // namespace
}  // namespace usbpanel
