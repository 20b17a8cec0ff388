// No heap allocation once the plug-in is open: the host's calls and the icon
// thread's refresh cycles allocate nothing, in the built plug-in with its real
// icon thread and, for many cycles at full speed, in the linked code stepped
// through its seams. Counting covers every thread of the process, inside a
// window opened after Init and closed before Done; the test reads nothing
// that allocates while it is open. What the counter sees in each build is in
// allocation_counter.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "icons/icons.h"
#include "tests/alloc/allocation_counter.h"
#include "tests/support/linked_fixture.h"

namespace testing_support {
namespace {

// Room for every packet recorded in a test, so that the recording vendor
// library allocates nothing while counting is on.
constexpr std::size_t kRecordRoom = 100000;

// Speaker queries: natively the plug-in cannot read a speaker layout and
// answers at once, so the option costs nothing to keep on. Windows creates a
// DirectSound object for every query, by design, and that object's memory is
// the system's business; there the loaded plug-in runs without the option,
// and the linked test below covers the poll with the query's seam.
#if defined(_WIN32)
constexpr const char* kParameters = "clock";
#else
constexpr const char* kParameters = "clock audio";
#endif

// The recording library that the test vendor libraries write to.
#if defined(_WIN32)
constexpr const char* kRecorderModule = "vendor_recorder.dll";
#else
constexpr const char* kRecorderModule = "vendor_recorder.so";
#endif

constexpr std::uint8_t kPattern[8] = {0x1F, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x1F, 0x00};
const char* const kTexts[] = {"Now playing", "Track 12  03:41", "\x01\x02 \x96t\xE9", ""};

// One round of every host call that may follow Init, with arguments that vary
// with `i`; returns how many calls it made.
int HostCalls(const PluginApi& api, int i) {
  const auto byte = [i](int mod) { return static_cast<std::uint8_t>(i % mod); };
  api.SetPosition(static_cast<std::uint8_t>(1 + byte(16)), static_cast<std::uint8_t>(1 + byte(2)));
  api.Write(kTexts[i % 4]);
  api.CustomChar(static_cast<std::uint8_t>(1 + byte(8)), kPattern);
  api.CustomCharIndex(byte(256));
  api.SetContrast(byte(256));
  api.SetFan(static_cast<std::uint8_t>(1 + byte(3)), byte(56));
  return 6;
}

// Keeps the compiler from removing the counter's own test allocations.
void* volatile g_sink = nullptr;

using NoHeapAfterInit = PluginTest;

TEST_F(NoHeapAfterInit, CounterSeesAllocationsInThisProgramAndInLoadedLibraries) {
  ASSERT_TRUE(CountAllocationsOf(kRecorderModule));
  Recorder_Clear();
  StartCountingAllocations();
  g_sink = std::malloc(24);
  std::free(g_sink);
  g_sink = ::operator new(24);
  ::operator delete(g_sink);
  const std::size_t here = StopCountingAllocations();
  // The recorder library grows its record: an allocation in another module.
  StartCountingAllocations();
  Recorder_Reserve(kRecordRoom + 1000);
  const std::size_t there = StopCountingAllocations();
  EXPECT_GE(here, 2u) << AllocationsSeen();
  EXPECT_GE(there, 1u) << AllocationsSeen();
}

TEST_F(NoHeapAfterInit, HostCallsAndTheIconThreadOfTheLoadedPlugIn) {
  ASSERT_TRUE(CountAllocationsOf(PluginPath().c_str()));
  Recorder_Reserve(kRecordRoom);
  Open(kParameters);
  api_.SetFan(3, 7);   // a blinking segment
  api_.SetFan(2, 51);  // the ring animation
  const std::uint32_t self = Recorder_CurrentThread();
  const auto icon_packets = [self](std::size_t from) {
    std::size_t count = 0;
    Record record{};
    for (std::size_t i = from; Recorder_Get(i, &record); ++i) {
      count += record.kind == kRecordSendData && record.thread != self ? 1 : 0;
    }
    return count;
  };
  // The thread's first cycle: it is in its loop now.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (icon_packets(0) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  const std::size_t from = Recorder_Count();
  int calls = 0;
  const auto window_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(3200);
  StartCountingAllocations();
  for (int i = 0; std::chrono::steady_clock::now() < window_end; ++i) {
    calls += HostCalls(api_, i);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // Still counting, the icon thread goes on until it has made five cycles: a
  // busy machine may stretch them well beyond their half second.
  const auto cycles_end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (icon_packets(from) < 5 && std::chrono::steady_clock::now() < cycles_end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::size_t allocations = StopCountingAllocations();
  const std::size_t cycles = icon_packets(from);
  Close();

  EXPECT_EQ(allocations, 0u) << AllocationsSeen();
  // The calls did their work: a picture and a contrast packet for every round.
  EXPECT_EQ(SentPackets(true).size() - 10 - 11, static_cast<std::size_t>(calls / 6 * 29));
  EXPECT_GE(cycles, 5u);
  std::printf("allocations counted: %zu over %d calls and %zu refresh cycles of the icon thread\n",
              allocations, calls, cycles);
}

class NoHeapInLinkedCode : public LinkedTest {
 protected:
  void SetUp() override {
    LinkedTest::SetUp();
    platform::seam::HoldThreadStarts(true);
  }
  void TearDown() override {
    LinkedTest::TearDown();
    platform::seam::HoldThreadStarts(false);
  }
};

TEST_F(NoHeapInLinkedCode, ManyRefreshCyclesWithSpeakerPollsAndHostCalls) {
  constexpr int kCycles = 20000;
  Recorder_Reserve(kRecordRoom);
  platform::seam::SetSpeakerConfig(true, 4);  // stereo
  Open("off audio");
  api_.SetFan(3, 7);
  api_.SetFan(2, 52);
  Recorder_Clear();
  int calls = 0;
  StartCountingAllocations();
  for (int i = 0; i < kCycles; ++i) {
    icons::RunRefreshCycle();
    if (i % 300 == 0) {
      // A new layout every hundred polls, so that the merge runs too.
      platform::seam::SetSpeakerConfig(true, i % 600 == 0 ? 6 : 4);
    }
    if (i % 10 == 0) {
      calls += HostCalls(api_, i);
    }
  }
  const std::size_t allocations = StopCountingAllocations();
  const std::size_t packets = SentPackets().size();
  Close();
  EXPECT_EQ(allocations, 0u) << AllocationsSeen();
  EXPECT_EQ(packets, static_cast<std::size_t>(kCycles + calls / 6 * 29));
  std::printf("allocations counted: %zu over %d stepped refresh cycles and %d calls\n", allocations,
              kCycles, calls);
}

}  // namespace
}  // namespace testing_support
