// The icon refresh cycle, stepped by hand: the icon thread is held at every
// start, so each test runs the cycles itself and reads the packet each one
// sends. Blinking, the ring animation, the speaker poll and merge, the suspend
// rule, and what survives a Done and the next start.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "icons/icons.h"
#include "icons/masks.h"
#include "tests/support/linked_fixture.h"

namespace testing_support {
namespace {

class IconCycles : public LinkedTest {
 protected:
  void SetUp() override {
    LinkedTest::SetUp();
    platform::seam::HoldThreadStarts(true);
    // Blink marks outlive a start by design; begin every test without any.
    icons::ICON_FLASH = 0;
  }

  void TearDown() override {
    LinkedTest::TearDown();
    platform::seam::HoldThreadStarts(false);
    icons::IconThreadSuspend.store(0);
  }

  // Runs one refresh cycle and returns the one icon packet it sent.
  std::uint64_t Cycle() {
    Recorder_Clear();
    icons::RunRefreshCycle();
    const std::vector<PacketBytes> packets = SentPackets();
    EXPECT_EQ(packets.size(), 1u) << Hex(packets);
    return packets.empty() ? 0 : Value(packets.back());
  }

  std::vector<std::uint64_t> Cycles(int count) {
    std::vector<std::uint64_t> packets;
    for (int i = 0; i < count; ++i) {
      packets.push_back(Cycle());
    }
    return packets;
  }
};

TEST_F(IconCycles, IdlePluginSendsTheEmptyIconPacketEveryCycle) {
  for (const char* parameters : {"", "audio"}) {
    SCOPED_TRACE(parameters);
    platform::seam::SetSpeakerConfig(false, 0);  // no layout to show
    Open(parameters);
    EXPECT_EQ(Cycles(4), std::vector<std::uint64_t>(4, kEmpty));
    Close();
  }
}

TEST_F(IconCycles, BlinkingSegmentAlternatesWithEveryCycle) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> calls;  // (action, number)
    std::vector<bool> lit;                                     // segment 7 in cycles 1..6
  };
  const Case cases[] = {
      {"dark segment made to blink", {{3, 7}}, {true, false, true, false, true, false}},
      {"lit segment made to blink", {{2, 7}, {3, 7}}, {false, true, false, true, false, true}},
      {"blinking segment switched on", {{3, 7}, {2, 7}}, {true, true, true, true, true, true}},
      {"blinking segment switched off",
       {{3, 7}, {1, 7}},
       {false, false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    for (const auto& [action, number] : c.calls) {
      api_.SetFan(action, number);
    }
    std::vector<bool> lit;
    for (const std::uint64_t packet : Cycles(6)) {
      EXPECT_EQ(packet & ~Bit(7), kEmpty);
      lit.push_back((packet & Bit(7)) != 0);
    }
    EXPECT_EQ(lit, c.lit);
    Close();
    icons::ICON_FLASH = 0;
  }
}

TEST_F(IconCycles, NewBlinkingSegmentBlinksInStepWithTheOthers) {
  // Segment 3 blinks; segment 7 is made to blink once while 3 is lit and once
  // while it is dark. Either way both are lit in the same packets afterwards.
  for (const bool three_lit : {true, false}) {
    SCOPED_TRACE(three_lit ? "segment 3 lit" : "segment 3 dark");
    Open();
    api_.SetFan(3, 3);
    EXPECT_EQ(Cycle(), kEmpty | Bit(3));
    if (!three_lit) {
      EXPECT_EQ(Cycle(), kEmpty);
    }
    api_.SetFan(3, 7);
    const std::uint64_t both = kEmpty | Bit(3) | Bit(7);
    const std::vector<std::uint64_t> expected =
        three_lit ? std::vector<std::uint64_t>{kEmpty, both, kEmpty, both}
                  : std::vector<std::uint64_t>{both, kEmpty, both, kEmpty};
    EXPECT_EQ(Cycles(4), expected);
    Close();
    icons::ICON_FLASH = 0;
  }
}

TEST_F(IconCycles, RingAnimationMovesOneSegmentPerCycle) {
  struct Case {
    std::uint8_t number;
    std::uint64_t ring[8];  // ring byte (bit 40 lowest) in cycles 1..8
  };
  const Case cases[] = {
      {51, {0xFD, 0xFB, 0xF7, 0xEF, 0xDF, 0xBF, 0x7F, 0xFE}},  // forward from 0xFE
      {52, {0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x01}},  // forward from 0x01
      {53, {0x7F, 0xBF, 0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE}},  // backward from 0xFE
      {54, {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01}},  // backward from 0x01
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.number));
    Open();
    // Neighbours of the ring, which the rotation must leave alone.
    api_.SetFan(2, 39);
    api_.SetFan(2, 49);
    api_.SetFan(2, c.number);
    for (const std::uint64_t ring : c.ring) {
      EXPECT_EQ(Cycle(), kEmpty | Bit(39) | Bit(49) | Bit(c.number) | Ring(ring));
    }
    Close();
  }
}

TEST_F(IconCycles, ForwardAndBackwardMarksTogetherLeaveTheRingInPlace) {
  for (const auto& [forward, backward] :
       {std::pair{51, 53}, std::pair{52, 54}, std::pair{51, 54}}) {
    SCOPED_TRACE(forward * 100 + backward);
    Open();
    // SetFan never sets two marks; only a direct change of the mask can.
    const std::uint64_t status = kEmpty | Bit(forward) | Bit(backward) | Ring(0xA5);
    icons::ICON_STATUS = status;
    EXPECT_EQ(Cycles(3), std::vector<std::uint64_t>(3, status));
    Close();
  }
}

TEST_F(IconCycles, BlinkingRingSegmentIsInvertedAfterTheRingHasMoved) {
  Open();
  api_.SetFan(2, 52);  // ring 0x01, moving forward
  api_.SetFan(3, 40);  // segment 40 blinks at its fixed place
  const std::uint64_t rings[] = {0x03, 0x07, 0x0F, 0x1F};
  for (const std::uint64_t ring : rings) {
    EXPECT_EQ(Cycle(), kEmpty | Bit(52) | Ring(ring));
  }
}

TEST_F(IconCycles, SpeakerLayoutIsPolledEveryThirdCycleAndMergedOnChange) {
  platform::seam::SetSpeakerConfig(true, 0x00140004);  // stereo, with a geometry
  Open("audio");
  api_.SetFan(2, 3);  // a segment that is no speaker segment
  const std::uint64_t other = kEmpty | Bit(3);
  EXPECT_EQ(Cycles(3), (std::vector<std::uint64_t>{other, other, other | 0x4001}));

  // While the layout stays the same, the host's changes to speaker segments stay.
  api_.SetFan(1, 14);
  api_.SetFan(2, 12);
  EXPECT_EQ(Cycles(3), std::vector<std::uint64_t>(3, other | Bit(0) | Bit(12)));

  // A new layout is seen at the next poll only, and replaces the speaker
  // segments whatever the host did to them.
  api_.SetFan(2, 10);
  platform::seam::SetSpeakerConfig(true, 3);  // quad
  const std::uint64_t before = other | Bit(0) | Bit(10) | Bit(12);
  EXPECT_EQ(Cycles(3), (std::vector<std::uint64_t>{before, before, other | 0x6801}));

  // A layout that cannot be read darkens the speaker segments.
  platform::seam::SetSpeakerConfig(false, 0);
  EXPECT_EQ(Cycles(3), (std::vector<std::uint64_t>{other | 0x6801, other | 0x6801, other}));
}

TEST_F(IconCycles, DirectOutputSegmentStaysLitWhenTheLayoutChanges) {
  platform::seam::SetSpeakerConfig(true, 0);  // direct output: segment 9
  Open("audio");
  EXPECT_EQ(Cycles(3).back(), kEmpty | Bit(9));
  platform::seam::SetSpeakerConfig(true, 8);  // 7.1 surround
  EXPECT_EQ(Cycles(3).back(), kEmpty | Bit(9) | 0xFD01);
  platform::seam::SetSpeakerConfig(true, 2);  // mono
  EXPECT_EQ(Cycles(3).back(), kEmpty | Bit(9) | 0x8000);
}

TEST_F(IconCycles, WithoutTheAudioOptionTheLayoutIsNeverShown) {
  platform::seam::SetSpeakerConfig(true, 6);
  Open("clock");
  EXPECT_EQ(Cycles(9), std::vector<std::uint64_t>(9, kEmpty));
}

TEST_F(IconCycles, SpeakerLayoutShowsAgainAfterARestart) {
  // The restart darkens all segments; the unchanged layout must come back with
  // the new thread's first poll rather than count as already shown.
  platform::seam::SetSpeakerConfig(true, 4);
  Open("audio");
  EXPECT_EQ(Cycles(3).back(), kEmpty | 0x4001);
  Close();
  Open("audio");
  EXPECT_EQ(Cycles(3), (std::vector<std::uint64_t>{kEmpty, kEmpty, kEmpty | 0x4001}));
}

TEST_F(IconCycles, SuspendedCyclesSendTheMaskUnchanged) {
  platform::seam::SetSpeakerConfig(true, 4);
  Open("audio");
  api_.SetFan(3, 7);
  api_.SetFan(2, 51);
  const std::uint64_t first = kEmpty | Bit(7) | Bit(51) | Ring(0xFD);
  EXPECT_EQ(Cycle(), first);
  icons::IconThreadSuspend.store(1);
  // No blink, no ring step and no speaker poll, though the third cycle is due
  // to poll; a packet still goes out every cycle.
  EXPECT_EQ(Cycles(3), std::vector<std::uint64_t>(3, first));
  icons::IconThreadSuspend.store(0);
  // The poll counter went on counting, so the poll comes with the next cycle.
  EXPECT_EQ(Cycle(), kEmpty | Bit(51) | Ring(0xFB) | 0x4001);
}

TEST_F(IconCycles, StartClearsTheSuspendFlag) {
  Open();
  icons::IconThreadSuspend.store(1);
  Close();
  Open();
  api_.SetFan(3, 7);
  EXPECT_EQ(Cycles(2), (std::vector<std::uint64_t>{kEmpty | Bit(7), kEmpty}));
}

TEST_F(IconCycles, BlinkMarksSurviveDoneAndTheNextStart) {
  Open("message");
  api_.SetFan(3, 7);
  api_.SetFan(2, 51);
  EXPECT_EQ(Cycles(2), (std::vector<std::uint64_t>{kEmpty | Bit(7) | Bit(51) | Ring(0xFD),
                                                   kEmpty | Bit(51) | Ring(0xFB)}));
  Recorder_Clear();
  Close();
  // Done's icon packet is all dark.
  EXPECT_EQ(Value(SentPackets().front()), kEmpty);
  Recorder_Clear();
  Open("message");
  EXPECT_EQ(Value(SentPackets().back()), kEmpty);
  // The blink mark is still there, so segment 7 is lit in the first cycle; the
  // ring and its animation were cleared with the rest of the picture.
  EXPECT_EQ(Cycles(3), (std::vector<std::uint64_t>{kEmpty | Bit(7), kEmpty, kEmpty | Bit(7)}));
}

}  // namespace
}  // namespace testing_support
