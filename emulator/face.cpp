// What the panel shows of what it has been told. In its clock mode the panel
// shows its own clock, from the date and time of the clock packet, instead of
// the picture; in its off mode it shows nothing, neither pixels nor icons. The
// emulator draws that clock with its own dot font: the time in large digits
// on the upper ten rows, the date in small ones on the lowest five.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/decode.h"
#include "emulator/dots.h"
#include "emulator/render.h"

namespace emulator {
namespace {

constexpr std::int32_t kModeClock = 0x80;
constexpr std::int32_t kModeOff = 0x08;
constexpr std::uint32_t kSecondsPerDay = 24 * 60 * 60;

// The time: dots of 2 x 2 pixels, 2 pixels between characters, from the top.
constexpr std::size_t kTimeScale = 2;
constexpr std::size_t kTimeGap = 2;
constexpr std::size_t kTimeTop = 0;
// The date: dots of one pixel, one between characters, on the lowest rows.
constexpr std::size_t kDateScale = 1;
constexpr std::size_t kDateGap = 1;
constexpr std::size_t kDateTop = kVxPanelHeight - kDotRows;
static_assert(kTimeTop + kDotRows * kTimeScale < kDateTop, "a dark row between time and date");

// A colon takes only the middle column of its dots.
std::size_t CharacterColumns(char c) {
  return c == ':' ? 1 : kDotColumns;
}

std::size_t TextWidth(const std::string& text, std::size_t scale, std::size_t gap) {
  std::size_t width = 0;
  for (const char c : text) {
    width += CharacterColumns(c) * scale + gap;
  }
  return text.empty() ? 0 : width - gap;
}

// Draws `text` centred across the panel, its top at row `top`.
void DrawCentred(std::uint8_t* picture, const std::string& text, std::size_t top, std::size_t scale,
                 std::size_t gap) {
  std::size_t left = (kVxPanelWidth - TextWidth(text, scale, gap)) / 2;
  for (const char c : text) {
    const std::uint8_t* rows = DotGlyph(c);
    const std::size_t columns = CharacterColumns(c);
    const std::size_t first = c == ':' ? 1 : 0;
    for (std::size_t row = 0; row < kDotRows; ++row) {
      for (std::size_t column = 0; column < columns; ++column) {
        if ((rows[row] >> (kDotColumns - 1 - first - column) & 1u) == 0) {
          continue;
        }
        for (std::size_t dy = 0; dy < scale; ++dy) {
          for (std::size_t dx = 0; dx < scale; ++dx) {
            const std::size_t x = left + column * scale + dx;
            const std::size_t y = top + row * scale + dy;
            picture[kVxPanelWidth * (y / 8) + x] |= static_cast<std::uint8_t>(0x80u >> (y % 8));
          }
        }
      }
    }
    left += columns * scale + gap;
  }
}

struct ClockFace {
  std::string time;  // "09:05:07", or "--:--:--" for a time no clock has
  std::string date;  // "2011-03-14", or empty for a date no calendar has
};

// The clock `seconds` after it was set from the six bytes of a clock packet.
// A time out of range is shown as dashes and does not run; a date out of
// range is left out, and the time runs on without it.
ClockFace FaceAt(const std::uint8_t* clock, std::uint32_t seconds) {
  using namespace std::chrono;
  const unsigned hour = clock[3];
  const unsigned minute = clock[4];
  const unsigned second = clock[5];
  const bool time_valid = hour < 24 && minute < 60 && second < 60;
  const std::uint64_t total =
      time_valid ? (hour * 60u + minute) * 60u + second + std::uint64_t{seconds} : 0;
  const std::uint64_t in_day = total % kSecondsPerDay;
  char text[16];
  ClockFace face;
  if (time_valid) {
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(in_day / 3600),
                  static_cast<unsigned>(in_day / 60 % 60), static_cast<unsigned>(in_day % 60));
    face.time = text;
  } else {
    face.time = "--:--:--";
  }
  const year_month_day given{year{FullYear(clock[0])}, month{clock[1]}, day{clock[2]}};
  if (given.ok()) {
    const year_month_day shown{sys_days{given} + days{static_cast<int>(total / kSecondsPerDay)}};
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(shown.year()),
                  static_cast<unsigned>(shown.month()), static_cast<unsigned>(shown.day()));
    face.date = text;
  }
  return face;
}

}  // namespace

bool ShowsClock(const VxPanelState& state) {
  return state.mode == kModeClock;
}

std::uint32_t ClockSecondsSince(const VxPanelState& state,
                                std::chrono::steady_clock::time_point clock_set) {
  if (!ShowsClock(state)) {
    return 0;
  }
  const auto elapsed = std::chrono::steady_clock::now() - clock_set;
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
}

VxPanelState Shown(const VxPanelState& state, std::uint32_t clock_seconds) {
  VxPanelState shown = state;
  if (state.mode == kModeOff) {
    std::memset(shown.picture, 0, sizeof shown.picture);
    shown.icons = 0;
    std::memset(shown.icon_history, 0, sizeof shown.icon_history);
  } else if (state.mode == kModeClock) {
    std::memset(shown.picture, 0, sizeof shown.picture);
    const ClockFace face = FaceAt(state.clock, clock_seconds);
    DrawCentred(shown.picture, face.time, kTimeTop, kTimeScale, kTimeGap);
    DrawCentred(shown.picture, face.date, kDateTop, kDateScale, kDateGap);
  }
  return shown;
}

}  // namespace emulator
