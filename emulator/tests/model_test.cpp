// The panel model fed with hand-made packets: where pixel bytes land, icon
// segments, contrast, mode and clock, unknown commands, and the log; and what
// the panel then shows: its own clock in clock mode, nothing in off mode.
#include "emulator/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "emulator/render.h"

namespace emulator {
namespace {

using Bytes = std::array<std::uint8_t, 8>;

Bytes Packet(std::uint8_t command, std::array<std::uint8_t, 7> data = {}) {
  Bytes bytes{};
  for (std::size_t i = 0; i < data.size(); ++i) {
    bytes[i] = data[i];
  }
  bytes[7] = command;
  return bytes;
}

std::vector<std::pair<std::size_t, std::size_t>> LitPixels(const VxPanelState& state) {
  std::vector<std::pair<std::size_t, std::size_t>> lit;
  for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
    for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
      if (PixelLit(state, x, y)) {
        lit.emplace_back(x, y);
      }
    }
  }
  return lit;
}

class Model : public ::testing::Test {
 protected:
  void Send(const Bytes& bytes) { model_.ApplyPacket(bytes.data(), 1); }
  const VxPanelState& State() const { return model_.State(); }
  PanelModel model_;
};

TEST_F(Model, StartsDarkWithNothingReceived) {
  EXPECT_TRUE(LitPixels(State()).empty());
  EXPECT_EQ(State().icons, 0u);
  EXPECT_EQ(State().contrast, -1);
  EXPECT_EQ(State().mode, -1);
  EXPECT_EQ(State().packets, 0u);
}

TEST_F(Model, PacketTwoDSpansTheBandBoundary) {
  // Bytes 91..95 end the top band, 96 and 97 start the bottom band.
  Send(Packet(0x2D, {0x80, 0, 0, 0, 0x01, 0x01, 0x80}));
  const std::vector<std::pair<std::size_t, std::size_t>> expected = {
      {91, 0},   // byte 91, bit 7: top row of the top band
      {1, 8},    // byte 97, bit 7: top row of the bottom band, column 1
      {95, 7},   // byte 95, bit 0: lowest row of the top band, last column
      {0, 15}};  // byte 96, bit 0: the panel's lowest row, column 0
  auto lit = LitPixels(State());
  std::sort(lit.begin(), lit.end());
  auto sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(lit, sorted);
}

TEST_F(Model, PixelPacketsCarrySevenConsecutivePictureBytes) {
  for (std::uint8_t k = 0; k < 28; ++k) {
    std::array<std::uint8_t, 7> data{};
    for (std::uint8_t j = 0; j < 7; ++j) {
      data[j] = static_cast<std::uint8_t>(7 * k + j);
    }
    Send(Packet(static_cast<std::uint8_t>(0x20 + k), data));
  }
  for (std::size_t n = 0; n < kVxPanelPictureBytes; ++n) {
    EXPECT_EQ(State().picture[n], n) << "picture byte " << n;
  }
}

TEST_F(Model, LastPixelPacketFillsOnlyThreeBytes) {
  // Data bytes 3..6 of 0x3B lie beyond the picture and must go nowhere.
  Send(Packet(0x3B, {0xA1, 0xA2, 0xA3, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(State().picture[189], 0xA1);
  EXPECT_EQ(State().picture[190], 0xA2);
  EXPECT_EQ(State().picture[191], 0xA3);
  EXPECT_EQ(State().icons, 0u);
  EXPECT_EQ(LitPixels(State()).size(), 3u + 3u + 4u);  // the bits set in A1, A2, A3
}

struct IconCase {
  std::array<std::uint8_t, 7> data;
  std::uint64_t segments;
};

void PrintTo(const IconCase& c, std::ostream* out) {
  *out << "segments 0x" << std::hex << c.segments;
}

class IconBits : public ::testing::TestWithParam<IconCase> {};

TEST_P(IconBits, DataByteIHoldsSegmentsEightITo8IPlus7) {
  PanelModel model;
  const Bytes bytes = Packet(0x01, GetParam().data);
  model.ApplyPacket(bytes.data(), 1);
  EXPECT_EQ(model.State().icons, GetParam().segments);
}

INSTANTIATE_TEST_SUITE_P(
    Model, IconBits,
    ::testing::Values(IconCase{{0x80}, 1ull << 7}, IconCase{{0x01}, 1ull << 0},
                      IconCase{{0, 0x02}, 1ull << 9},
                      IconCase{{0, 0, 0, 0, 0, 0xFE, 0x08}, 0x0008FE0000000000ull},
                      IconCase{{0, 0, 0, 0, 0, 0, 0x80}, 1ull << 55},
                      IconCase{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x00FFFFFFFFFFFFFFull}));

TEST_F(Model, KeepsTheLastThreeIconPacketsOldestFirst) {
  for (std::uint8_t n = 1; n <= 4; ++n) {
    Send(Packet(0x01, {n}));
  }
  EXPECT_EQ(State().icon_history_count, 3u);
  EXPECT_EQ(State().icon_history[0], 2u);
  EXPECT_EQ(State().icon_history[1], 3u);
  EXPECT_EQ(State().icon_history[2], 4u);
  EXPECT_EQ(State().icons, 4u);
}

TEST_F(Model, ClockPacketSetsModeAndDate) {
  Send(Packet(0x50, {0x80, 0xDB, 0x03, 0x0E, 0x09, 0x05, 0x07}));
  EXPECT_EQ(State().mode, 0x80);
  const std::array<std::uint8_t, 6> clock = {0xDB, 3, 14, 9, 5, 7};
  EXPECT_TRUE(std::equal(clock.begin(), clock.end(), State().clock));
  Send(Packet(0x50, {0x40}));
  EXPECT_EQ(State().mode, 0x40);
  EXPECT_EQ(State().clock[0], 0);
}

// The picture rows as '#' and '.', top first.
std::vector<std::string> Rows(const VxPanelState& state) {
  std::vector<std::string> rows;
  for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
    std::string row;
    for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
      row += PixelLit(state, x, y) ? '#' : '.';
    }
    rows.push_back(row);
  }
  return rows;
}

// A session's end in clock mode: text on the panel and icons lit, then the
// reset and the clock packet for 14 March 2011, 09:05:07.
TEST_F(Model, ClockModeShowsTheClockOfThePacketInsteadOfThePicture) {
  Send(Packet(0x20, {0xFF, 0xFF, 0xFF}));
  Send(Packet(0x01, {0x80}));
  Send(Packet(0x50, {0x40}));
  Send(Packet(0x01));
  EXPECT_FALSE(ShowsClock(State()));
  EXPECT_EQ(Rows(Shown(State(), 0)), Rows(State()));  // the last text stays until then
  Send(Packet(0x50, {0x80, 0xDB, 3, 14, 9, 5, 7}));
  EXPECT_TRUE(ShowsClock(State()));
  // 09:05:07 in large digits, 2011-03-14 in small ones.
  const std::vector<std::string> clock = {
      ".....................######..######......######..######......######..######................."
      "....",
      ".....................######..######......######..######......######..######................."
      "....",
      ".....................##..##..##..##..##..##..##..##......##..##..##......##................."
      "....",
      ".....................##..##..##..##..##..##..##..##......##..##..##......##................."
      "....",
      ".....................##..##..######......##..##..######......##..##......##................."
      "....",
      ".....................##..##..######......##..##..######......##..##......##................."
      "....",
      ".....................##..##......##..##..##..##......##..##..##..##......##................."
      "....",
      ".....................##..##......##..##..##..##......##..##..##..##......##................."
      "....",
      ".....................######..######......######..######......######......##................."
      "....",
      ".....................######..######......######..######......######......##................."
      "....",
      "............................................................................................"
      "....",
      "............................###.###..#...#......###.###......#..#.#........................."
      "....",
      "..............................#.#.#.##..##......#.#...#.....##..#.#........................."
      "....",
      "............................###.#.#..#...#..###.#.#.###.###..#..###........................."
      "....",
      "............................#...#.#..#...#......#.#...#......#....#........................."
      "....",
      "............................###.###.###.###.....###.###.....###...#........................."
      "....",
  };
  EXPECT_EQ(Rows(Shown(State(), 0)), clock);
  // The model keeps the picture it was told; only what the panel shows changes.
  EXPECT_EQ(State().picture[0], 0xFF);
  EXPECT_EQ(Shown(State(), 0).icons, 0u);
}

struct RunningCase {
  const char* name;
  std::array<std::uint8_t, 6> set;  // year mod 256, month, day, hour, minute, second
  std::uint32_t seconds;            // later
  std::array<std::uint8_t, 6> shows;
  bool runs = true;  // false: the clock shows the same all along
};

void PrintTo(const RunningCase& c, std::ostream* out) {
  *out << c.name;
}

class RunningClock : public ::testing::TestWithParam<RunningCase> {};

VxPanelState ClockState(const std::array<std::uint8_t, 6>& clock) {
  PanelModel model;
  const Bytes packet =
      Packet(0x50, {0x80, clock[0], clock[1], clock[2], clock[3], clock[4], clock[5]});
  model.ApplyPacket(packet.data(), 1);
  return model.State();
}

// The clock `seconds` after the packet shows what a packet set that much later
// would show at once: it runs on, over midnight, month and year ends and leap
// days. A time no clock has stays as it is, in dashes; a date no calendar has is
// left out.
TEST_P(RunningClock, ShowsWhatAPacketSetThatMuchLaterShows) {
  const RunningCase& c = GetParam();
  const std::vector<std::string> later = Rows(Shown(ClockState(c.set), c.seconds));
  EXPECT_EQ(later, Rows(Shown(ClockState(c.shows), 0)));
  EXPECT_EQ(later != Rows(Shown(ClockState(c.set), 0)), c.runs);
}

constexpr std::uint8_t k2011 = 2011 % 256;
constexpr std::uint8_t k2012 = 2012 % 256;

INSTANTIATE_TEST_SUITE_P(
    Model, RunningClock,
    ::testing::Values(
        RunningCase{"one minute", {k2011, 3, 14, 9, 5, 7}, 60, {k2011, 3, 14, 9, 6, 7}},
        RunningCase{"over midnight", {k2011, 3, 14, 23, 59, 59}, 1, {k2011, 3, 15, 0, 0, 0}},
        RunningCase{"into March", {k2011, 2, 28, 23, 59, 59}, 1, {k2011, 3, 1, 0, 0, 0}},
        RunningCase{"leap day", {k2012, 2, 28, 12, 0, 0}, 86400, {k2012, 2, 29, 12, 0, 0}},
        RunningCase{"new year", {k2011, 12, 31, 23, 59, 59}, 2, {k2012, 1, 1, 0, 0, 1}},
        RunningCase{
            "hour out of range", {k2011, 3, 14, 24, 0, 0}, 5, {k2011, 3, 14, 25, 0, 0}, false},
        RunningCase{"no such date", {k2011, 2, 30, 23, 59, 59}, 1, {k2011, 13, 1, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<RunningCase>& test) {
      std::string name = test.param.name;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST(RunningClockFace, BadTimeShowsDashesAndBadDateLeavesTheDateOut) {
  const std::vector<std::string> bad_time = Rows(Shown(ClockState({k2011, 3, 14, 24, 0, 0}), 0));
  const std::vector<std::string> bad_date = Rows(Shown(ClockState({k2011, 2, 30, 9, 0, 0}), 0));
  EXPECT_EQ(bad_time[0], std::string(kVxPanelWidth, '.'));   // no digit's top row ...
  EXPECT_EQ(bad_time[4].substr(21, 6), "######");            // ... but dashes
  EXPECT_NE(bad_time[15], std::string(kVxPanelWidth, '.'));  // the date is shown
  EXPECT_NE(bad_date[0], std::string(kVxPanelWidth, '.'));   // the time is shown
  for (std::size_t row = 10; row < kVxPanelHeight; ++row) {
    EXPECT_EQ(bad_date[row], std::string(kVxPanelWidth, '.')) << "row " << row;
  }
}

// In off mode the panel is dark, whatever it was told before or after; the
// next reset brings the picture back.
TEST_F(Model, OffModeShowsNeitherPixelsNorIcons) {
  Send(Packet(0x20, {0xFF, 0x81}));
  Send(Packet(0x01, {0xFF, 0, 0, 0, 0, 0xFF, 0x08}));
  Send(Packet(0x01, {0x7F, 0, 0, 0, 0, 0xFE, 0x08}));
  Send(Packet(0x50, {0x08, 0xDB, 3, 14, 9, 5, 7}));
  Send(Packet(0x21, {0xFF}));
  const VxPanelState off = Shown(State(), 100);
  EXPECT_TRUE(LitPixels(off).empty());
  EXPECT_EQ(off.icons, 0u);
  EXPECT_EQ(SegmentRow(AnalyzeIcons(off)), std::string(kVxPanelSegments, '.'));
  EXPECT_EQ(DescribeRing(AnalyzeIcons(off)), "still");
  EXPECT_EQ(LitPixels(State()).size(), 8u + 2u + 8u);  // still told
  Send(Packet(0x50, {0x40}));
  EXPECT_EQ(Rows(Shown(State(), 0)), Rows(State()));
}

TEST_F(Model, ContrastAndEventsChangeNoPicture) {
  Send(Packet(0x20, {0xFF}));
  for (const std::uint8_t event : std::array<std::uint8_t, 5>{0x02, 0x10, 0x11, 0x12, 0x51}) {
    Send(Packet(event));
  }
  Send(Packet(0x03, {16}));
  EXPECT_EQ(State().contrast, 16);
  EXPECT_EQ(State().picture[0], 0xFF);
  EXPECT_EQ(State().unknown_packets, 0u);
  EXPECT_EQ(State().command_counts[0x51], 1u);
  EXPECT_EQ(State().packets, 7u);
}

TEST_F(Model, UnknownCommandsAreCountedAndKept) {
  const std::array<std::uint8_t, 6> unknown = {0x00, 0x04, 0x1F, 0x3C, 0x52, 0xFF};
  for (const std::uint8_t command : unknown) {
    Send(Packet(command, {0xAA}));
  }
  EXPECT_EQ(State().unknown_packets, unknown.size());
  EXPECT_EQ(State().last_unknown[7], 0xFF);
  EXPECT_EQ(State().last_unknown[0], 0xAA);
  EXPECT_TRUE(LitPixels(State()).empty());
  EXPECT_EQ(State().icons, 0u);
  EXPECT_EQ(State().mode, -1);
}

TEST_F(Model, InitAnswerAndInitedFlag) {
  EXPECT_EQ(model_.ApplyInit(24, 0x8888, 1), 1);
  EXPECT_EQ(State().inited, 1);
  EXPECT_EQ(State().init_arguments[1], 0x8888);
  model_.ApplyUninit(1);
  EXPECT_EQ(State().inited, 0);
  model_.SetInitAnswer(0x100);  // only the low byte is a truth value
  EXPECT_EQ(model_.ApplyInit(24, 0x8888, 1), 0x100);
  EXPECT_EQ(State().inited, 0);
  EXPECT_EQ(State().init_calls, 2u);
}

TEST_F(Model, LogKeepsTheNewestEntriesInOrder) {
  model_.ApplyInit(24, 0x8888, 1);
  for (std::size_t i = 0; i < kVxPanelLogCapacity + 10; ++i) {
    Send(Packet(0x01, {static_cast<std::uint8_t>(i)}));
  }
  VxPanelLogEntry entry{};
  EXPECT_FALSE(model_.LogEntry(0, &entry));
  EXPECT_FALSE(model_.LogEntry(10, &entry));
  ASSERT_TRUE(model_.LogEntry(11, &entry));
  EXPECT_EQ(entry.sequence, 11u);
  EXPECT_EQ(entry.kind, kVxPanelPacket);
  EXPECT_EQ(entry.bytes[0], 10);  // the packet sent with i = 10
  EXPECT_FALSE(model_.LogEntry(State().sequence, &entry));
  model_.Reset();
  EXPECT_EQ(State().sequence, 0u);
  EXPECT_FALSE(model_.LogEntry(0, &entry));
}

}  // namespace
}  // namespace emulator
