// Checks the generated glyph tables: the rows every rendering relies on, byte
// for byte, the layout rules each glyph of the two fonts must keep, and that
// the large font's letters and digits can be told apart on the panel.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/state.h"
#include "text/fonts.h"
#include "text/raster.h"

namespace {

using text::Font8x12;
using text::Font8x5;
using text::kFont8x12GlyphBytes;
using text::kFont8x5GlyphBytes;

// Custom characters overwrite small-font entries at run time, and other tests
// in the same process may define some before these run. The copy is taken
// during start-up, before any test, so it holds the built-in glyphs.
const std::array<std::uint8_t, text::kFont8x5Size> kSmall = [] {
  std::array<std::uint8_t, text::kFont8x5Size> copy{};
  for (std::size_t i = 0; i < copy.size(); ++i) {
    copy[i] = Font8x5[i];
  }
  return copy;
}();

std::uint8_t SmallColumn(unsigned code, unsigned column) {
  return kSmall[kFont8x5GlyphBytes * code + column];
}

// Pixel row `row` (0 = top) of a small glyph as six bits, cell column 0 in
// bit 5, so that rows of two glyphs can be compared.
unsigned SmallRow(unsigned code, unsigned row) {
  unsigned bits = 0;
  for (unsigned column = 0; column < kFont8x5GlyphBytes; ++column) {
    bits = (bits << 1) | ((static_cast<unsigned>(SmallColumn(code, column)) >> row) & 1u);
  }
  return bits;
}

std::uint8_t LargeRow(unsigned code, unsigned row) {
  return Font8x12[kFont8x12GlyphBytes * code + row];
}

bool SmallBlank(unsigned code) {
  for (unsigned column = 0; column < kFont8x5GlyphBytes; ++column) {
    if (SmallColumn(code, column) != 0) {
      return false;
    }
  }
  return true;
}

bool LargeBlank(unsigned code) {
  for (unsigned row = 0; row < kFont8x12GlyphBytes; ++row) {
    if (LargeRow(code, row) != 0) {
      return false;
    }
  }
  return true;
}

// Tests that draw through the rasteriser, which reads the screen mode.
class LargeFontOnThePanel : public testing::Test {
 protected:
  void TearDown() override { plugin::ScreenMode = saved_mode_; }

  // Glyph `code` alone in the first cell of the one-line mode, as the panel
  // shows it: cell columns 0..6 of panel rows 2..13, row by row.
  static std::vector<bool> OnPanel(std::uint8_t code) {
    plugin::ScreenMode = 1;
    const std::uint8_t line1[16] = {code};
    const std::uint8_t line2[16] = {};
    text::SendText(line1, line2);
    std::vector<bool> picture;
    for (std::size_t y = 2; y < 14; ++y) {
      for (std::size_t x = 0; x < 7; ++x) {
        const std::uint8_t column = text::PixelBuffer[text::kPanelWidth * (y / 8) + x];
        picture.push_back(((column >> (7 - y % 8)) & 1u) != 0);
      }
    }
    return picture;
  }

 private:
  std::uint8_t saved_mode_ = plugin::ScreenMode;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0f];
    out += ' ';
  }
  return out;
}

struct TellingRow {
  unsigned code;
  std::vector<std::uint8_t> bytes;
};

TEST(FontLayoutTest, SmallFontTellingRows) {
  const TellingRow rows[] = {
      {0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},   {65, {0x00, 0x7e, 0x09, 0x09, 0x09, 0x7e}},  // A
      {103, {0x00, 0x0c, 0x52, 0x52, 0x52, 0x3e}},                                              // g
      {128, {0x00, 0x00, 0x7c, 0x44, 0x7c, 0x00}},  // small 0
      {141, {0x00, 0x78, 0x25, 0x24, 0x25, 0x78}},  // A with diaeresis
  };
  for (const TellingRow& row : rows) {
    const std::vector<std::uint8_t> stored(kSmall.data() + kFont8x5GlyphBytes * row.code,
                                           kSmall.data() + kFont8x5GlyphBytes * (row.code + 1));
    EXPECT_EQ(Hex(stored), Hex(row.bytes)) << "small glyph " << row.code;
  }
}

TEST(FontLayoutTest, LargeFontTellingRows) {
  const TellingRow rows[] = {
      {0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {65, {0x00, 0x38, 0x6c, 0xc6, 0xc6, 0xc6, 0xfe, 0xc6, 0xc6, 0xc6, 0x00, 0x00, 0x00}},
      {103, {0x00, 0x00, 0x00, 0x00, 0x76, 0xce, 0xc6, 0xc6, 0x7e, 0x06, 0xc6, 0x7c, 0x00}},
      {130, {0x0c, 0x18, 0x30, 0x00, 0x7c, 0xc6, 0xfe, 0xc0, 0xc6, 0x7c, 0x00, 0x00, 0x00}},
      {179, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00}},
      {196, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const TellingRow& row : rows) {
    const std::vector<std::uint8_t> stored(Font8x12 + kFont8x12GlyphBytes * row.code,
                                           Font8x12 + kFont8x12GlyphBytes * (row.code + 1));
    EXPECT_EQ(Hex(stored), Hex(row.bytes)) << "large glyph " << row.code;
  }
}

TEST(FontLayoutTest, SmallGlyphsKeepSpacingColumnAndRowDark) {
  for (unsigned code = 0; code < 256; ++code) {
    EXPECT_EQ(SmallColumn(code, 0), 0) << "small glyph " << code << " draws in its left column";
    for (unsigned column = 0; column < kFont8x5GlyphBytes; ++column) {
      EXPECT_EQ(SmallColumn(code, column) & 0x80, 0)
          << "small glyph " << code << " draws in its bottom row";
    }
  }
}

TEST(FontLayoutTest, LargeGlyphsEndInZeroByte) {
  for (unsigned code = 0; code < 256; ++code) {
    EXPECT_EQ(LargeRow(code, 12), 0) << "large glyph " << code;
  }
}

TEST(FontLayoutTest, BlankWhereNoCharacterIsNamed) {
  for (unsigned code = 0; code < 256; ++code) {
    const bool small_blank = code == 0 || code == 32 || code == 214 || code >= 244;
    EXPECT_EQ(SmallBlank(code), small_blank) << "small glyph " << code;
    const bool large_blank = code == 0 || code == 32 || code == 255;
    EXPECT_EQ(LargeBlank(code), large_blank) << "large glyph " << code;
  }
}

// Small capitals fill rows 0..6; lowercase letters without ascender or
// descender fill rows 2..6 and leave rows 0 and 1 dark.
TEST(FontLayoutTest, SmallLettersStandOnTheBaseline) {
  for (unsigned code = 'A'; code <= 'Z'; ++code) {
    EXPECT_NE(SmallRow(code, 0), 0u) << "small " << static_cast<char>(code);
    EXPECT_NE(SmallRow(code, 6), 0u) << "small " << static_cast<char>(code);
  }
  for (const char letter : std::string("acemnorsuvwxz")) {
    const auto code = static_cast<unsigned>(letter);
    EXPECT_EQ(SmallRow(code, 0) | SmallRow(code, 1), 0u) << "small " << letter;
    EXPECT_NE(SmallRow(code, 2), 0u) << "small " << letter;
    EXPECT_NE(SmallRow(code, 6), 0u) << "small " << letter;
  }
}

// 128..137: digits three columns wide (cell columns 2..4) and five rows high
// (rows 2..6).
TEST(FontLayoutTest, SmallDigitsAreThreeByFiveOnTheBaseline) {
  for (unsigned code = 128; code <= 137; ++code) {
    for (const unsigned column : {0u, 1u, 5u}) {
      EXPECT_EQ(SmallColumn(code, column), 0) << "small digit " << code - 128;
    }
    for (unsigned column = 2; column <= 4; ++column) {
      EXPECT_EQ(SmallColumn(code, column) & ~0x7cu, 0u) << "small digit " << code - 128;
    }
    EXPECT_NE(SmallRow(code, 2), 0u) << "small digit " << code - 128;
    EXPECT_NE(SmallRow(code, 6), 0u) << "small digit " << code - 128;
  }
}

// 138..177 run through A a E e I i O o U u, each with acute, grave, circumflex
// and diaeresis. The mark sits in rows 0..1 and is the same over every letter;
// a lowercase letter keeps rows 2..6 of its plain form (dotless in the case of
// i); the acute and the diaeresis match the marks standing alone at 182, 183.
TEST(FontLayoutTest, SmallAccentedLettersFollowTheirOrder) {
  const char vowels[] = "aeiou";
  for (unsigned accent = 0; accent < 4; ++accent) {
    const unsigned first = 138 + accent;
    for (unsigned letter = 0; letter < 5; ++letter) {
      const unsigned capital = 138 + 8 * letter + accent;
      const unsigned lower = capital + 4;
      for (unsigned row = 0; row < 2; ++row) {
        EXPECT_EQ(SmallRow(capital, row), SmallRow(first, row)) << "small " << capital;
        EXPECT_EQ(SmallRow(lower, row), SmallRow(first, row)) << "small " << lower;
      }
      for (unsigned row = 2; row < 7; ++row) {
        EXPECT_EQ(SmallRow(lower, row), SmallRow(static_cast<unsigned>(vowels[letter]), row))
            << "small " << lower << " row " << row;
      }
    }
    for (unsigned other = accent + 1; other < 4; ++other) {
      EXPECT_NE((SmallRow(first, 0) << 6) | SmallRow(first, 1),
                (SmallRow(138 + other, 0) << 6) | SmallRow(138 + other, 1))
          << "accents " << accent << " and " << other << " look alike";
    }
  }
  EXPECT_EQ(SmallRow(138, 0), SmallRow(182, 0));  // acute
  EXPECT_EQ(SmallRow(138, 1), SmallRow(182, 1));
  EXPECT_EQ(SmallRow(141, 0), SmallRow(183, 0));  // diaeresis
  EXPECT_EQ(SmallRow(141, 1), SmallRow(183, 1));
}

// Large capitals stand on rows 1..9 (Q's tail may reach row 10), lowercase
// letters without ascender on rows 4..9, descenders reach row 11. Letters and
// digits keep the right-hand column dark as the gap to the next character.
TEST(FontLayoutTest, LargeLettersKeepTheirRowsAndRightGap) {
  for (unsigned code = 'A'; code <= 'Z'; ++code) {
    EXPECT_EQ(LargeRow(code, 0), 0) << "large " << static_cast<char>(code);
    EXPECT_NE(LargeRow(code, 1), 0) << "large " << static_cast<char>(code);
    EXPECT_NE(LargeRow(code, 9), 0) << "large " << static_cast<char>(code);
    EXPECT_EQ(LargeRow(code, 11), 0) << "large " << static_cast<char>(code);
    if (code != 'Q') {
      EXPECT_EQ(LargeRow(code, 10), 0) << "large " << static_cast<char>(code);
    }
  }
  for (const char letter : std::string("acemnorsuvwxz")) {
    const auto code = static_cast<unsigned>(letter);
    for (unsigned row = 0; row < 4; ++row) {
      EXPECT_EQ(LargeRow(code, row), 0) << "large " << letter << " row " << row;
    }
    EXPECT_NE(LargeRow(code, 4), 0) << "large " << letter;
    EXPECT_NE(LargeRow(code, 9), 0) << "large " << letter;
    EXPECT_EQ(LargeRow(code, 10) | LargeRow(code, 11), 0) << "large " << letter;
  }
  for (const char letter : std::string("gjpqy")) {
    EXPECT_NE(LargeRow(static_cast<unsigned>(letter), 11), 0) << "large " << letter;
  }
  // Digits, letters and the accented letters of 128..154 and 160..165.
  const unsigned gapped[][2] = {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {128, 154}, {160, 165}};
  for (const auto& range : gapped) {
    for (unsigned code = range[0]; code <= range[1]; ++code) {
      for (unsigned row = 0; row < 12; ++row) {
        EXPECT_EQ(LargeRow(code, row) & 1, 0) << "large glyph " << code << " row " << row;
      }
    }
  }
}

// Box drawing: a line leaving a cell leaves it where the neighbouring cell's
// line arrives, so that pieces join in every combination on the panel, whose
// cells show bits 6..0. Single lines cross the top and bottom edge in bits 4..3
// (0x18) and the side edges in row 6; double lines, one pixel each, in bits 5
// and 2 (0x24) and in rows 5 and 7. The left edge on the panel is bit 6; bit 7,
// which the panel never shows, repeats it.
TEST(FontLayoutTest, LargeBoxDrawingJoins) {
  struct Box {
    unsigned code;
    int up, down, left, right;  // 0 none, 1 single, 2 double
  };
  const Box boxes[] = {
      {179, 1, 1, 0, 0}, {180, 1, 1, 1, 0}, {181, 1, 1, 2, 0}, {182, 2, 2, 1, 0}, {183, 0, 2, 1, 0},
      {184, 0, 1, 2, 0}, {185, 2, 2, 2, 0}, {186, 2, 2, 0, 0}, {187, 0, 2, 2, 0}, {188, 2, 0, 2, 0},
      {189, 2, 0, 1, 0}, {190, 1, 0, 2, 0}, {191, 0, 1, 1, 0}, {192, 1, 0, 0, 1}, {193, 1, 0, 1, 1},
      {194, 0, 1, 1, 1}, {195, 1, 1, 0, 1}, {196, 0, 0, 1, 1}, {197, 1, 1, 1, 1}, {198, 1, 1, 0, 2},
      {199, 2, 2, 0, 1}, {200, 2, 0, 0, 2}, {201, 0, 2, 0, 2}, {202, 2, 0, 2, 2}, {203, 0, 2, 2, 2},
      {204, 2, 2, 0, 2}, {205, 0, 0, 2, 2}, {206, 2, 2, 2, 2}, {207, 1, 0, 2, 2}, {208, 2, 0, 1, 1},
      {209, 0, 1, 2, 2}, {210, 0, 2, 1, 1}, {211, 2, 0, 0, 1}, {212, 1, 0, 0, 2}, {213, 0, 1, 0, 2},
      {214, 0, 2, 0, 1}, {215, 2, 2, 1, 1}, {216, 1, 1, 2, 2}, {217, 1, 0, 1, 0}, {218, 0, 1, 0, 1},
  };
  const std::uint8_t kVerticalEdge[] = {0x00, 0x18, 0x24};
  const unsigned kSideEdge[] = {0, 1u << 6, (1u << 5) | (1u << 7)};  // bit r = row r lit
  for (const Box& box : boxes) {
    EXPECT_EQ(LargeRow(box.code, 0), kVerticalEdge[box.up]) << "top edge of " << box.code;
    EXPECT_EQ(LargeRow(box.code, 11), kVerticalEdge[box.down]) << "bottom edge of " << box.code;
    unsigned hidden = 0;
    unsigned left = 0;
    unsigned right = 0;
    for (unsigned row = 0; row < 12; ++row) {
      hidden |= ((LargeRow(box.code, row) >> 7) & 1u) << row;
      left |= ((LargeRow(box.code, row) >> 6) & 1u) << row;
      right |= (LargeRow(box.code, row) & 1u) << row;
    }
    EXPECT_EQ(left, kSideEdge[box.left]) << "left edge of " << box.code;
    EXPECT_EQ(hidden, kSideEdge[box.left]) << "bit 7 of " << box.code;
    EXPECT_EQ(right, kSideEdge[box.right]) << "right edge of " << box.code;
  }
}

// The panel shows bits 6..0 of each row. Letters, digits, signs and symbols
// draw between bit 6 and bit 1: bit 7 would be lost and bit 0 is the gap to the
// next character. Shading, blocks, box drawing and the inverse symbols (8, 10)
// fill the cell so that neighbours join, and repeat bit 6 in bit 7. Only the
// fixed rows of A, g and e acute keep their eight-column design.
TEST(FontLayoutTest, LargeGlyphsAreDrawnForTheSevenPanelColumns) {
  for (unsigned code = 0; code < 256; ++code) {
    if (code == 'A' || code == 'g' || code == 130) {
      continue;
    }
    const bool fills = (code >= 176 && code <= 223) || code == 8 || code == 10;
    for (unsigned row = 0; row < 12; ++row) {
      const unsigned bits = LargeRow(code, row);
      if (fills) {
        EXPECT_EQ(bits >> 7, (bits >> 6) & 1u) << "large glyph " << code << " row " << row;
      } else {
        EXPECT_EQ(bits & 0x81u, 0u) << "large glyph " << code << " row " << row;
      }
    }
  }
}

// Every letter and digit as the panel shows it, through the one-line
// rasteriser: no two may look alike, and none may differ from another in a
// single pixel only, which a reader misses (as O and D, 8 and B, 0 and O do
// when a glyph's left column is lost).
TEST_F(LargeFontOnThePanel, LettersAndDigitsDifferInAtLeastTwoPixels) {
  std::vector<unsigned> codes;
  const unsigned ranges[][2] = {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {128, 154},
                                {160, 165}, {224, 235}, {237, 238}};  // accents, Greek
  for (const auto& range : ranges) {
    for (unsigned code = range[0]; code <= range[1]; ++code) {
      codes.push_back(code);
    }
  }
  std::vector<std::vector<bool>> pictures;
  for (const unsigned code : codes) {
    pictures.push_back(OnPanel(static_cast<std::uint8_t>(code)));
  }
  for (std::size_t a = 0; a < codes.size(); ++a) {
    for (std::size_t b = a + 1; b < codes.size(); ++b) {
      std::size_t differing = 0;
      for (std::size_t i = 0; i < pictures[a].size(); ++i) {
        differing += pictures[a][i] != pictures[b][i] ? 1u : 0u;
      }
      EXPECT_GE(differing, 2u) << "large glyphs " << codes[a] << " and " << codes[b]
                               << " differ in " << differing << " pixels on the panel";
    }
  }
}

}  // namespace
