// Custom characters: host patterns turned from rows into the small font's
// column layout.
#include "text/custom.h"

#include "plugin/state.h"
#include "text/fonts.h"
#include "text/raster.h"

namespace text {

std::uint8_t CustomCharIndex(std::uint8_t index) {
  const auto entry = static_cast<std::uint8_t>(index - 1);
  // Code 0 ends a line, so it can never show a custom character.
  return entry == 0 ? 8 : entry;
}

std::uint64_t RotateChar(const std::uint8_t* data) {
  std::uint64_t result = 0;
  for (int j = 0; j < 7; ++j) {
    std::uint8_t column = 0;
    for (int r = 0; r < 8; ++r) {
      if ((data[r] & (1u << (6 - j))) != 0) {
        column = static_cast<std::uint8_t>(column | (1u << (7 - r)));
      }
    }
    result |= static_cast<std::uint64_t>(column) << (8 * (7 - j));
  }
  return result;
}

void CustomChar(std::uint8_t index, const std::uint8_t* data) {
  if (plugin::ScreenMode != 2 || data == nullptr) {
    return;
  }
  const std::uint8_t entry = CustomCharIndex(index);
  const std::uint64_t columns = RotateChar(data);
  // Bytes 2..7 of the rotated value (pattern bits 4..0, then the empty byte)
  // become the glyph's six column bytes, top row in bit 0.
  std::uint8_t* glyph = Font8x5 + kFont8x5GlyphBytes * entry;
  for (int k = 0; k < 6; ++k) {
    glyph[k] = BitReverse(static_cast<std::uint8_t>(columns >> (8 * (5 - k))));
  }
}

}  // namespace text
