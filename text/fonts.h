// The two glyph tables, generated at build time from text/fonts/small.txt and
// text/fonts/large.txt by tools/fontgen.py.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

inline constexpr std::size_t kFont8x5GlyphBytes = 6;
inline constexpr std::size_t kFont8x12GlyphBytes = 13;
inline constexpr std::size_t kFont8x5Size = 256 * kFont8x5GlyphBytes;
inline constexpr std::size_t kFont8x12Size = 256 * kFont8x12GlyphBytes;

// Small font: glyph c is bytes 6c..6c+5, one byte per pixel column, leftmost
// first; bit 0 is the top row. Byte 0 is the blank spacing column and bit 7 the
// blank bottom row in every built-in glyph. Writable: custom characters
// overwrite entries 1..8 (and whatever other entry the host names).
extern std::uint8_t Font8x5[kFont8x5Size];

// Large font: glyph c is bytes 13c..13c+12, one byte per pixel row, top first;
// bit 7 is the leftmost of eight columns. Byte 12 is always 0. Code page 437
// layout.
extern const std::uint8_t Font8x12[kFont8x12Size];

}  // namespace text
