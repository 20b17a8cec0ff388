// The text frame: two rows of 40 character cells as the host wrote them, and
// the cursor where the next write lands. Host thread only; not locked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

inline constexpr std::size_t kFrameColumns = 40;
inline constexpr std::size_t kFrameRows = 2;

// Empties all 80 cells and puts the cursor at column 0 of the second row, the
// state a start of the plug-in begins with.
void ResetTextFrame();

// Empties columns 0..15 of both rows; columns 16..39 and the cursor stay.
void ClearFrameBuffer();

// Places the cursor at the host's column x and row y, both counted from 1 and
// limited to 1..40 and 1..2.
void SetPosition(std::uint8_t x, std::uint8_t y);

// Stores up to 16 characters of `text` at the cursor, translating control
// codes, without moving the cursor; then renders and sends the picture. A null
// text counts as empty.
void Write(const char* text);

// Read access for tests and tools: the cell at (row, column), and the cursor.
std::uint8_t FrameCell(std::size_t row, std::size_t column);
std::uint8_t CursorColumn();
std::uint8_t CursorRow();

}  // namespace text
