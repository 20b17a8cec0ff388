// A tiny dot font of the emulator's own, 3 x 5 dots a character: for the labels
// and the settings line of the PNG picture, and for the clock that the panel
// draws in its clock mode.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>

namespace emulator {

inline constexpr std::size_t kDotRows = 5;
inline constexpr std::size_t kDotColumns = 3;

// Digits 0..9, one row per entry, bit 2 the left column.
inline constexpr std::uint8_t kDotDigits[10][kDotRows] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

// Letters A..Z in the same dots.
inline constexpr std::uint8_t kDotLetters[26][kDotRows] = {
    {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6}, {3, 4, 4, 4, 3}, {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7},
    {7, 4, 6, 4, 4}, {3, 4, 5, 5, 3}, {5, 5, 7, 5, 5}, {7, 2, 2, 2, 7}, {1, 1, 1, 5, 2},
    {5, 5, 6, 5, 5}, {4, 4, 4, 4, 7}, {5, 7, 7, 5, 5}, {6, 5, 5, 5, 5}, {2, 5, 5, 5, 2},
    {6, 5, 6, 4, 4}, {2, 5, 5, 6, 3}, {6, 5, 6, 5, 5}, {3, 4, 2, 1, 6}, {7, 2, 2, 2, 2},
    {5, 5, 5, 5, 7}, {5, 5, 5, 5, 2}, {5, 5, 7, 7, 5}, {5, 5, 2, 5, 5}, {5, 5, 2, 2, 2},
    {7, 1, 2, 4, 7}};

// The dots of character `c` (letters in either case, digits, - : , ( ));
// blank for any other.
inline const std::uint8_t* DotGlyph(char c) {
  static constexpr std::uint8_t kBlank[kDotRows] = {};
  static constexpr std::uint8_t kDash[kDotRows] = {0, 0, 7, 0, 0};
  static constexpr std::uint8_t kColon[kDotRows] = {0, 2, 0, 2, 0};
  static constexpr std::uint8_t kComma[kDotRows] = {0, 0, 0, 2, 4};
  static constexpr std::uint8_t kOpen[kDotRows] = {1, 2, 2, 2, 1};
  static constexpr std::uint8_t kClose[kDotRows] = {4, 2, 2, 2, 4};
  const int upper = std::toupper(static_cast<unsigned char>(c));
  if (upper >= 'A' && upper <= 'Z') {
    return kDotLetters[upper - 'A'];
  }
  if (c >= '0' && c <= '9') {
    return kDotDigits[c - '0'];
  }
  switch (c) {
    case '-':
      return kDash;
    case ':':
      return kColon;
    case ',':
      return kComma;
    case '(':
      return kOpen;
    case ')':
      return kClose;
    default:
      return kBlank;
  }
}

}  // namespace emulator
