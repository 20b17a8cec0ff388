// A vendor library that misbehaves, through the built plug-in: slow transfers,
// an initialisation that fails once, a function missing, the library file
// replaced between two runs, and both threads sending at the same moment.
// Through every fault the plug-in answers each start as a start with that
// library must be answered, sends each packet of its own exactly once and
// nothing else, sends nothing after the library's release, and Done returns
// in bounded time; afterwards a run with a sound library goes as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/support/plugin_fixture.h"

namespace testing_support {
namespace {

using std::chrono::milliseconds;

// Done's bound: its 500 ms pause, the waits for a thread or a transfer that
// hangs, and room for a slow, shared machine.
constexpr milliseconds kDoneBound{10000};

constexpr const char* kFunctionsMissing =
    "VESTRIX.DLL: sg_vfd.dll critical funtion pointers not found!";
constexpr const char* kNoDisplay =
    "VESTRIX.DLL: Unable to Initialize the display. Display hardware not found";

// What one host run left in the record.
struct RunRecord {
  const char* message = nullptr;  // Init's answer
  bool ok = false;                // Init's success flag
  std::vector<PacketBytes> host;  // the host's thread's packets, clock time left out
  std::vector<PacketBytes> icon;  // the icon thread's packets
  milliseconds done{0};           // how long Done took
  std::vector<Record> records;
};

// Lets a stalled transfer go after `after`, unless stopped first: a Done that
// waits for the stall then fails its bound instead of hanging the test.
class StallWatchdog {
 public:
  explicit StallWatchdog(milliseconds after)
      : thread_([this, after] {
          const auto deadline = std::chrono::steady_clock::now() + after;
          while (!stop_.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(10));
          }
          Recorder_ReleaseStall();
        }) {}
  ~StallWatchdog() {
    stop_.store(true);
    thread_.join();
  }
  StallWatchdog(const StallWatchdog&) = delete;
  StallWatchdog& operator=(const StallWatchdog&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

bool HasUninit(const std::string& variant) {
  return variant != "no_uninit" && variant != "minimal";
}

class VendorFaults : public PluginTest {
 protected:
  // One host run, recorded from a clear record: contrast set while closed,
  // a start in clock mode, two lines of text with a custom character, a ring
  // animation, contrast, a wait for `icon_packets` of the icon thread, Done. A
  // start that fails goes straight to Done, as a host closes a failed plug-in.
  RunRecord HostRun(std::size_t icon_packets = 1) {
    static constexpr std::uint8_t kSmiley[8] = {0x00, 0x0A, 0x0A, 0x00, 0x11, 0x0E, 0x00, 0x00};
    Recorder_Clear();
    RunRecord run;
    api_.SetContrast(80);  // stored for the start's reset: every run starts alike
    run.message = Init(16, 2, "clock", &run.ok);
    if (run.message == nullptr) {
      api_.Write("Fault run");
      api_.SetPosition(1, 2);
      api_.CustomChar(1, kSmiley);
      api_.Write("\x01 still here");
      api_.SetFan(2, 51);
      api_.SetContrast(200);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (SentPackets().size() - SentPackets(true).size() < icon_packets &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
      }
    }
    run.done = Close();
    run.records = Records();
    run.host = WithoutClockTime(SentPackets(true));
    const std::uint32_t self = Recorder_CurrentThread();
    for (const Record& record : run.records) {
      if (record.kind == kRecordSendData && record.thread != self) {
        PacketBytes bytes{};
        std::copy(std::begin(record.bytes), std::end(record.bytes), bytes.begin());
        run.icon.push_back(bytes);
      }
    }
    return run;
  }

  // Checks that hold for every run, whatever the library: Done in time, only
  // icon packets from the icon thread, and nothing sent once the library has
  // been uninitialised, which happens (with its release) exactly when the
  // library has iMONVFD_Uninit.
  static void CheckEveryRun(const RunRecord& run, bool has_uninit) {
    EXPECT_LT(run.done, kDoneBound);
    for (const PacketBytes& packet : run.icon) {
      EXPECT_EQ(packet[7], 0x01) << "stray packet from the icon thread: " << Hex(packet);
    }
    bool uninitialised = false;
    std::size_t uninits = 0;
    std::size_t unloads = 0;  // after the Uninit, or at all without one
    for (const Record& record : run.records) {
      EXPECT_FALSE(uninitialised && record.kind == kRecordSendData) << "packet after Uninit";
      uninitialised = uninitialised || record.kind == kRecordUninit;
      uninits += record.kind == kRecordUninit ? 1 : 0;
      unloads += record.kind == kRecordUnload && (uninitialised || !has_uninit) ? 1 : 0;
    }
    EXPECT_EQ(uninits, has_uninit ? 1u : 0u);
    EXPECT_EQ(unloads, has_uninit ? 1u : 0u);
    EXPECT_EQ(platform::IsLibraryLoaded(platform::kVendorLibraryName), !has_uninit);
  }

  // A directory of the test's own, named `name`, that the library search
  // looks in first, where UseVariant puts a variant's library file.
  void UseScratchDirectory(const std::string& name) {
    scratch_ = VendorDirectory("scratch-" + name);
    std::filesystem::create_directories(scratch_);
    platform::SetLibraryDirectory(scratch_.c_str());
  }

  // Replaces the library file in the scratch directory with `variant`'s, as a
  // user copies another version over it: written beside it, then renamed over
  // it in one step.
  void UseVariant(const std::string& variant) {
    const std::filesystem::path target =
        std::filesystem::path(scratch_) / platform::kVendorLibraryName;
    const std::filesystem::path partial = target.string() + ".new";
    std::filesystem::copy_file(
        std::filesystem::path(VendorDirectory(variant)) / platform::kVendorLibraryName, partial,
        std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(partial, target);
  }

  void TearDown() override {
    PluginTest::TearDown();
    if (!scratch_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_, ignored);
    }
  }

  std::string scratch_;
};

struct Fault {
  const char* name;
  std::vector<const char*> variants;  // the library file for each run in turn
  void (*arrange)();                  // sets up the fault in the recorder
  std::size_t failing_run;            // the run (from 1) whose start fails, 0 none
  const char* message;                // ... with this answer
};

class VendorFault : public VendorFaults, public ::testing::WithParamInterface<Fault> {};

TEST_P(VendorFault, PlugInKeepsWorkingAndSendsExactlyItsOwnPackets) {
  const Fault fault = GetParam();
  UseScratchDirectory(fault.name);
  UseVariant("full_stdcall");
  const RunRecord reference = HostRun();
  ASSERT_EQ(reference.message, nullptr) << reference.message;
  ASSERT_FALSE(reference.icon.empty());

  fault.arrange();
  std::string previous = "full_stdcall";
  for (std::size_t i = 0; i < fault.variants.size(); ++i) {
    const std::string variant = fault.variants[i];
    SCOPED_TRACE("run " + std::to_string(i + 1) + " with " + variant);
    if (variant != previous) {
      UseVariant(variant);
      previous = variant;
    }
    const RunRecord run = HostRun(2);
    CheckEveryRun(run, HasUninit(variant));
    if (i + 1 == fault.failing_run) {
      EXPECT_STREQ(run.message, fault.message);
      EXPECT_FALSE(run.ok);
      EXPECT_TRUE(run.icon.empty());
      // Done after a failed start sends its own packets alone, when it can:
      // the reset with the stored contrast, the empty icons, the clock, 0x51.
      std::vector<PacketBytes> done;
      if (variant != "no_senddata") {
        done = ResetSequence(10);
        done.push_back(Packet(0x01));
        done.push_back(Packet(0x50, {0x80}));
        done.push_back(Packet(0x51));
      }
      EXPECT_EQ(run.host, done) << Hex(run.host);
    } else {
      EXPECT_EQ(run.message, nullptr) << run.message;
      EXPECT_TRUE(run.ok);
      EXPECT_EQ(run.host, reference.host) << Hex(run.host);
      EXPECT_GE(run.icon.size(), 2u);
    }
  }

  // With the fault gone, the next run goes as before, with a sound library
  // from another directory. Windows looks for a library's plain name among
  // the loaded ones before any directory, so there one that Done left loaded
  // (without iMONVFD_Uninit) answers again; the dynamic linker loads the file
  // the path names.
  Recorder_SetSendDelay(0);
  Recorder_FailInitCall(0);
  platform::SetLibraryDirectory(VendorDirectory("full_stdcall").c_str());
#if defined(_WIN32)
  const bool sound_library = !platform::IsLibraryLoaded(platform::kVendorLibraryName);
#else
  const bool sound_library = true;
#endif
  const RunRecord after = HostRun();
  EXPECT_EQ(after.message, nullptr) << after.message;
  CheckEveryRun(after, sound_library);
  EXPECT_EQ(after.host, reference.host) << Hex(after.host);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VendorFault,
    ::testing::Values(
        // Each transfer takes 20 ms, on both threads: a write takes over half
        // a second, with icon packets in between.
        Fault{"SlowSending", {"full_stdcall"}, [] { Recorder_SetSendDelay(20); }, 0, nullptr},
        Fault{"InitFailsFirstThenWorks",
              {"full_stdcall", "full_stdcall"},
              [] { Recorder_FailInitCall(1); },
              1,
              kNoDisplay},
        Fault{"InitFailsThirdThenWorks",
              {"full_stdcall", "full_stdcall", "full_stdcall", "full_stdcall"},
              [] { Recorder_FailInitCall(3); },
              3,
              kNoDisplay},
        // Done leaves such a library loaded; the next start takes it again.
        Fault{"NoUninit", {"no_uninit", "no_uninit"}, [] {}, 0, nullptr},
        Fault{"NoSendData", {"no_senddata"}, [] {}, 1, kFunctionsMissing},
        // Another version of the library copied over it between two runs:
        // each start loads the file that is there now.
        Fault{"LibraryReplacedBetweenRuns",
              {"full_cdecl", "no_senddata", "full_stdcall"},
              [] {},
              2,
              kFunctionsMissing}),
    [](const ::testing::TestParamInfo<Fault>& fault_info) {
      return std::string(fault_info.param.name);
    });

// A panel that stops answering: from one icon packet on, every transfer
// blocks until the panel comes back. Done returns within its bound, sends none
// of its own packets (each would block the host as well) and leaves the
// library loaded and initialised under the blocked call. When the panel comes
// back, only the held icon packet arrives, and the host carries on.
TEST_F(VendorFaults, PanelThatStopsAnsweringDoesNotHoldUpDone) {
  for (const char* mode : {"message", "clock"}) {
    SCOPED_TRACE(mode);
    Recorder_Clear();
    Open(mode);
    ASSERT_TRUE(platform::WaitUntil([] { return SentPackets().size() > SentPackets(true).size(); },
                                    kWaitMs))
        << "the icon thread sent nothing";
    const std::size_t host_packets = SentPackets(true).size();
    const std::size_t icon_packets = SentPackets().size() - host_packets;
    Recorder_StallEverySend();
    ASSERT_TRUE(platform::WaitUntil(Recorder_Stalled, kWaitMs))
        << "the icon thread sent nothing more";
    {
      const StallWatchdog watchdog(kDoneBound + milliseconds(5000));
      EXPECT_LT(Close(), kDoneBound);
    }  // the panel answers again
    // The held icon packet arrives; nothing follows it.
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(SentPackets(true).size(), host_packets) << Hex(SentPackets(true));
    EXPECT_EQ(SentPackets().size() - host_packets, icon_packets + 1);
    EXPECT_EQ(CountRecords(kRecordUninit), 0u);
    EXPECT_EQ(CountRecords(kRecordUnload), 0u);

    Recorder_Clear();
    Open("message");
    Close();
    EXPECT_EQ(SentPackets(true).size(), 12u) << Hex(SentPackets(true));
    EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  }
}

// Done gives up on a thread whose transfer is held, and the host lets go of
// the plug-in. Once the transfer comes back and the thread has ended, the
// plug-in is unloaded: the thread gives back the reference to the module that
// kept it loaded under the thread.
TEST_F(VendorFaults, PlugInUnloadsOnceAThreadDoneGaveUpOnHasEnded) {
  Open("message");
  Recorder_StallNextSend();
  ASSERT_TRUE(platform::WaitUntil(Recorder_Stalled, kWaitMs)) << "the icon thread sent nothing";
  EXPECT_LT(Close(), kDoneBound);
  UnloadPlugin(false);
  EXPECT_TRUE(platform::IsLibraryLoaded(PluginPath().c_str())) << "unloaded under its thread";
  Recorder_ReleaseStall();
  EXPECT_TRUE(
      platform::WaitUntil([] { return !platform::IsLibraryLoaded(PluginPath().c_str()); }, kWaitMs))
      << "the plug-in stays loaded after its thread has ended";
  LoadPlugin();
}

// The host writes without a pause while the icon thread sends its packets,
// each transfer slow enough that the two meet inside the library. Both
// streams arrive whole; ThreadSanitizer (the native-tsan build runs this
// suite) checks that the plug-in's state is shared without a race.
TEST_F(VendorFaults, HostAndIconThreadSendingAtTheSameMoment) {
  Recorder_SetSendDelay(2);
  Open("message");
  api_.SetFan(2, 51);
  // From the first icon packet that shows the animation on.
  const std::uint32_t self = Recorder_CurrentThread();
  auto animated = [self] {
    for (const Record& record : Records()) {
      if (record.kind == kRecordSendData && record.thread != self &&
          (Value(record) & Bit(51)) != 0) {
        return true;
      }
    }
    return false;
  };
  const auto shown_by = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!animated() && std::chrono::steady_clock::now() < shown_by) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  Recorder_Clear();
  const char* const texts[] = {"Both threads", "send at once"};
  std::size_t writes = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((Recorder_MostSendsAtOnce() < 2 || writes < 4) &&
         std::chrono::steady_clock::now() < deadline) {
    api_.Write(texts[writes % 2]);
    ++writes;
  }
  const std::vector<PacketBytes> host = SentPackets(true);
  Close();
  ASSERT_GE(Recorder_MostSendsAtOnce(), 2u) << "the two threads never sent at the same moment";

  // Every write's 28 packets, in order, the pictures alternating.
  ASSERT_EQ(host.size(), 28 * writes);
  for (std::size_t i = 0; i < host.size(); ++i) {
    ASSERT_EQ(host[i][7], 0x20 + i % 28) << "packet " << i;
    ASSERT_EQ(host[i], host[i % 56]) << "packet " << i;
  }
  // Every icon packet whole: the animation's segment and seven ring segments.
  std::size_t icon_packets = 0;
  for (const Record& record : Records()) {
    if (record.kind == kRecordSendData && record.thread != self) {
      ++icon_packets;
      const std::uint64_t packet = Value(record);
      EXPECT_EQ(packet & ~(Ring(0xFF) | Bit(51)), kEmpty) << std::hex << packet;
      EXPECT_EQ(std::popcount(packet & Ring(0xFF)), 7) << std::hex << packet;
    }
  }
  EXPECT_GE(icon_packets, 1u);
}

}  // namespace
}  // namespace testing_support
