// The glyph rasteriser: draws the text lines into the 96 x 16 pixel picture and
// hands it to the panel. Host thread only; not locked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

// The whole picture. Bytes 0..95 are the top band (rows 0..7), 96..191 the
// bottom band (rows 8..15); byte n of a band is pixel column n, bit 7 its top
// row. Pixel (x, y) is bit 7 - y % 8 of byte 96 * (y / 8) + x.
inline constexpr std::size_t kPanelWidth = 96;
inline constexpr std::size_t kPixelBufferSize = 192;
extern std::uint8_t PixelBuffer[kPixelBufferSize];

// Sets every pixel dark.
void ClearPixelBuffer();

// Redraws the picture from two text lines and sends it. Two-line mode reads 16
// codes of each line (small font); one-line mode reads 14 codes of `line1`
// (large font) and ignores `line2`. A code 0 ends its line.
void SendText(const std::uint8_t* line1, const std::uint8_t* line2);

// The column bytes of large glyph `code`: rows 0..5 for the top band (L1) and
// rows 6..11 for the bottom band (L2), cell column j in byte j counted from the
// most significant byte; byte 7 is 0.
std::uint64_t RotateFont8x12_L1(std::uint8_t code);
std::uint64_t RotateFont8x12_L2(std::uint8_t code);

// Mirrors the bit order of a byte: bit i of the result is bit 7 - i.
constexpr std::uint8_t BitReverse(std::uint8_t value) {
  std::uint8_t result = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((value & (1u << bit)) != 0) {
      result = static_cast<std::uint8_t>(result | (0x80u >> bit));
    }
  }
  return result;
}
static_assert(BitReverse(0x01) == 0x80 && BitReverse(0x09) == 0x90);

}  // namespace text
