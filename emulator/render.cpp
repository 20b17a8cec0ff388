// Terminal and text pictures of the panel, and the reading of icon activity.
#include "emulator/render.h"

#include <bit>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/decode.h"

namespace emulator {
namespace {

constexpr std::size_t kBandHeight = 8;

std::uint8_t RingByte(std::uint64_t segments) {
  return static_cast<std::uint8_t>(segments >> kRingFirstSegment);
}

// The ring turned one step from `from` to `to` (forward: towards higher segments).
bool TurnedForward(std::uint8_t from, std::uint8_t to) {
  return to == std::rotl(from, 1) && to != from;
}
bool TurnedBackward(std::uint8_t from, std::uint8_t to) {
  return to == std::rotr(from, 1) && to != from;
}

std::string Repeat(const std::string& piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += piece;
  }
  return text;
}

// The panel's level 0..31 is the host's contrast 0..255 divided by 8, so each
// level stands for eight of the host's values.
constexpr int kTopContrast = 31;
constexpr int kHostValuesPerLevel = 8;

// "mode 0x40 (showing text)"; "mode 0x10" for a value the panel does not know.
std::string ModeLine(const VxPanelState& state) {
  if (state.mode < 0) {
    return "mode not set";
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(state.mode) & 0xFFu);
  const std::string words = DescribeMode(state);
  return words.rfind("mode ", 0) == 0 ? words : "mode " + std::string(hex) + " (" + words + ")";
}

// `text` in lines of at most `width` characters, broken at blanks; a word
// longer than that stands alone.
std::vector<std::string> Wrap(const std::string& text, std::size_t width) {
  std::vector<std::string> lines(1);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    end = end == std::string::npos ? text.size() : end;
    // A word with the blanks before it, which a new line leaves out.
    const std::size_t start = text.find_last_not_of(' ', at == 0 ? 0 : at - 1) + 1;
    const std::string gap = at == 0 ? "" : text.substr(start, at - start);
    std::string& line = lines.back();
    if (!line.empty() && line.size() + gap.size() + (end - at) > width) {
      lines.emplace_back();
    }
    lines.back() += (lines.back().empty() ? "" : gap) + text.substr(at, end - at);
    at = text.find_first_not_of(' ', end);
    at = at == std::string::npos ? text.size() : at;
  }
  return lines;
}

std::string UnknownNote(const VxPanelState& state) {
  if (state.unknown_packets == 0) {
    return "";
  }
  char text[40];
  std::snprintf(text, sizeof text, " (last command 0x%02X)", state.last_unknown[7]);
  return text;
}

}  // namespace

std::string DescribeContrast(const VxPanelState& state) {
  if (state.contrast < 0) {
    return "contrast not set";
  }
  const std::string level = "contrast " + std::to_string(state.contrast);
  if (state.contrast > kTopContrast) {
    return level + " (above " + std::to_string(kTopContrast) + ")";
  }
  const int first = state.contrast * kHostValuesPerLevel;
  return level + " of " + std::to_string(kTopContrast) + " (Lumidor " + std::to_string(first) +
         "-" + std::to_string(first + kHostValuesPerLevel - 1) + ")";
}

std::string DescribeMode(const VxPanelState& state) {
  switch (state.mode) {
    case -1:
      return "waiting for the plug-in";
    case 0x40:
      return "showing text";
    case 0x80:
      return "showing its clock";
    case 0x08:
      return "switched off";
    default:
      return "mode " + FormatMode(static_cast<std::uint8_t>(state.mode));
  }
}

bool HasDate(const VxPanelState& state) {
  if (state.mode < 0) {
    return false;
  }
  for (const std::uint8_t byte : state.clock) {
    if (byte != 0) {
      return true;
    }
  }
  return false;
}

bool PixelLit(const VxPanelState& state, std::size_t x, std::size_t y) {
  const std::uint8_t column = state.picture[kVxPanelWidth * (y / kBandHeight) + x];
  return (column >> (kBandHeight - 1 - y % kBandHeight) & 1u) != 0;
}

IconActivity AnalyzeIcons(const VxPanelState& state) {
  IconActivity activity;
  activity.lit = state.icons;
  const std::uint32_t count = state.icon_history_count > 3 ? 3 : state.icon_history_count;
  if (count < 2) {
    return activity;
  }
  const std::uint64_t* history = state.icon_history;
  std::uint64_t changed = 0;
  bool forward = true;
  bool backward = true;
  for (std::uint32_t i = 1; i < count; ++i) {
    changed |= history[i] ^ history[i - 1];
    forward = forward && TurnedForward(RingByte(history[i - 1]), RingByte(history[i]));
    backward = backward && TurnedBackward(RingByte(history[i - 1]), RingByte(history[i]));
  }
  if (forward || backward) {
    activity.ring = forward ? RingMotion::kForward : RingMotion::kBackward;
    changed &= ~kRingSegments;
  }
  activity.blinking = changed;
  return activity;
}

std::string SegmentRow(const IconActivity& activity) {
  std::string row;
  for (unsigned n = 0; n < kVxPanelSegments; ++n) {
    const std::uint64_t bit = 1ull << n;
    if (activity.ring != RingMotion::kStill && (kRingSegments & bit) != 0) {
      row += '~';
    } else if ((activity.blinking & bit) != 0) {
      row += '*';
    } else {
      row += (activity.lit & bit) != 0 ? '#' : '.';
    }
  }
  return row;
}

std::string DescribeRing(const IconActivity& activity) {
  if (activity.ring == RingMotion::kStill) {
    return "still";
  }
  const int lit = std::popcount(RingByte(activity.lit));
  return std::string(activity.ring == RingMotion::kForward ? "forward" : "backward") + ", " +
         std::to_string(lit) + " of 8 lit";
}

std::string SettingsLine(const VxPanelState& state) {
  std::string mode = DescribeMode(state);
  // In clock mode the picture shows the clock, running on; a second time here
  // would only differ from it. Elsewhere the clock the panel was given is seen
  // nowhere else.
  if (HasDate(state) && !ShowsClock(state)) {
    mode += ", its clock set to " + FormatClock(state.clock);
  }
  return mode + "   " + DescribeContrast(state);
}

bool TerminalFits(const TerminalStyle& style) {
  return style.columns == 0 || style.columns >= kTerminalFullColumns ||
         (!style.ascii && style.columns >= kTerminalCompactColumns);
}

std::string RenderTerminal(const VxPanelState& told, const TerminalStyle& style) {
  const VxPanelState state = Shown(told, 0);
  const bool ascii = style.ascii;
  const bool compact = !ascii && style.columns != 0 && style.columns < kTerminalFullColumns;
  // Pixel columns and rows per character cell.
  const std::size_t across = compact ? 2 : 1;
  const std::size_t down = ascii ? 1 : 2;
  std::string out;
  const std::string horizontal = Repeat(ascii ? "-" : "─", kVxPanelWidth / across);
  out += (ascii ? "+" : "┌") + horizontal + (ascii ? "+\n" : "┐\n");
  // Block characters by their lit quarters: 1 upper left, 2 upper right, 4
  // lower left, 8 lower right; a cell one pixel wide has only the left ones.
  static const char* const kCells[16] = {" ", "▘", "▝", "▀", "▖", "▌", "▞", "▛",
                                         "▗", "▚", "▐", "▜", "▄", "▙", "▟", "█"};
  static const char* const kHalves[6] = {" ", "▀", "", "", "▄", "█"};
  for (std::size_t y = 0; y < kVxPanelHeight; y += down) {
    out += ascii ? "|" : "│";
    for (std::size_t x = 0; x < kVxPanelWidth; x += across) {
      if (ascii) {
        out += PixelLit(state, x, y) ? '#' : '.';
        continue;
      }
      unsigned cell = 0;
      for (std::size_t dy = 0; dy < 2; ++dy) {
        for (std::size_t dx = 0; dx < across; ++dx) {
          cell |= PixelLit(state, x + dx, y + dy) ? 1u << (2 * dy + dx) : 0u;
        }
      }
      out += compact ? kCells[cell] : kHalves[cell];
    }
    out += ascii ? "|\n" : "│\n";
  }
  out += (ascii ? "+" : "└") + horizontal + (ascii ? "+\n" : "┘\n");

  // The numbered icon row: tens, units, then one mark per segment.
  std::string tens = " icons ";
  std::string units = "       ";
  std::string marks = "       ";
  for (unsigned n = 0; n < kVxPanelSegments; ++n) {
    tens += n % 10 == 0 ? static_cast<char>('0' + n / 10) : ' ';
    units += static_cast<char>('0' + n % 10);
    const bool lit = (state.icons >> n & 1u) != 0;
    marks += ascii ? (lit ? "#" : ".") : (lit ? "█" : "·");
  }
  out += tens + "\n" + units + "\n" + marks + "\n";

  // The ring as a ring, with the panel's settings beside it, each wrapped to
  // the width left beside the ring.
  constexpr std::size_t kBeside = 16;
  const std::size_t room =
      style.columns > kBeside + 20 ? style.columns - kBeside : std::string::npos;
  std::vector<std::string> beside;
  for (const std::string& text : {SettingsLine(state), "segments lit: " + SegmentList(state.icons),
                                  "packets " + std::to_string(state.packets) + ", unknown " +
                                      std::to_string(state.unknown_packets) + UnknownNote(state) +
                                      (state.inited != 0 ? "" : ", not initialised")}) {
    for (const std::string& line : Wrap(text, room)) {
      beside.push_back(line);
    }
  }
  for (std::size_t row = 0; row < beside.size(); ++row) {
    out += row == 0 ? " ring  " : "       ";
    for (int column = 0; column < 3 && row < 3; ++column) {
      const int segment = kRingLayout[row][column];
      const bool lit = segment >= 0 && (state.icons >> segment & 1u) != 0;
      if (segment < 0) {
        out += "  ";
      } else if (ascii) {
        out += lit ? "O " : ". ";
      } else {
        out += lit ? "● " : "○ ";
      }
    }
    out += (row < 3 ? "   " : std::string(9, ' ')) + beside[row] + "\n";
  }
  return out;
}

std::string RenderSnapshotText(const VxPanelState& told, const std::string& comment,
                               const std::string& clock_note) {
  const VxPanelState state = Shown(told, 0);
  std::string out;
  if (!comment.empty()) {
    out += "# " + comment + "\n";
  }
  const IconActivity activity = AnalyzeIcons(state);
  out += DescribeContrast(state) + "\n";
  out += ModeLine(state) + "\n";
  if (HasDate(state)) {
    out +=
        "clock " + (clock_note.empty() ? "" : clock_note + " ") + FormatClock(state.clock) + "\n";
  }
  out += "icons " + SegmentRow(activity) + "\n";
  out += "ring " + DescribeRing(activity) + "\n";
  out += "pixels\n";
  for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
    for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
      out += PixelLit(state, x, y) ? '#' : '.';
    }
    out += '\n';
  }
  return out;
}

}  // namespace emulator
