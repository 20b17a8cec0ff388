// Terminal and text pictures of the panel, and the reading of icon activity.
#include "emulator/render.h"

#include <bit>
#include <cstdio>
#include <string>

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

std::string ContrastText(const VxPanelState& state) {
  return state.contrast < 0 ? "contrast not set" : "contrast " + std::to_string(state.contrast);
}

std::string ModeText(const VxPanelState& state) {
  if (state.mode < 0) {
    return "mode not set";
  }
  const std::string text = "mode " + FormatMode(static_cast<std::uint8_t>(state.mode));
  return HasDate(state) ? text + ", clock " + FormatClock(state.clock) : text;
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
  return ContrastText(state) + "   " + ModeText(state);
}

std::string RenderTerminal(const VxPanelState& told, const TerminalStyle& style) {
  const VxPanelState state = Shown(told, 0);
  const bool ascii = style.ascii;
  std::string out;
  const std::string horizontal = Repeat(ascii ? "-" : "─", kVxPanelWidth);
  out += (ascii ? "+" : "┌") + horizontal + (ascii ? "+\n" : "┐\n");
  if (ascii) {
    for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
      out += '|';
      for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
        out += PixelLit(state, x, y) ? '#' : '.';
      }
      out += "|\n";
    }
  } else {
    // Two pixel rows per text row, with half blocks.
    static const char* const kCells[4] = {" ", "▄", "▀", "█"};
    for (std::size_t y = 0; y < kVxPanelHeight; y += 2) {
      out += "│";
      for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
        out += kCells[(PixelLit(state, x, y) ? 2 : 0) + (PixelLit(state, x, y + 1) ? 1 : 0)];
      }
      out += "│\n";
    }
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

  // The ring as a ring, with the panel's settings beside it.
  const std::string beside[3] = {SettingsLine(state), "segments lit: " + SegmentList(state.icons),
                                 "packets " + std::to_string(state.packets) + ", unknown " +
                                     std::to_string(state.unknown_packets) + UnknownNote(state) +
                                     (state.inited != 0 ? "" : ", not initialised")};
  for (int row = 0; row < 3; ++row) {
    out += row == 0 ? " ring  " : "       ";
    for (int column = 0; column < 3; ++column) {
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
    out += "   " + beside[row] + "\n";
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
  out += (state.contrast < 0 ? std::string("contrast none")
                             : "contrast " + std::to_string(state.contrast)) +
         "\n";
  out += state.mode < 0 ? std::string("mode none\n")
                        : "mode " + FormatMode(static_cast<std::uint8_t>(state.mode)) + "\n";
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
