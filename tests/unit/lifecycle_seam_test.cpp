// Start and end of the plug-in with a controlled clock and a failing thread
// start, which only the linked code's test seams can arrange.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/state.h"
#include "plugin/texts.h"
#include "tests/support/linked_fixture.h"

namespace testing_support {
namespace {

using namespace std::chrono_literals;

using LifecycleSeams = LinkedTest;

// An audio driver that hangs: each speaker query waits until the test lets
// the driver go. Remembers the thread that asked.
struct HangingAudio {
  std::mutex mutex;
  std::condition_variable released;
  bool hanging = false;
  std::atomic<bool> holding{false};
  std::atomic<std::uint32_t> asker{0};
};
HangingAudio g_audio;

void HangInSpeakerQuery() {
  std::unique_lock<std::mutex> lock(g_audio.mutex);
  g_audio.asker.store(Recorder_CurrentThread());
  g_audio.holding.store(true);
  g_audio.released.wait(lock, [] { return !g_audio.hanging; });
  g_audio.holding.store(false);
}

void LetAudioGo() {
  const std::lock_guard<std::mutex> lock(g_audio.mutex);
  g_audio.hanging = false;
  g_audio.released.notify_all();
}

// Packets recorded from record `from` on by threads other than the host's.
std::size_t OtherThreadsPackets(std::size_t from) {
  const std::vector<Record> records = Records();
  const std::uint32_t host = Recorder_CurrentThread();
  std::size_t count = 0;
  for (std::size_t i = from; i < records.size(); ++i) {
    count += records[i].kind == kRecordSendData && records[i].thread != host ? 1u : 0u;
  }
  return count;
}

std::atomic<std::size_t> g_records_before_init{0};

// Run inside the next start's iMONVFD_Init: the audio driver comes back, and
// the thread it held gets time to send before Init answers.
void AudioComesBackDuringInit() {
  LetAudioGo();
  platform::WaitUntil([] { return OtherThreadsPackets(g_records_before_init.load()) > 0; }, 1000);
}

TEST_F(LifecycleSeams, ClockPacketCarriesTheLocalDateAndTime) {
  const platform::LocalTime march14{2011, 3, 14, 9, 5, 7};
  struct Case {
    const char* parameters;
    std::uint8_t mode;
  };
  for (const Case c : {Case{"clock", 0x80}, Case{"off", 0x08}}) {
    platform::seam::SetLocalTime(&march14);
    Open(c.parameters);
    Recorder_Clear();
    Close();
    const std::vector<PacketBytes> packets = SentPackets(true);
    ASSERT_EQ(packets.size(), 11u) << Hex(packets);
    EXPECT_EQ(Hex(packets[9]), Hex(PacketBytes{c.mode, 0xDB, 0x03, 0x0E, 0x09, 0x05, 0x07, 0x50}));
  }
}

TEST_F(LifecycleSeams, YearIsSentModulo256) {
  const platform::LocalTime times[] = {{2048, 12, 31, 23, 59, 59}, {2304, 1, 1, 0, 0, 0}};
  for (const platform::LocalTime& t : times) {
    platform::seam::SetLocalTime(&t);
    Open("clock");
    Recorder_Clear();
    Close();
    const std::vector<PacketBytes> packets = SentPackets(true);
    ASSERT_EQ(packets.size(), 11u);
    EXPECT_EQ(packets[9][1], t.year % 256);
    EXPECT_EQ(packets[9][2], t.month);
    EXPECT_EQ(packets[9][6], t.second);
  }
}

TEST_F(LifecycleSeams, FailedThreadStartRunsDoneAndReports) {
  const platform::LocalTime noon{2020, 6, 1, 12, 0, 0};
  platform::seam::SetLocalTime(&noon);
  platform::seam::FailNextThreadStart();
  bool ok = true;
  EXPECT_STREQ(api_.Init(16, 2, "", &ok),
               "VESTRIX.DLL: Unable to Initialize the Icon Update Thread!");
  EXPECT_FALSE(ok);
  // The start's packets, then Done in clock mode, then the library released.
  std::vector<PacketBytes> expected = ResetSequence(10);
  expected.push_back(Packet(0x01));
  expected.push_back(Packet(0x01));
  for (const PacketBytes& packet : ResetSequence(10)) {
    expected.push_back(packet);
  }
  expected.push_back(Packet(0x01));
  expected.push_back(Packet(0x50, {0x80, 2020 % 256, 6, 1, 12, 0, 0}));
  expected.push_back(Packet(0x51));
  EXPECT_EQ(SentPackets(), expected) << Hex(SentPackets());
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(CountRecords(kRecordUnload), 1u);
  // The next start works normally.
  Open("message");
}

// The icon thread hangs in the speaker query until after Done has given up on
// it, and comes back while the next start's iMONVFD_Init runs: one that answers
// true, and one that answers false. Nothing of that thread reaches the library,
// neither then nor later; with the false answer, nothing at all does before
// Done. The next start's own icon thread is held back, so that every packet
// not sent by the host's thread comes from the old one.
TEST_F(LifecycleSeams, ThreadThatDoneGaveUpOnSendsNothingWhenItComesBack) {
  for (const std::uint32_t answer : {1u, 0u}) {
    SCOPED_TRACE(answer != 0 ? "the next Init answers true" : "the next Init answers false");
    Recorder_Clear();
    g_audio.hanging = true;
    platform::seam::SetSpeakerQueryHook(HangInSpeakerQuery);
    Open("message audio");
    // The first speaker query comes with the third refresh cycle.
    ASSERT_TRUE(platform::WaitUntil([] { return g_audio.holding.load(); }, 10000))
        << "no speaker query";
    EXPECT_GT(OtherThreadsPackets(0), 0u);
    Close();
    ASSERT_TRUE(g_audio.holding.load()) << "Done waited for the audio driver";

    platform::seam::HoldThreadStarts(true);
    Recorder_SetInitAnswer(answer);
    Recorder_SetInitHook(AudioComesBackDuringInit);
    const std::size_t records_before = Recorder_Count();
    g_records_before_init.store(records_before);
    bool ok = false;
    const char* message = Init(16, 2, "message", &ok);
    Recorder_SetInitHook(nullptr);
    EXPECT_EQ(message == nullptr, answer != 0) << message;
    EXPECT_TRUE(platform::WaitUntil([] { return !g_audio.holding.load(); }, 1000));
    if (answer == 0) {
      EXPECT_EQ(Recorder_Count(), records_before + 1) << "only iMONVFD_Init may reach the library";
    }
    std::this_thread::sleep_for(700ms);  // a refresh cycle of the old thread, were it to go on
    api_.Done();
    open_ = false;
    platform::seam::HoldThreadStarts(false);
    EXPECT_EQ(OtherThreadsPackets(records_before), 0u);
  }
}

TEST_F(LifecycleSeams, AudioOptionAndScreenModeFollowTheParameters) {
  Open("off audio", 16, 1);
  EXPECT_TRUE(plugin::AutoAudioDisplay);
  EXPECT_TRUE(plugin::DisplayOffOnExit);
  EXPECT_FALSE(plugin::DisplayClockOnExit);
  EXPECT_EQ(plugin::ScreenMode, 1);
  Close();
  // A refused size keeps the earlier screen and shutdown modes but clears audio.
  bool ok = true;
  EXPECT_NE(api_.Init(20, 2, "message audio", &ok), nullptr);
  EXPECT_FALSE(plugin::AutoAudioDisplay);
  EXPECT_EQ(plugin::ScreenMode, 1);
  EXPECT_TRUE(plugin::DisplayOffOnExit);
  // Refused keywords set the screen mode and clear only the off flag.
  EXPECT_NE(api_.Init(16, 2, "clock off", &ok), nullptr);
  EXPECT_EQ(plugin::ScreenMode, 2);
  EXPECT_FALSE(plugin::DisplayOffOnExit);
  EXPECT_FALSE(plugin::DisplayClockOnExit);
}

#if defined(_WIN32)
// Windows only: there a plain library name falls through to the current
// directory and the PATH when the library is not beside the program, so a
// planted copy could be found. The dynamic linker of the POSIX build searches
// neither. A file beside the program that cannot be loaded must not send the
// search on: the start fails as if there were no library at all.
TEST_F(LifecycleSeams, VendorLibraryBesideTheProgramComesBeforeTheLibrarySearch) {
  struct Case {
    const char* beside_program;  // test vendor variant, or "" for none there
    const char* message;         // Init's answer: the library search finds init_false
  };
  const Case cases[] = {
      {"full_stdcall", nullptr},
      {"damaged", plugin::kMessageLibraryNotFound},
      {"", plugin::kMessageDisplayNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.beside_program);
    SelectVendor("init_false");
    const std::string directory = VendorDirectory(c.beside_program);
    platform::seam::SetProgramDirectory(directory.c_str());
    bool ok = false;
    const char* message = Init(16, 2, "message", &ok);
    platform::seam::SetProgramDirectory(nullptr);
    EXPECT_STREQ(message, c.message);
    CloseIfOpen();
  }
}
#endif

}  // namespace
}  // namespace testing_support
