// Host-defined characters: patterns of 5 x 8 dots stored into the small font.
// Host thread only; not locked.
#pragma once

#include <cstdint>

namespace text {

// Stores pattern `data` (8 rows, bits 4..0 the dots, bit 4 leftmost) as custom
// character `index` into the small font; ignored unless in two-line mode or
// when `data` is null. Shows from the next write on.
void CustomChar(std::uint8_t index, const std::uint8_t* data);

// The character code that shows custom character `index`: 1 gives 8, 2..8
// give 1..7; in general (index - 1) mod 256, with 0 taken as 8.
std::uint8_t CustomCharIndex(std::uint8_t index);

// The pattern turned into columns: byte j counted from the most significant
// holds the column of pattern bit 6 - j, row r in bit 7 - r; byte 7 is 0.
std::uint64_t RotateChar(const std::uint8_t* data);

}  // namespace text
