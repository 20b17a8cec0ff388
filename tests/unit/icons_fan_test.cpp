// Icon commands on the fan channel: what each action does to the picture and
// the blink marks for single segments, the ring and the ring animations, what
// is ignored, and that an ignored command leaves the icon mutex free.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include "icons/icons.h"
#include "icons/masks.h"
#include "tests/support/plugin_host.h"

namespace testing_support {
namespace {

constexpr std::uint64_t kCommand = 0x0100000000000000ull;
constexpr std::uint64_t kAll = ~0ull;

constexpr std::uint64_t Bit(int n) {
  return 1ull << n;
}

constexpr std::uint64_t Ring(std::uint64_t byte) {
  return byte << 40;
}

struct FanCase {
  const char* what;
  std::uint8_t action;
  std::uint8_t number;
  std::uint64_t status_before;
  std::uint64_t flash_before;
  std::uint64_t status_after;
  std::uint64_t flash_after;
};

// The masks are changed directly between calls; no icon thread runs in these
// tests and no vendor library is bound, so nothing is sent.
class FanCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    icons::ICON_STATUS = kCommand;
    icons::ICON_FLASH = 0;
  }

  void TearDown() override {
    icons::ICON_STATUS = kCommand;
    icons::ICON_FLASH = 0;
  }

  void Check(const FanCase& c) {
    SCOPED_TRACE(c.what);
    icons::ICON_STATUS = c.status_before;
    icons::ICON_FLASH = c.flash_before;
    api_.SetFan(c.action, c.number);
    EXPECT_EQ(icons::ICON_STATUS, c.status_after) << std::hex << icons::ICON_STATUS;
    EXPECT_EQ(icons::ICON_FLASH, c.flash_after) << std::hex << icons::ICON_FLASH;
  }

  PluginApi api_ = LinkedEntryPoints();
};

TEST_F(FanCommands, SingleSegmentsAndTheRing) {
  const FanCase cases[] = {
      {"on lights steadily", 2, 7, kCommand, Bit(7), kCommand | Bit(7), 0},
      {"off darkens and stops blinking", 1, 7, kCommand | Bit(3) | Bit(7), Bit(3) | Bit(7),
       kCommand | Bit(3), Bit(3)},
      {"blink leaves a dark segment dark when none blinks lit", 3, 7, kCommand, 0, kCommand,
       Bit(7)},
      {"blink leaves a lit segment lit", 3, 7, kCommand | Bit(7), 0, kCommand | Bit(7), Bit(7)},
      {"blink lights the segment while others blink lit", 3, 7, kCommand | Bit(3), Bit(3),
       kCommand | Bit(3) | Bit(7), Bit(3) | Bit(7)},
      {"a lit segment that does not blink is no blink phase", 3, 7, kCommand | Bit(1), Bit(3),
       kCommand | Bit(1), Bit(3) | Bit(7)},
      {"number 0", 2, 0, kCommand, 0, kCommand | Bit(0), 0},
      {"number 47 is one ring segment", 2, 47, kCommand, 0, kCommand | Bit(47), 0},
      {"number 48 reaches segment 55", 2, 48, kCommand, 0, kCommand | Bit(55), 0},
      {"number 48 blinks segment 55", 3, 48, kCommand, 0, kCommand, Bit(55)},
      {"number 49", 2, 49, kCommand, 0, kCommand | Bit(49), 0},
      {"number 50 lights the whole ring steadily", 2, 50, kCommand | Bit(3) | Ring(0x05),
       Bit(3) | Ring(0x81), kCommand | Bit(3) | Ring(0xFF), Bit(3)},
      {"number 50 off darkens the ring and keeps the animation", 1, 50,
       kCommand | Bit(51) | Ring(0xFE), 0, kCommand | Bit(51), 0},
  };
  for (const FanCase& c : cases) {
    Check(c);
  }
}

TEST_F(FanCommands, UnknownNumbersAndActionsChangeNothing) {
  const std::uint64_t status = kCommand | Bit(5) | Bit(7) | Bit(51) | Ring(0xFE);
  const std::uint64_t flash = Bit(6) | Bit(7);
  const FanCase cases[] = {
      {"number 55", 2, 55, status, flash, status, flash},
      {"number 200", 2, 200, status, flash, status, flash},
      {"number 255 off", 1, 255, status, flash, status, flash},
      {"action 0", 0, 7, status, flash, status, flash},
      {"action 4", 4, 7, status, flash, status, flash},
      {"action 255", 255, 5, status, flash, status, flash},
  };
  for (const FanCase& c : cases) {
    Check(c);
  }
}

TEST_F(FanCommands, AnimationNumbersRestartTheRing) {
  // Every animation number first clears the ring, the four animation marks and
  // bits 60..63 in both masks (0x0F8700FFFFFFFFFF keeps the rest).
  const std::uint64_t kept = 0x0F8700FFFFFFFFFFull;
  const FanCase cases[] = {
      {"51 on: seven segments, forward", 2, 51, kAll, kAll, kept | Bit(51) | Ring(0xFE), kept},
      {"52 blink counts as on", 3, 52, kAll, kAll, kept | Bit(52) | Ring(0x01), kept},
      {"53 on from dark", 2, 53, kCommand, 0, kCommand | Bit(53) | Ring(0xFE), 0},
      {"54 on from dark", 2, 54, kCommand, 0, kCommand | Bit(54) | Ring(0x01), 0},
      {"53 off only clears", 1, 53, kAll, kAll, kept, kept},
      {"53 while 51 runs restarts it backward", 2, 53, kCommand | Bit(51) | Ring(0xFB), 0,
       kCommand | Bit(53) | Ring(0xFE), 0},
      {"52 with action 0 stops the animation", 0, 52, kCommand | Bit(3) | Bit(52) | Ring(0x10),
       Bit(3) | Ring(0x30), kCommand | Bit(3), Bit(3)},
      {"54 with action 4 stops the animation", 4, 54, kCommand | Bit(54) | Ring(0x08), 0, kCommand,
       0},
  };
  for (const FanCase& c : cases) {
    Check(c);
  }
}

// True when another thread can take the icon mutex, for a command and for a
// refresh cycle, within a generous time. A mutex left held would block that
// thread; the check then gives up instead of hanging the test.
bool OtherThreadGetsTheIconMutex(const PluginApi& api) {
  auto finished = std::make_shared<std::promise<void>>();
  std::future<void> done = finished->get_future();
  std::thread other([api, finished] {
    api.SetFan(2, 7);
    icons::RunRefreshCycle();
    finished->set_value();
  });
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    other.detach();
    return false;
  }
  other.join();
  return true;
}

TEST_F(FanCommands, IgnoredNumbersLeaveTheIconMutexFree) {
  for (const int number : {55, 200, 255}) {
    SCOPED_TRACE(number);
    api_.SetFan(2, static_cast<std::uint8_t>(number));
    ASSERT_TRUE(OtherThreadGetsTheIconMutex(api_)) << "the icon mutex is still held";
    EXPECT_EQ(icons::ICON_STATUS, kCommand | Bit(7));
  }
}

}  // namespace
}  // namespace testing_support
