// The text frame and cursor, and the host's writes into them.
#include "text/frame.h"

#include <cstring>

#include "text/raster.h"

namespace text {
namespace {

// Row r, column c is byte 40r + c; 0 marks an empty cell.
std::uint8_t FrameBuffer[kFrameRows * kFrameColumns] = {};
std::uint8_t MyX = 0;  // cursor column, 0..39
std::uint8_t MyY = 0;  // cursor row, 0..1

constexpr std::size_t kShownColumns = 16;
constexpr std::size_t kMaxWrite = 16;

// Host codes 0x10..0x1F and 0xFF show as a space; everything else is kept.
std::uint8_t Translate(std::uint8_t code) {
  if ((code >= 0x10 && code <= 0x1F) || code == 0xFF) {
    return 0x20;
  }
  return code;
}

}  // namespace

void ResetTextFrame() {
  std::memset(FrameBuffer, 0, sizeof FrameBuffer);
  MyX = 0;
  MyY = 1;
}

void ClearFrameBuffer() {
  for (std::size_t row = 0; row < kFrameRows; ++row) {
    std::memset(FrameBuffer + row * kFrameColumns, 0, kShownColumns);
  }
}

void SetPosition(std::uint8_t x, std::uint8_t y) {
  MyX = static_cast<std::uint8_t>(x <= 1 ? 0 : (x >= kFrameColumns ? kFrameColumns - 1 : x - 1));
  MyY = static_cast<std::uint8_t>(y <= 1 ? 0 : 1);
}

void Write(const char* text) {
  std::uint8_t* row = FrameBuffer + MyY * kFrameColumns;
  if (text != nullptr) {
    std::size_t column = MyX;
    for (std::size_t i = 0; i < kMaxWrite; ++i) {
      const auto code = static_cast<std::uint8_t>(text[i]);
      if (code == 0) {
        break;
      }
      // Characters that would run past the row's last column are dropped, so a
      // write never spills into the next row or outside the frame.
      if (column < kFrameColumns) {
        row[column] = Translate(code);
      }
      ++column;
    }
  }
  SendText(FrameBuffer, FrameBuffer + kFrameColumns);
}

std::uint8_t FrameCell(std::size_t row, std::size_t column) {
  return row < kFrameRows && column < kFrameColumns ? FrameBuffer[row * kFrameColumns + column] : 0;
}

std::uint8_t CursorColumn() {
  return MyX;
}
std::uint8_t CursorRow() {
  return MyY;
}

}  // namespace text
