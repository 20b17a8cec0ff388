// The built emulator library, loaded by path as the host simulator loads it:
// the vendor's six functions, the reading interface, and packets arriving from
// two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/panel_api.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/vendor_functions.h"

namespace {

using plugin::VendorInitFunction;
using plugin::VendorIsInitedFunction;
using plugin::VendorSendDataFunction;
using plugin::VendorUninitFunction;

class EmulatorLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = platform::OpenLibrary(VESTRIX_TEST_EMULATOR_PATH);
    ASSERT_NE(library_, nullptr) << "cannot load " << VESTRIX_TEST_EMULATOR_PATH;
    platform::Resolve(library_, "iMONVFD_Init", &init_);
    platform::Resolve(library_, "iMONVFD_Uninit", &uninit_);
    platform::Resolve(library_, "iMONVFD_IsInited", &is_inited_);
    platform::Resolve(library_, "iMONLCD_SendData", &send_);
    platform::Resolve(library_, "VxPanel_GetState", &get_state_);
    platform::Resolve(library_, "VxPanel_GetLogEntry", &get_entry_);
    platform::Resolve(library_, "VxPanel_Reset", &reset_);
    platform::Resolve(library_, "VxPanel_SetInitAnswer", &set_answer_);
    ASSERT_TRUE(init_ && uninit_ && is_inited_ && send_ && get_state_ && get_entry_ && reset_ &&
                set_answer_);
    reset_();
  }

  void TearDown() override { platform::CloseLibrary(library_); }

  VxPanelState State() const {
    VxPanelState state{};
    EXPECT_TRUE(get_state_(&state, sizeof state));
    return state;
  }

  platform::Library* library_ = nullptr;
  VendorInitFunction init_ = nullptr;
  VendorUninitFunction uninit_ = nullptr;
  VendorIsInitedFunction is_inited_ = nullptr;
  VendorSendDataFunction send_ = nullptr;
  decltype(&VxPanel_GetState) get_state_ = nullptr;
  decltype(&VxPanel_GetLogEntry) get_entry_ = nullptr;
  decltype(&VxPanel_Reset) reset_ = nullptr;
  decltype(&VxPanel_SetInitAnswer) set_answer_ = nullptr;
};

TEST_F(EmulatorLibrary, OffersTheVendorsSixFunctionsUnderPlainNames) {
  for (const char* name : {"iMONVFD_Init", "iMONVFD_Uninit", "iMONVFD_IsInited", "iMONVFD_SetText",
                           "iMONVFD_SetEQ", "iMONLCD_SendData", "VxPanel_ApiVersion"}) {
    EXPECT_NE(platform::FindSymbol(library_, name), nullptr) << name;
  }
  decltype(&VxPanel_ApiVersion) api_version = nullptr;
  ASSERT_TRUE(platform::Resolve(library_, "VxPanel_ApiVersion", &api_version));
  EXPECT_EQ(api_version(), kVxPanelApiVersion);
}

TEST_F(EmulatorLibrary, VendorCallsReachTheModelAndTheLog) {
  EXPECT_EQ(init_(24, 0x8888), 1);
  EXPECT_EQ(is_inited_(), 1);
  const unsigned char packet[8] = {0x80, 0, 0, 0, 0, 0, 0, 0x01};
  EXPECT_EQ(send_(packet), 1);
  uninit_();
  const VxPanelState state = State();
  EXPECT_EQ(state.icons, 1u << 7);
  EXPECT_EQ(state.init_arguments[0], 24);
  EXPECT_EQ(state.inited, 0);
  EXPECT_EQ(state.sequence, 4u);  // Init, IsInited, SendData, Uninit

  VxPanelLogEntry entry{};
  ASSERT_TRUE(get_entry_(2, &entry, sizeof entry));
  EXPECT_EQ(entry.kind, kVxPanelPacket);
  EXPECT_EQ(entry.bytes[7], 0x01);
  EXPECT_EQ(entry.thread, 1u);
  EXPECT_FALSE(get_entry_(4, &entry, sizeof entry));
  EXPECT_FALSE(get_entry_(0, &entry, sizeof entry - 1));

  VxPanelState wrong_size{};
  EXPECT_FALSE(get_state_(&wrong_size, sizeof wrong_size - 1));

  reset_();
  EXPECT_EQ(State().sequence, 0u);
  EXPECT_EQ(State().icons, 0u);
}

TEST_F(EmulatorLibrary, AnswersInitAsTold) {
  set_answer_(0);
  EXPECT_EQ(init_(24, 0x8888), 0);
  EXPECT_EQ(is_inited_(), 0);
  reset_();
  EXPECT_EQ(init_(24, 0x8888), 1);
}

TEST_F(EmulatorLibrary, TakesPacketsFromTwoThreadsAtOnce) {
  // As the plug-in does: pixel packets from one thread, icon packets from
  // another, while a third reads the model.
  constexpr int kPerThread = 4000;
  std::atomic<bool> reading{true};
  std::thread reader([&] {
    VxPanelState state{};
    while (reading.load()) {
      get_state_(&state, sizeof state);
      ASSERT_EQ(state.packets, state.command_counts[0x2D] + state.command_counts[0x01]);
    }
  });
  auto sender = [&](unsigned char command) {
    for (int i = 0; i < kPerThread; ++i) {
      const unsigned char packet[8] = {static_cast<unsigned char>(i), 0, 0, 0, 0, 0, 0, command};
      send_(packet);
    }
  };
  std::thread pixels(sender, static_cast<unsigned char>(0x2D));
  std::thread icons(sender, static_cast<unsigned char>(0x01));
  pixels.join();
  icons.join();
  reading.store(false);
  reader.join();

  const VxPanelState state = State();
  EXPECT_EQ(state.packets, 2u * kPerThread);
  EXPECT_EQ(state.command_counts[0x2D], static_cast<std::uint64_t>(kPerThread));
  EXPECT_EQ(state.command_counts[0x01], static_cast<std::uint64_t>(kPerThread));
  EXPECT_EQ(state.picture[91], static_cast<std::uint8_t>(kPerThread - 1));
  // Every entry is whole, and each sending thread has a number of its own.
  std::set<std::uint32_t> pixel_threads;
  std::set<std::uint32_t> icon_threads;
  VxPanelLogEntry entry{};
  for (std::uint64_t n = 0; n < state.sequence; ++n) {
    ASSERT_TRUE(get_entry_(n, &entry, sizeof entry));
    (entry.bytes[7] == 0x2D ? pixel_threads : icon_threads).insert(entry.thread);
  }
  ASSERT_EQ(pixel_threads.size(), 1u);
  ASSERT_EQ(icon_threads.size(), 1u);
  EXPECT_NE(*pixel_threads.begin(), *icon_threads.begin());
}

// The live window, where there is one. These tests need a window system: under
// Wine the test suites switch the window off, and ctest runs this group apart,
// in a virtual X server with the window on (scripts/window-test.sh).
// A host that loads the emulator for every session of the plug-in and frees it
// after, as the plug-in does, with Init on a thread that then ends and Done on
// another. Nothing of a round may stay behind: neither a handle (natively an
// open file) nor, on Windows, a slot of thread-local storage. There 1200
// rounds, more than a process has slots (1088); the 32-bit build's runtime
// keeps a record of every thread that loads it, with two handles and a slot,
// so the emulator stays loaded from its first load (pin_win32.cpp). Natively
// fewer rounds show a leak as well, and each load is slow under
// ThreadSanitizer.
TEST(EmulatorLoads, LoadingOnOneThreadAndFreeingOnAnotherLeavesNothingBehind) {
#if defined(_WIN32)
  constexpr bool kStaysLoaded = true;
  constexpr int kRounds = 1200;
#else
  constexpr bool kStaysLoaded = false;
  constexpr int kRounds = 100;
#endif
  const auto round = [] {
    platform::Library* library = nullptr;
    VendorUninitFunction uninit = nullptr;
    std::thread host([&] {
      library = platform::OpenLibrary(VESTRIX_TEST_EMULATOR_PATH);
      ASSERT_NE(library, nullptr);
      VendorInitFunction init = nullptr;
      VendorSendDataFunction send = nullptr;
      platform::Resolve(library, "iMONVFD_Init", &init);
      platform::Resolve(library, "iMONLCD_SendData", &send);
      ASSERT_TRUE(init && send);
      const unsigned char packet[8] = {1, 2, 3, 4, 5, 6, 7, 0x20};
      EXPECT_EQ(init(24, 0x8888), 1);
      EXPECT_EQ(send(packet), 1);
      platform::Resolve(library, "iMONVFD_Uninit", &uninit);
    });
    host.join();
    ASSERT_NE(uninit, nullptr);
    EXPECT_EQ(uninit(), 1);
    platform::CloseLibrary(library);
  };
  // The first load may set up what lasts as long as the process (on Windows
  // the emulator itself, and the window system's libraries that its window
  // needs).
  round();
  platform::ProcessResources before{};
  ASSERT_TRUE(platform::SampleProcessResources(platform::kVendorLibraryName, &before));
  for (int i = 0; i < kRounds && !::testing::Test::HasFailure(); ++i) {
    round();
  }
  platform::ProcessResources after{};
  ASSERT_TRUE(platform::SampleProcessResources(platform::kVendorLibraryName, &after));
  // A leak of a handle per round would add one a round; under Wine the process
  // makes the odd lasting handle of its own (one in 1200 rounds here).
  EXPECT_LE(after.handles, before.handles + 4) << platform::kHandlesName;
  EXPECT_EQ(after.free_tls_slots, before.free_tls_slots);
  EXPECT_EQ(after.library_copies, kStaysLoaded ? 1 : 0);
  EXPECT_EQ(platform::IsLibraryLoaded(VESTRIX_TEST_EMULATOR_PATH), kStaysLoaded);
}

class EmulatorWindow : public EmulatorLibrary {
 protected:
  void SetUp() override {
#if !defined(_WIN32)
    GTEST_SKIP() << "the emulator has a window of its own on Windows only";
#else
    const char* on = std::getenv("VESTRIX_VIRTUAL_PANEL_WINDOW");
    for (const char* off : {"0", "off", "no", "false"}) {
      if (on != nullptr && _stricmp(on, off) == 0) {
        GTEST_SKIP() << "the window is switched off (VESTRIX_VIRTUAL_PANEL_WINDOW=" << on << ")";
      }
    }
#endif
    EmulatorLibrary::SetUp();
    platform::Resolve(library_, "VxPanel_GetWindowInfo", &get_window_);
    platform::Resolve(library_, "VxPanel_HoldWindowPainting", &hold_);
    ASSERT_TRUE(get_window_ && hold_);
  }

  void TearDown() override {
    if (hold_ != nullptr) {
      hold_(0);
    }
    EmulatorLibrary::TearDown();
  }

  VxPanelWindowInfo Window() const {
    VxPanelWindowInfo info{};
    EXPECT_TRUE(get_window_(&info, sizeof info));
    return info;
  }

  // Waits, generously for a slow machine, until the window says `done`.
  template <typename Condition>
  bool WaitFor(Condition done) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done(Window())) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  decltype(&VxPanel_GetWindowInfo) get_window_ = nullptr;
  decltype(&VxPanel_HoldWindowPainting) hold_ = nullptr;
};

TEST_F(EmulatorWindow, PacketsNeverWaitForPainting) {
  ASSERT_EQ(init_(24, 0x8888), 1);  // opens the window
  ASSERT_TRUE(WaitFor([&](const VxPanelWindowInfo& w) {
    return w.open == 1 && w.painted_sequence == State().sequence;
  })) << "the window did not open and show the panel";

  // The window thread stops inside the paint of the next change ...
  hold_(1);
  const unsigned char lit[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x20};
  ASSERT_EQ(send_(lit), 1);
  ASSERT_TRUE(WaitFor([](const VxPanelWindowInfo& w) { return w.holding == 1; }));
  const std::uint64_t paints = Window().paints;

  // ... and meanwhile a host thread sends and the library takes every packet.
  constexpr int kPackets = 2000;
  std::thread host([&] {
    for (int i = 0; i < kPackets; ++i) {
      const unsigned char packet[8] = {static_cast<unsigned char>(i), 0, 0, 0, 0, 0, 0, 0x21};
      ASSERT_EQ(send_(packet), 1);
    }
  });
  host.join();
  const VxPanelWindowInfo during = Window();
  EXPECT_EQ(during.holding, 1u);
  EXPECT_EQ(during.paints, paints);
  const VxPanelState sent = State();
  EXPECT_EQ(sent.command_counts[0x21], static_cast<std::uint64_t>(kPackets));

  // Let go: the window catches up with the last state.
  hold_(0);
  EXPECT_TRUE(WaitFor([&](const VxPanelWindowInfo& w) {
    return w.holding == 0 && w.painted_sequence == sent.sequence;
  }));
  uninit_();
}

// In clock mode the window paints the panel's clock anew as it runs on from the
// clock packet's time, with no packet arriving; a reset stops it.
TEST_F(EmulatorWindow, ClockRunsOnInTheWindow) {
  ASSERT_EQ(init_(24, 0x8888), 1);
  const unsigned char clock[8] = {0x80, 2026 % 256, 12, 8, 23, 59, 58, 0x50};
  ASSERT_EQ(send_(clock), 1);
  const std::uint64_t sequence = State().sequence;
  ASSERT_TRUE(WaitFor([&](const VxPanelWindowInfo& w) { return w.painted_sequence == sequence; }))
      << "the window did not show the clock packet";
  const VxPanelWindowInfo first = Window();
  ASSERT_TRUE(WaitFor([&](const VxPanelWindowInfo& w) {
    return w.clock_seconds >= first.clock_seconds + 2;
  })) << "the clock did not run on";
  EXPECT_GT(Window().paints, first.paints);
  EXPECT_EQ(State().sequence, sequence);  // nothing else happened meanwhile

  const unsigned char reset[8] = {0x40, 0, 0, 0, 0, 0, 0, 0x50};
  ASSERT_EQ(send_(reset), 1);
  const std::uint64_t after_reset = State().sequence;
  EXPECT_TRUE(WaitFor([&](const VxPanelWindowInfo& w) {
    return w.painted_sequence == after_reset && w.clock_seconds == 0;
  }));
  uninit_();
}

}  // namespace
