// The text frame and cursor, and the rasteriser's line rules, on the linked
// code, where the frame's cells can be read directly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/state.h"
#include "tests/support/linked_fixture.h"
#include "text/fonts.h"
#include "text/frame.h"
#include "text/raster.h"

namespace testing_support {
namespace {

using TextFrame = LinkedTest;

std::string Row(std::size_t row, std::size_t first, std::size_t count) {
  std::string cells;
  for (std::size_t column = first; column < first + count; ++column) {
    const std::uint8_t cell = text::FrameCell(row, column);
    cells += cell == 0 ? '_' : static_cast<char>(cell);
  }
  return cells;
}

TEST_F(TextFrame, CursorIsLimitedAndMadeZeroBased) {
  struct Case {
    std::uint8_t x, y, column, row;
  };
  for (const Case c : {Case{0, 0, 0, 0}, Case{1, 1, 0, 0}, Case{2, 1, 1, 0}, Case{16, 2, 15, 1},
                       Case{39, 2, 38, 1}, Case{40, 2, 39, 1}, Case{41, 3, 39, 1},
                       Case{200, 9, 39, 1}, Case{255, 255, 39, 1}}) {
    text::SetPosition(c.x, c.y);
    EXPECT_EQ(text::CursorColumn(), c.column) << int{c.x};
    EXPECT_EQ(text::CursorRow(), c.row) << int{c.y};
  }
}

TEST_F(TextFrame, StartPutsTheCursorOnTheSecondRowAndEmptiesTheFrame) {
  text::SetPosition(30, 1);
  text::Write("stale");
  Open("message");
  EXPECT_EQ(text::CursorColumn(), 0);
  EXPECT_EQ(text::CursorRow(), 1);
  EXPECT_EQ(Row(0, 0, 40), std::string(40, '_'));
}

TEST_F(TextFrame, WritesStoreAtTheCursorWhichStaysPut) {
  Open("message");
  text::SetPosition(1, 1);
  text::Write("Hello");
  text::Write("ab");
  EXPECT_EQ(Row(0, 0, 6), "abllo_");
  EXPECT_EQ(text::CursorColumn(), 0);
}

TEST_F(TextFrame, ControlCodesAreTranslated) {
  Open("message");
  text::SetPosition(1, 1);
  text::Write("\x01\x05\x0f\x10\x1f\x20\x41\xfe\xff");
  const std::uint8_t expected[] = {0x01, 0x05, 0x0f, 0x20, 0x20, 0x20, 0x41, 0xfe, 0x20};
  for (std::size_t column = 0; column < sizeof expected; ++column) {
    EXPECT_EQ(text::FrameCell(0, column), expected[column]) << column;
  }
}

TEST_F(TextFrame, AtMostSixteenBytesAreReadFromAText) {
  Open("message");
  text::SetPosition(1, 1);
  // No terminating 0 within the first 16 bytes and nothing after them: the
  // write must stop after the 16th (AddressSanitizer catches a read past it).
  char text[16];
  std::memset(text, 'x', sizeof text);
  text::Write(text);
  EXPECT_EQ(Row(0, 0, 17), std::string(16, 'x') + "_");
}

TEST_F(TextFrame, CharactersPastTheLastColumnAreDropped) {
  Open("message");
  for (const std::size_t row : {0u, 1u}) {
    text::SetPosition(30, static_cast<std::uint8_t>(row + 1));
    text::Write("0123456789ABCDEF");
    EXPECT_EQ(Row(row, 29, 11), "0123456789A");
  }
  // Nothing ran over into the second row or beyond the frame.
  EXPECT_EQ(Row(1, 0, 16), std::string(16, '_'));
}

TEST_F(TextFrame, ClearingKeepsTheColumnsThatAreNeverShown) {
  Open("message");
  text::SetPosition(10, 1);
  text::Write("0123456789");
  text::ClearFrameBuffer();
  EXPECT_EQ(Row(0, 0, 20), std::string(16, '_') + "789_");
  EXPECT_EQ(text::CursorColumn(), 9);
}

TEST_F(TextFrame, SmallFontLineStopsAtItsFirstZeroIndependentlyOfTheOther) {
  plugin::ScreenMode = 2;
  const std::uint8_t line1[16] = {'A', 'B', 0, 'C', 'D'};
  std::uint8_t line2[16];
  std::memset(line2, 'A', sizeof line2);
  text::SendText(line1, line2);
  // A and B in cells 0 and 1, nothing from cell 2 on.
  for (std::size_t x = 12; x < 96; ++x) {
    EXPECT_EQ(text::PixelBuffer[x], 0) << x;
  }
  EXPECT_NE(text::PixelBuffer[7], 0);
  // The second line is drawn in full: 16 cells exactly (AddressSanitizer
  // catches a read of a 17th).
  for (std::size_t cell = 0; cell < 16; ++cell) {
    EXPECT_EQ(text::PixelBuffer[96 + 6 * cell + 1], text::BitReverse(text::Font8x5[6 * 'A' + 1]));
  }
}

TEST_F(TextFrame, LargeGlyphHalvesAreRotatedIntoColumnBytes) {
  // Large A: rows 00 38 6c c6 c6 c6 | fe c6 c6 c6 00 00.
  EXPECT_EQ(text::RotateFont8x12_L1('A'), 0x0f18'1018'0f07'0000ull);
  EXPECT_EQ(text::RotateFont8x12_L2('A'), 0xf080'8080'f0f0'0000ull);
  EXPECT_EQ(text::RotateFont8x12_L1(0), 0u);
  // The horizontal line lies on glyph row 6, the top of the lower half: bit 7
  // of every column, including the last one (font bit 0).
  EXPECT_EQ(text::RotateFont8x12_L2(196), 0x8080'8080'8080'8000ull);
}

}  // namespace
}  // namespace testing_support
