// The packet log's descriptions of hand-made packets and calls.
#include "emulator/decode.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace emulator {
namespace {

struct DescribeCase {
  std::array<std::uint8_t, 8> bytes;  // in memory order: data 0..6, then the command
  const char* meaning;
};

void PrintTo(const DescribeCase& c, std::ostream* out) {
  *out << c.meaning;
}

class Describe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(Describe, SaysWhatThePacketMeans) {
  EXPECT_EQ(DescribePacket(GetParam().bytes.data()), GetParam().meaning);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, Describe,
    ::testing::Values(DescribeCase{{0, 1, 2, 3, 4, 5, 6, 0x20}, "pixels 0x20 bytes 0..6"},
                      DescribeCase{{0, 0, 0, 0, 0, 0, 0, 0x2D}, "pixels 0x2D bytes 91..97"},
                      DescribeCase{{189, 190, 191, 0, 0, 0, 0, 0x3B}, "pixels 0x3B bytes 189..191"},
                      DescribeCase{{0, 0, 0, 0, 9, 0, 0, 0x3B},
                                   "pixels 0x3B bytes 189..191 (unused data bytes not zero)"},
                      DescribeCase{{0x80, 0, 0, 0, 0, 0xFE, 0x08, 0x01}, "icons: 7 41-47 51"},
                      DescribeCase{{0x18, 0, 0, 0, 0, 0, 0x80, 0x01}, "icons: 3 4 55"},
                      DescribeCase{{0, 0, 0, 0, 0, 0, 0, 0x01}, "icons: none"},
                      DescribeCase{{16, 0, 0, 0, 0, 0, 0, 0x03}, "contrast 16"},
                      DescribeCase{{40, 0, 0, 0, 0, 0, 0, 0x03}, "contrast 40 (above 31)"},
                      DescribeCase{{0x40, 0, 0, 0, 0, 0, 0, 0x50}, "mode 0x40 (reset), no date"},
                      DescribeCase{{0x80, 0xDB, 3, 14, 9, 5, 7, 0x50},
                                   "clock 2011-03-14 09:05:07 mode 0x80 (clock)"},
                      DescribeCase{{0x08, 0xE8, 12, 31, 23, 59, 59, 0x50},
                                   "clock 2024-12-31 23:59:59 mode 0x08 (off)"},
                      DescribeCase{{0, 0, 0, 0, 0, 0, 0, 0x51}, "event 0x51"},
                      DescribeCase{{0, 0, 1, 0, 0, 0, 0, 0x10},
                                   "event 0x10 (unused data bytes not zero)"},
                      DescribeCase{{0, 0, 0, 0, 0, 0, 0, 0x77}, "unknown command 0x77"},
                      DescribeCase{{0, 0, 0, 0, 0, 0, 0, 0x3C}, "unknown command 0x3C"}));

TEST(FullYear, ChoosesTheYearFrom1980To2235WithTheseLowBits) {
  const struct {
    std::uint8_t low;
    int year;
  } cases[] = {{0xDB, 2011}, {188, 1980}, {187, 2235}, {0, 2048}, {0xEA, 2026}};
  for (const auto& c : cases) {
    EXPECT_EQ(FullYear(c.low), c.year) << "low bits " << int{c.low};
  }
}

TEST(SegmentList, FoldsRunsOfThreeOrMore) {
  EXPECT_EQ(SegmentList(0), "none");
  EXPECT_EQ(SegmentList(1), "0");
  EXPECT_EQ(SegmentList(0x0E), "1-3");
  EXPECT_EQ(SegmentList(0x06), "1 2");
  EXPECT_EQ(SegmentList(0x00FFFFFFFFFFFFFFull), "0-55");
  EXPECT_EQ(SegmentList((1ull << 9) | (1ull << 49) | (0xFFull << 40)), "9 40-47 49");
}

TEST(DescribeEntry, ShowsSequenceThreadBytesAndMeaning) {
  VxPanelLogEntry packet{};
  packet.sequence = 42;
  packet.kind = kVxPanelPacket;
  packet.thread = 2;
  const std::uint8_t bytes[8] = {0x80, 0, 0, 0, 0, 0, 0, 0x01};
  std::copy(bytes, bytes + 8, packet.bytes);
  EXPECT_EQ(DescribeEntry(packet), "     42 t2  80 00 00 00 00 00 00 01  icons: 7");

  VxPanelLogEntry init{};
  init.kind = kVxPanelInit;
  init.thread = 1;
  init.arguments[0] = 24;
  init.arguments[1] = 34952;
  EXPECT_EQ(DescribeEntry(init), "      0 t1  call iMONVFD_Init(24, 34952)");

  VxPanelLogEntry uninit{};
  uninit.kind = kVxPanelUninit;
  uninit.thread = 1;
  EXPECT_NE(DescribeEntry(uninit).find("call iMONVFD_Uninit()"), std::string::npos);
}

}  // namespace
}  // namespace emulator
