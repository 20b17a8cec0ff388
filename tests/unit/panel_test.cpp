// The pixel transfer and the reset sequence, driven on the linked code.
#include "panel/panel.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/linked_fixture.h"
#include "text/frame.h"
#include "text/raster.h"

namespace testing_support {
namespace {

using Panel = LinkedTest;

TEST_F(Panel, PixelTransferRunsThroughTheBufferSevenBytesAPacket) {
  Open("message");
  for (std::size_t n = 0; n < text::kPixelBufferSize; ++n) {
    text::PixelBuffer[n] = static_cast<std::uint8_t>(n);
  }
  Recorder_Clear();
  panel::UpdateDisplay();
  const std::vector<PacketBytes> packets = SentPackets(true);
  ASSERT_EQ(packets.size(), 28u);
  for (std::size_t k = 0; k < packets.size(); ++k) {
    EXPECT_EQ(packets[k][7], 0x20 + k);
  }
  EXPECT_EQ(packets[0], (PacketBytes{0, 1, 2, 3, 4, 5, 6, 0x20}));
  EXPECT_EQ(packets[1], (PacketBytes{7, 8, 9, 10, 11, 12, 13, 0x21}));
  // Packet 0x2D spans the end of the top band and the start of the bottom one.
  EXPECT_EQ(packets[13], (PacketBytes{91, 92, 93, 94, 95, 96, 97, 0x2D}));
  EXPECT_EQ(packets[27], (PacketBytes{189, 190, 191, 0, 0, 0, 0, 0x3B}));
}

TEST_F(Panel, ResetSequenceClearsFrameAndPictureWithoutPixelPackets) {
  Open("message");
  api_.SetPosition(1, 1);
  api_.Write("Hello");
  api_.SetPosition(18, 2);
  api_.Write("kept");
  ASSERT_EQ(text::FrameCell(0, 0), 'H');
  text::PixelBuffer[5] = 0xFF;
  Recorder_Clear();
  panel::ClearDisplay();
  EXPECT_EQ(SentPackets(true), ResetSequence(10));
  EXPECT_EQ(text::FrameCell(0, 0), 0);
  EXPECT_EQ(text::PixelBuffer[5], 0);
  // Only the shown columns are cleared.
  EXPECT_EQ(text::FrameCell(1, 17), 'k');
}

}  // namespace
}  // namespace testing_support
