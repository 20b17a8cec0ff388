// Pictures of the emulated panel: for the terminal (Unicode half blocks or
// plain ASCII), as text art for snapshots and tests, and as a PNG image. All
// of them read only a VxPanelState, and show what the panel shows (Shown).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/panel_api.h"

namespace emulator {

// Pixel (x, y) of the picture, x = 0..95 from the left, y = 0..15 from the top.
bool PixelLit(const VxPanelState& state, std::size_t x, std::size_t y);

// True once a 0x50 packet with a date has arrived (the reset's carries none).
bool HasDate(const VxPanelState& state);

// True while the panel is in its clock mode (the last 0x50 packet said 0x80).
bool ShowsClock(const VxPanelState& state);

// What the panel shows of what it has been told, as a state whose picture and
// icons are those on the glass. In clock mode the picture is the panel's own
// clock instead: the time in large digits and the date below it, from the
// clock packet's date and time run on by `clock_seconds` (a snapshot passes 0,
// so that it shows the packet's own time; the live window passes the seconds
// since the packet came). In off mode (0x08) nothing is lit, neither pixels nor
// icons. In any other mode the state is returned as it is.
VxPanelState Shown(const VxPanelState& state, std::uint32_t clock_seconds);

// The seconds that the panel's clock has run on, now, since its clock packet
// came at `clock_set`, for a window that runs the clock on; 0 outside clock
// mode, where nothing runs.
std::uint32_t ClockSecondsSince(const VxPanelState& state,
                                std::chrono::steady_clock::time_point clock_set);

// The ring: segments 40..47, segment 47 next to 40.
inline constexpr unsigned kRingFirstSegment = 40;
inline constexpr std::uint64_t kRingSegments = 0xFFull << kRingFirstSegment;

// The ring drawn as a ring: segment numbers on a 3 x 3 grid, clockwise from
// the top middle, so that forward steps (towards higher segments) turn
// clockwise; -1 is the empty centre.
inline constexpr int kRingLayout[3][3] = {{47, 40, 41}, {46, -1, 42}, {45, 44, 43}};

enum class RingMotion { kStill, kForward, kBackward };

// What the icon segments do over the last icon packets the panel received.
struct IconActivity {
  std::uint64_t lit = 0;                 // lit in the last packet
  std::uint64_t blinking = 0;            // changed between the packets (outside a turning ring)
  RingMotion ring = RingMotion::kStill;  // the ring turned one step per packet
};
IconActivity AnalyzeIcons(const VxPanelState& state);

// One character per segment 0..55: '#' lit, '.' dark, '*' blinking, '~' part
// of a turning ring.
std::string SegmentRow(const IconActivity& activity);

// "forward, 7 of 8 lit", "backward, 1 of 8 lit" or "still".
std::string DescribeRing(const IconActivity& activity);

// The contrast as the panel's level and the host's values that give it:
// "contrast 10 of 31 (Lumidor 80-87)", "contrast 40 (above 31)" or "contrast
// not set".
std::string DescribeContrast(const VxPanelState& state);

// What the panel's mode makes it show, in a user's words: "showing text",
// "showing its clock", "switched off", "waiting for the plug-in" before any
// mode arrived, or "mode 0x10" for a value the panel does not know.
std::string DescribeMode(const VxPanelState& state);

// What the panel shows and its contrast in one line, for the window, the PNG
// picture and the terminal: "showing text   contrast 10 of 31 (Lumidor
// 80-87)". Outside clock mode, a clock the panel was given follows the mode
// ("switched off, its clock set to 2026-12-08 13:04:05"); in clock mode the
// picture shows that clock, so the line does not.
std::string SettingsLine(const VxPanelState& state);

struct TerminalStyle {
  bool ascii = false;       // '#' and '.' instead of block characters
  std::size_t columns = 0;  // the terminal's width; 0: as wide as the full picture needs
};

// The columns the panel takes in a terminal: the full picture, one column a
// pixel, in either style; the compact one, two pixels a column in quadrant
// blocks, which only the block characters can draw and whose widest line is
// the numbered icon row.
inline constexpr std::size_t kTerminalFullColumns = kVxPanelWidth + 2;
inline constexpr std::size_t kTerminalCompactColumns = 7 + kVxPanelSegments;

// Whether the panel fits the style's width: at the full size, or compact.
bool TerminalFits(const TerminalStyle& style);

// The panel for a terminal, as it shows with its clock at the packet's own
// time: the picture in a frame, the numbered row of icon segments, the ring
// drawn as a ring, what the panel shows, its contrast and clock, counters.
// The picture takes one column a pixel and, with block characters, half a
// line; where that is wider than `columns`, block characters draw two pixels
// a column (quadrants), and the text beside the ring wraps to fit.
std::string RenderTerminal(const VxPanelState& state, const TerminalStyle& style);

// The snapshot text: contrast, mode ("mode 0x40 (showing text)"), clock, the
// segment row and the ring, then
// the 16 picture rows of '#' and '.', as the panel shows them with its clock
// at the packet's own time. Lines starting with "# " are comments. A
// `clock_note` goes on the clock line before the time.
std::string RenderSnapshotText(const VxPanelState& state, const std::string& comment,
                               const std::string& clock_note = {});

// The panel as an RGB image of what it shows (Shown, with `clock_seconds`):
// scaled pixels on a grid, the ring beside them, the numbered icon row below,
// the settings line at the bottom. Lit pixels and icons take a shade from the
// contrast level 0..31: faint but visible at 0, full at 31, and the lower
// levels, where a panel's contrast changes most, further apart.
struct Image {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes, rows top first
};
Image RenderImage(const VxPanelState& state, std::uint32_t clock_seconds = 0);

// The image as PNG file contents.
std::vector<std::uint8_t> EncodePng(const Image& image);

// PNG file contents as an RGB image; false when they are not a readable PNG.
bool DecodePng(const std::vector<std::uint8_t>& png, Image* image);

}  // namespace emulator
