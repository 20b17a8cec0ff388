// Text on the panel as a host sees it: what a write sends, pixel for pixel, in
// both screen modes, and host-defined characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/plugin_fixture.h"

namespace testing_support {
namespace {

class TextTest : public PluginTest {
 protected:
  // The picture the last write sent; fails the test when none was sent.
  Picture Shown() {
    Picture picture{};
    EXPECT_TRUE(LastPicture(SentPackets(true), &picture)) << Hex(SentPackets(true));
    return picture;
  }

  // The bytes of `picture` from `first` on, as many as `expected` holds, and
  // all other bytes zero.
  static void ExpectOnly(
      const Picture& picture,
      const std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>>& runs) {
    Picture expected{};
    for (const auto& [first, bytes] : runs) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        expected[first + i] = bytes[i];
      }
    }
    EXPECT_EQ(picture, expected) << "shown:\n"
                                 << PictureArt(picture) << "expected:\n"
                                 << PictureArt(expected);
  }

  void WriteAt(std::uint8_t x, std::uint8_t y, const char* text) {
    api_.SetPosition(x, y);
    api_.Write(text);
  }
};

TEST_F(TextTest, EveryWriteSendsTheWholePictureAsTwentyEightPackets) {
  Open("message");
  for (const char* text : {"Hello", ""}) {
    Recorder_Clear();
    api_.Write(text);
    const std::vector<PacketBytes> packets = SentPackets(true);
    ASSERT_EQ(packets.size(), 28u) << Hex(packets);
    for (std::size_t k = 0; k < packets.size(); ++k) {
      EXPECT_EQ(packets[k][7], 0x20 + k);
    }
    EXPECT_EQ(packets[27][3], 0);  // the padding after byte 191
  }
}

TEST_F(TextTest, SmallFontAInTheFirstCell) {
  Open("message");
  WriteAt(1, 1, "A");
  ExpectOnly(Shown(), {{0, {0x00, 0x7e, 0x90, 0x90, 0x90, 0x7e}}});
}

TEST_F(TextTest, SmallFontSecondLineUsesTheBottomBand) {
  Open("message");
  WriteAt(1, 2, "               A");  // the A in the last cell of the second line
  ExpectOnly(Shown(), {{96 + 90, {0x00, 0x7e, 0x90, 0x90, 0x90, 0x7e}}});
}

TEST_F(TextTest, LargeFontAInTheFirstCell) {
  Open("message", 16, 1);
  WriteAt(1, 1, "A");
  ExpectOnly(Shown(), {{0, {0x0f, 0x18, 0x10, 0x18, 0x0f, 0x07, 0x00}},
                       {96, {0xf0, 0x80, 0x80, 0x80, 0xf0, 0xf0, 0x00}}});
}

TEST_F(TextTest, LargeFontShowsFourteenCellsTheLastFiveColumnsWide) {
  Open("message", 16, 1);
  WriteAt(1, 1, "AAAAAAAAAAAAAAAA");  // 16 characters, two more than fit
  const Picture picture = Shown();
  const std::vector<std::uint8_t> top = {0x0f, 0x18, 0x10, 0x18, 0x0f, 0x07, 0x00};
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> runs;
  for (std::size_t cell = 0; cell < 14; ++cell) {
    const std::ptrdiff_t width = cell < 13 ? 7 : 5;
    runs.push_back({7 * cell, std::vector<std::uint8_t>(top.begin(), top.begin() + width)});
    const std::vector<std::uint8_t> bottom = {0xf0, 0x80, 0x80, 0x80, 0xf0, 0xf0, 0x00};
    runs.push_back(
        {96 + 7 * cell, std::vector<std::uint8_t>(bottom.begin(), bottom.begin() + width)});
  }
  ExpectOnly(picture, runs);
}

TEST_F(TextTest, LargeFontIgnoresTheSecondRow) {
  Open("message", 16, 1);
  WriteAt(1, 1, "A");
  const Picture one_line = Shown();
  WriteAt(1, 2, "Second row");
  EXPECT_EQ(Shown(), one_line);
}

TEST_F(TextTest, FirstWriteBeforePlacingTheCursorLandsOnTheSecondRow) {
  Open("message");
  api_.Write("A");
  ExpectOnly(Shown(), {{96, {0x00, 0x7e, 0x90, 0x90, 0x90, 0x7e}}});
}

TEST_F(TextTest, AnEmptyCellEndsTheLine) {
  Open("message");
  WriteAt(1, 1, "AB");
  WriteAt(4, 1, "CD");  // cell 2 stays empty, so C and D are not shown
  const Picture with_gap = Shown();
  Recorder_Clear();
  WriteAt(1, 1, "AB");
  EXPECT_EQ(Shown(), with_gap);
  // Filling the gap shows the rest of the line.
  WriteAt(3, 1, " ");
  EXPECT_NE(Shown(), with_gap);
}

TEST_F(TextTest, TextAfterTheCursorColumnNeedsTheCellsBeforeIt) {
  Open("message");
  WriteAt(6, 1, "abc");
  ExpectOnly(Shown(), {});
  WriteAt(1, 1, "12345");
  const Picture picture = Shown();
  // Cells 5..7 (columns 30..47) now show the letters.
  bool lit = false;
  for (std::size_t column = 30; column < 48; ++column) {
    lit = lit || picture[column] != 0;
  }
  EXPECT_TRUE(lit) << PictureArt(picture);
}

TEST_F(TextTest, ControlCodesShowAsSpaces) {
  Open("message");
  WriteAt(1, 1,
          "\x10\x1f\xff"
          "A");
  // Three blank cells, then the A in the fourth.
  ExpectOnly(Shown(), {{18, {0x00, 0x7e, 0x90, 0x90, 0x90, 0x7e}}});
}

TEST_F(TextTest, OnlySixteenCharactersOfAWriteAreStored) {
  Open("message");
  WriteAt(1, 2, "AAAAAAAAAAAAAAAAAAAA");  // 20 characters
  WriteAt(1, 2, "");
  const Picture picture = Shown();
  for (std::size_t cell = 0; cell < 16; ++cell) {
    EXPECT_EQ(picture[96 + 6 * cell + 1], 0x7e) << "cell " << cell;
  }
}

TEST_F(TextTest, SmallDigitsAndAccentedLettersDrawTheSmallFontsOwnGlyphs) {
  Open("message");
  WriteAt(1, 1, "\x80\x8d");  // small 0, A with diaeresis
  ExpectOnly(Shown(), {{0, {0x00, 0x00, 0x3e, 0x22, 0x3e, 0x00}},
                       {6, {0x00, 0x1e, 0xa4, 0x24, 0xa4, 0x1e}}});
}

TEST_F(TextTest, WriteBeforeStartRendersButSendsNothing) {
  api_.Write("Hello");
  EXPECT_TRUE(Records().empty());
}

TEST_F(TextTest, NullTextCountsAsEmpty) {
  Open("message");
  WriteAt(1, 1, "A");
  const Picture before = Shown();
  Recorder_Clear();
  api_.Write(nullptr);
  EXPECT_EQ(Shown(), before);
}

TEST_F(TextTest, StartClearsTheTextOfTheLastRun) {
  Open("message");
  WriteAt(1, 1, "Hello");
  Open("message");  // closes the first run, then starts afresh
  Recorder_Clear();
  api_.Write("");
  ExpectOnly(Shown(), {});
}

// Host-defined characters ------------------------------------------------------

using CustomCharTest = TextTest;

TEST_F(CustomCharTest, FullPatternFillsFiveColumnsOfEightRows) {
  Open("message");
  const std::uint8_t full[8] = {0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f};
  api_.CustomChar(3, full);
  WriteAt(1, 1, "\x02");
  ExpectOnly(Shown(), {{0, {0xff, 0xff, 0xff, 0xff, 0xff, 0x00}}});
}

struct DotCase {
  std::uint8_t row;
  std::uint8_t bits;
  std::size_t column;     // pixel column within the cell
  std::uint8_t expected;  // the band byte of that column
};

class CustomCharDot : public TextTest, public ::testing::WithParamInterface<DotCase> {};

TEST_P(CustomCharDot, EachDotLandsOnItsPixel) {
  const DotCase dot = GetParam();
  Open("message");
  std::uint8_t pattern[8] = {};
  pattern[dot.row] = dot.bits;
  api_.CustomChar(1, pattern);
  WriteAt(1, 1, "\x08");
  if (dot.expected == 0) {
    ExpectOnly(Shown(), {});
  } else {
    ExpectOnly(Shown(), {{dot.column, {dot.expected}}});
  }
}

INSTANTIATE_TEST_SUITE_P(Dots, CustomCharDot,
                         ::testing::Values(DotCase{0, 0x10, 0, 0x80},   // top left
                                           DotCase{7, 0x01, 4, 0x01},   // bottom right
                                           DotCase{6, 0x01, 4, 0x02},   // one row up
                                           DotCase{3, 0x04, 2, 0x10},   // the middle
                                           DotCase{0, 0xe0, 0, 0x00}),  // bits 7..5 ignored
                         [](const ::testing::TestParamInfo<DotCase>& case_info) {
                           return "row" + std::to_string(case_info.param.row) + "_bits" +
                                  std::to_string(case_info.param.bits);
                         });

TEST_F(CustomCharTest, IndexMapsToItsCharacterCode) {
  struct Case {
    std::uint8_t index;
    std::uint8_t code;
  };
  for (const Case c :
       {Case{1, 8}, Case{2, 1}, Case{5, 4}, Case{8, 7}, Case{9, 8}, Case{0, 255}, Case{66, 65}}) {
    EXPECT_EQ(api_.CustomCharIndex(c.index), c.code) << int{c.index};
  }
}

TEST_F(CustomCharTest, IndexOutsideOneToEightReplacesThatEntry) {
  Open("message");
  const std::uint8_t bar[8] = {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10};
  api_.CustomChar(66, bar);  // entry 65: the A
  WriteAt(1, 1, "A");
  ExpectOnly(Shown(), {{0, {0xff}}});
}

TEST_F(CustomCharTest, DefinitionShowsFromTheNextWriteOnly) {
  Open("message");
  WriteAt(1, 1, "\x01\x01");
  const Picture before = Shown();
  Recorder_Clear();
  const std::uint8_t full[8] = {0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f};
  api_.CustomChar(2, full);
  EXPECT_TRUE(SentPackets(true).empty());
  // The next write redraws every occurrence, also text written before.
  api_.SetPosition(16, 2);
  api_.Write("");
  ExpectOnly(Shown(), {{0, {0xff, 0xff, 0xff, 0xff, 0xff, 0x00}},
                       {6, {0xff, 0xff, 0xff, 0xff, 0xff, 0x00}}});
  EXPECT_NE(Shown(), before);
}

TEST_F(CustomCharTest, OneLineModeIgnoresDefinitions) {
  Open("message", 16, 1);
  WriteAt(1, 1, "\x02");
  const Picture large_glyph = Shown();
  const std::uint8_t full[8] = {0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f, 0x1f};
  api_.CustomChar(3, full);
  Open("message");  // two-line mode: entry 2 must still be the built-in glyph
  WriteAt(1, 1, "\x02");
  const Picture built_in = Shown();
  EXPECT_NE(built_in, Picture{});
  EXPECT_EQ(built_in[0], 0x00);  // a built-in glyph's blank left column
  EXPECT_NE(large_glyph, Picture{});
}

TEST_F(CustomCharTest, NullPatternIsIgnored) {
  Open("message");
  WriteAt(1, 1, "\x01");
  const Picture before = Shown();
  api_.CustomChar(2, nullptr);
  api_.Write("\x01");
  EXPECT_EQ(Shown(), before);
}

}  // namespace
}  // namespace testing_support
