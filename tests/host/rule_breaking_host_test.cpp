// Hosts that leave the calling order: unloading the plug-in while it is open,
// closing it from a library's unload, a vendor library that stalls while the
// plug-in closes, and a second thread that sends while it closes. The host's
// process must neither crash nor hang, and nothing may reach the vendor
// library once it has been released.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/plugin_fixture.h"

namespace testing_support {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Done's bound: its 500 ms pause, a few seconds for a thread that hangs, and
// room for a slow, shared machine.
constexpr milliseconds kDoneBound = seconds(10);

// Packets recorded after the first record of `kind`; none when there is no such
// record.
std::size_t PacketsAfter(RecordKind kind) {
  std::size_t count = 0;
  bool seen = false;
  for (const Record& record : Records()) {
    count += seen && record.kind == kRecordSendData ? 1 : 0;
    seen = seen || record.kind == kind;
  }
  return count;
}

using RuleBreakingHost = PluginTest;

TEST_F(RuleBreakingHost, UnloadingAnOpenPlugInLeavesItsThreadRunning) {
  Open("message");
  // The host drops its only reference without Done. The icon thread keeps the
  // module loaded and goes on sending from it, instead of running into code
  // that is no longer there.
  const auto open_api = api_;
  UnloadPlugin(false);
  const std::size_t before = CountRecords(kRecordSendData);
  std::this_thread::sleep_for(milliseconds(1200));
  EXPECT_GT(CountRecords(kRecordSendData), before);

  // Loading it again gives the same, still open module, which Done closes.
  LoadPlugin();
  EXPECT_EQ(api_.Done, open_api.Done);
  Close();
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
}

TEST_F(RuleBreakingHost, DoneReturnsWhileTheIconThreadHangsInTheVendorLibrary) {
  Open("message");
  Recorder_StallNextSend();
  ASSERT_TRUE(platform::WaitUntil(Recorder_Stalled, kWaitMs)) << "the icon thread sent nothing";

  const std::size_t host_packets = SentPackets(true).size();
  const milliseconds took = Close();
  EXPECT_LT(took, kDoneBound);
  // Done sent none of its own packets, which a panel that has stopped
  // answering would not take, and left the library loaded and initialised
  // under the call that has not returned.
  EXPECT_EQ(SentPackets(true).size(), host_packets) << Hex(SentPackets(true));
  EXPECT_EQ(CountRecords(kRecordUninit), 0u);
  EXPECT_EQ(CountRecords(kRecordUnload), 0u);

  // The plug-in opens again while that thread still hangs. The transfer comes
  // back while the new session closes, after the new thread's last packet: the
  // old thread ends without sending more, and the new session closes in full.
  Open("message");
  std::thread release([] {
    std::this_thread::sleep_for(milliseconds(250));
    Recorder_ReleaseStall();
  });
  Close();
  release.join();
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  std::this_thread::sleep_for(milliseconds(700));
  EXPECT_EQ(PacketsAfter(kRecordUninit), 0u);
}

TEST_F(RuleBreakingHost, DoneFromALibraryThatIsBeingUnloaded) {
  // On Windows the library's entry routine runs under the loader lock, which
  // a thread needs in order to begin and to end.
  for (const bool thread_has_begun : {true, false}) {
    SCOPED_TRACE(thread_has_begun ? "icon thread running" : "icon thread just started");
    Recorder_Clear();
    Open("message");
    if (thread_has_begun) {
      ASSERT_TRUE(platform::WaitUntil(
          [] { return SentPackets().size() > SentPackets(true).size(); }, kWaitMs));
    }
    platform::Library* hook = platform::OpenLibrary(UnloadHookPath().c_str());
    ASSERT_NE(hook, nullptr) << UnloadHookPath();
    using SetHook = void (*)(decltype(api_.Done));
    SetHook set_hook = nullptr;
    platform::Resolve(hook, "UnloadHook_Set", &set_hook);
    ASSERT_NE(set_hook, nullptr);
    set_hook(api_.Done);

    const auto start = std::chrono::steady_clock::now();
    platform::CloseLibrary(hook);
    open_ = false;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kDoneBound);
    EXPECT_EQ(CountRecords(kRecordUninit), 1u);
    // Nothing follows the release, and the process lives on.
    std::this_thread::sleep_for(milliseconds(700));
    EXPECT_EQ(PacketsAfter(kRecordUninit), 0u);
  }
}

TEST_F(RuleBreakingHost, ASecondThreadSendingWhileDoneReleasesTheLibrary) {
  Open("message");
  std::atomic<bool> stop{false};
  std::atomic<int> calls{0};
  std::thread sender([&] {
    while (!stop.load()) {
      api_.SetContrast(80);  // one packet each
      calls.fetch_add(1);
    }
  });
  ASSERT_TRUE(platform::WaitUntil([&] { return calls.load() > 100; }, kWaitMs));
  Close();
  // The sender goes on after the release; none of it may reach the library.
  const int after_done = calls.load();
  ASSERT_TRUE(platform::WaitUntil([&] { return calls.load() > after_done + 100; }, kWaitMs));
  stop.store(true);
  sender.join();
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(PacketsAfter(kRecordUninit), 0u);
}

}  // namespace
}  // namespace testing_support
