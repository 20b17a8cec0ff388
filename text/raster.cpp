// The glyph rasteriser: small font in two lines of 16 cells, large font in one
// line of 14 cells, drawn into the pixel buffer and sent as one picture.
#include "text/raster.h"

#include <cstring>

#include "panel/panel.h"
#include "plugin/state.h"
#include "text/fonts.h"

namespace text {

std::uint8_t PixelBuffer[kPixelBufferSize] = {};

namespace {

constexpr std::size_t kSmallCells = 16;
constexpr std::size_t kSmallCellWidth = 6;
constexpr std::size_t kLargeCells = 14;
constexpr std::size_t kLargeCellWidth = 7;
constexpr std::size_t kLargeLastCellWidth = 5;  // 13 x 7 + 5 = 96 columns
static_assert(kSmallCells * kSmallCellWidth == kPanelWidth);
static_assert((kLargeCells - 1) * kLargeCellWidth + kLargeLastCellWidth == kPanelWidth);

// One half of a large glyph: six rows starting at `first_row`, turned into
// seven column bytes. Cell column j shows font bit 6 - j; glyph row r of the
// half lands on bit `top_bit` - r of the column byte.
std::uint64_t RotateHalf(std::uint8_t code, std::size_t first_row, int top_bit) {
  const std::uint8_t* rows = Font8x12 + kFont8x12GlyphBytes * code + first_row;
  std::uint64_t result = 0;
  for (int j = 0; j < 7; ++j) {
    std::uint8_t column = 0;
    for (int r = 0; r < 6; ++r) {
      if ((rows[r] & (1u << (6 - j))) != 0) {
        column = static_cast<std::uint8_t>(column | (1u << (top_bit - r)));
      }
    }
    result |= static_cast<std::uint64_t>(column) << (8 * (7 - j));
  }
  return result;
}

std::uint8_t ByteOf(std::uint64_t value, std::size_t j) {
  return static_cast<std::uint8_t>(value >> (8 * (7 - j)));
}

void DrawLargeLine(const std::uint8_t* line) {
  for (std::size_t i = 0; i < kLargeCells; ++i) {
    const std::uint8_t code = line[i];
    if (code == 0) {
      break;  // a 0 ends the line
    }
    const std::uint64_t upper = RotateFont8x12_L1(code);
    const std::uint64_t lower = RotateFont8x12_L2(code);
    const std::size_t width = i + 1 < kLargeCells ? kLargeCellWidth : kLargeLastCellWidth;
    for (std::size_t j = 0; j < width; ++j) {
      PixelBuffer[kLargeCellWidth * i + j] = ByteOf(upper, j);
      PixelBuffer[kPanelWidth + kLargeCellWidth * i + j] = ByteOf(lower, j);
    }
  }
}

void DrawSmallLines(const std::uint8_t* line1, const std::uint8_t* line2) {
  bool line1_active = true;
  bool line2_active = true;
  for (std::size_t i = 0; i < kSmallCells; ++i) {
    // Both lines are read cell by cell; each ends at its own first 0.
    const std::uint8_t c1 = line1[i];
    const std::uint8_t c2 = line2[i];
    line1_active = line1_active && c1 != 0;
    line2_active = line2_active && c2 != 0;
    for (std::size_t k = 0; k < kSmallCellWidth; ++k) {
      if (line1_active) {
        PixelBuffer[kSmallCellWidth * i + k] = BitReverse(Font8x5[kFont8x5GlyphBytes * c1 + k]);
      }
      if (line2_active) {
        PixelBuffer[kPanelWidth + kSmallCellWidth * i + k] =
            BitReverse(Font8x5[kFont8x5GlyphBytes * c2 + k]);
      }
    }
  }
}

}  // namespace

void ClearPixelBuffer() {
  std::memset(PixelBuffer, 0, sizeof PixelBuffer);
}

std::uint64_t RotateFont8x12_L1(std::uint8_t code) {
  return RotateHalf(code, 0, 5);
}

std::uint64_t RotateFont8x12_L2(std::uint8_t code) {
  return RotateHalf(code, 6, 7);
}

void SendText(const std::uint8_t* line1, const std::uint8_t* line2) {
  ClearPixelBuffer();
  if (plugin::ScreenMode == 1) {
    DrawLargeLine(line1);
  } else {
    DrawSmallLines(line1, line2);
  }
  panel::UpdateDisplay();
}

}  // namespace text
