// Pictures drawn from the model: icon activity read from the last icon
// packets, the snapshot text, the terminal picture and the PNG image.
#include "emulator/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace emulator {
namespace {

constexpr std::uint64_t Ring(std::uint8_t ring) {
  return static_cast<std::uint64_t>(ring) << 40;
}

VxPanelState WithIcons(std::vector<std::uint64_t> history) {
  VxPanelState state{};
  state.contrast = -1;
  state.mode = -1;
  for (std::size_t i = 0; i < history.size(); ++i) {
    state.icon_history[i] = history[i];
  }
  state.icon_history_count = static_cast<std::uint32_t>(history.size());
  state.icons = history.empty() ? 0 : history.back();
  return state;
}

std::string Row(std::initializer_list<std::pair<unsigned, char>> marks) {
  std::string row(kVxPanelSegments, '.');
  for (const auto& [segment, mark] : marks) {
    row[segment] = mark;
  }
  return row;
}

struct ActivityCase {
  const char* name;
  std::vector<std::uint64_t> history;
  std::string row;
  const char* ring;
};

void PrintTo(const ActivityCase& c, std::ostream* out) {
  *out << c.name;
}

class Activity : public ::testing::TestWithParam<ActivityCase> {};

TEST_P(Activity, TellsSteadyBlinkingAndTurningSegmentsApart) {
  const IconActivity activity = AnalyzeIcons(WithIcons(GetParam().history));
  EXPECT_EQ(SegmentRow(activity), GetParam().row);
  EXPECT_EQ(DescribeRing(activity), GetParam().ring);
}

const std::string kRingTurning = [] {
  std::string row(kVxPanelSegments, '.');
  row.replace(40, 8, "~~~~~~~~");
  return row;
}();

INSTANTIATE_TEST_SUITE_P(
    Render, Activity,
    ::testing::Values(
        ActivityCase{"steady", {1u << 7, 1u << 7, 1u << 7}, Row({{7, '#'}}), "still"},
        ActivityCase{
            "blinking", {1u << 7 | 1u, 1u, 1u << 7 | 1u}, Row({{0, '#'}, {7, '*'}}), "still"},
        ActivityCase{"one packet only", {1u << 3}, Row({{3, '#'}}), "still"},
        ActivityCase{"forward seven",
                     {Ring(0xFE) | 1ull << 51, Ring(0xFD) | 1ull << 51, Ring(0xFB) | 1ull << 51},
                     [] {
                       std::string row = kRingTurning;
                       row[51] = '#';
                       return row;
                     }(),
                     "forward, 7 of 8 lit"},
        ActivityCase{"backward one",
                     {Ring(0x01), Ring(0x80), Ring(0x40)},
                     kRingTurning,
                     "backward, 1 of 8 lit"},
        ActivityCase{"wrapping forward",
                     {Ring(0x40), Ring(0x80), Ring(0x01)},
                     kRingTurning,
                     "forward, 1 of 8 lit"},
        // A whole ring that blinks does not turn.
        ActivityCase{"ring blinking",
                     {Ring(0xFF), 0, Ring(0xFF)},
                     [] {
                       std::string row(kVxPanelSegments, '.');
                       row.replace(40, 8, "********");
                       return row;
                     }(),
                     "still"},
        // Two packets that differ by more than a step are no turn either.
        ActivityCase{"ring jump", {Ring(0x01), Ring(0x04)}, Row({{40, '*'}, {42, '*'}}), "still"}),
    [](const ::testing::TestParamInfo<ActivityCase>& test) {
      std::string name = test.param.name;
      for (char& c : name) {
        c = c == ' ' ? '_' : c;
      }
      return name;
    });

// A picture with icons, in a mode that shows it, with a date to report.
VxPanelState Picture() {
  VxPanelState state = WithIcons({1ull << 7 | Ring(0x01)});
  state.picture[0] = 0x80;       // (0, 0)
  state.picture[95] = 0x01;      // (95, 7)
  state.picture[96 + 3] = 0x81;  // (3, 8) and (3, 15)
  state.contrast = 16;
  state.mode = 0x40;
  const std::uint8_t clock[6] = {0xDB, 3, 14, 9, 5, 7};
  std::copy(clock, clock + 6, state.clock);
  return state;
}

TEST(SnapshotText, ListsSettingsSegmentsAndPixelRows) {
  const std::string text = RenderSnapshotText(Picture(), "after line 3");
  std::string expected =
      "# after line 3\n"
      "contrast 16 of 31 (Lumidor 128-135)\n"
      "mode 0x40 (showing text)\n"
      "clock 2011-03-14 09:05:07\n"
      "icons " +
      Row({{7, '#'}, {40, '#'}}) +
      "\n"
      "ring still\n"
      "pixels\n";
  for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
    std::string row(kVxPanelWidth, '.');
    if (y == 0) {
      row[0] = '#';
    }
    if (y == 7) {
      row[95] = '#';
    }
    if (y == 8 || y == 15) {
      row[3] = '#';
    }
    expected += row + "\n";
  }
  EXPECT_EQ(text, expected);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(Terminal, AsciiShowsPixelsIconRowAndRing) {
  TerminalStyle style;
  style.ascii = true;
  const std::vector<std::string> lines = Lines(RenderTerminal(Picture(), style));
  ASSERT_GE(lines.size(), 24u);
  EXPECT_EQ(lines[0], "+" + std::string(kVxPanelWidth, '-') + "+");
  EXPECT_EQ(lines[1].substr(0, 3), "|#.");
  EXPECT_EQ(lines[8].substr(90), "......#|");
  EXPECT_EQ(lines[9].substr(0, 5), "|...#");
  EXPECT_EQ(lines[17], lines[0]);
  // Icon row: tens, units, marks, aligned under one another.
  EXPECT_EQ(lines[18].substr(0, 18), " icons 0         1");
  EXPECT_EQ(lines[19].substr(7, 12), "012345678901");
  EXPECT_EQ(lines[20].substr(7, 9), ".......#.");
  // The ring: segment 40 at the top middle, 47 top left.
  EXPECT_EQ(lines[21].substr(0, 13), " ring  . O . ");
  EXPECT_EQ(lines[21].substr(16),
            "showing text, its clock set to 2011-03-14 09:05:07   contrast 16 of 31 "
            "(Lumidor 128-135)");
}

// Narrower than the full picture: two pixels a column in quadrant blocks, and
// the text beside the ring wrapped, so that no line is wider than the terminal.
TEST(Terminal, CompactQuadrantsFitTheWidth) {
  VxPanelState state = Picture();
  state.picture[1] = 0x40;   // (1, 1): lower right of the first cell
  state.picture[96] = 0xFF;  // (0, 8..15): the left halves of a column of cells
  TerminalStyle style;
  style.columns = 64;
  const std::vector<std::string> lines = Lines(RenderTerminal(state, style));
  const auto width = [](const std::string& line) {
    std::size_t columns = 0;
    for (const char c : line) {
      columns += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u ? 1 : 0;
    }
    return columns;
  };
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(width(lines[0]), kVxPanelWidth / 2 + 2);
  EXPECT_EQ(lines[1].substr(0, std::string("│▚").size()), "│▚");
  EXPECT_EQ(lines[5].substr(0, std::string("│▌").size()), "│▌");
  EXPECT_EQ(
      lines[9], "└" + [] {
        std::string line;
        for (std::size_t i = 0; i < kVxPanelWidth / 2; ++i) {
          line += "─";
        }
        return line;
      }() + "┘");
  for (const std::string& line : lines) {
    EXPECT_LE(width(line), style.columns) << line;
  }
  EXPECT_GT(lines.size(), 1u + 8u + 1u + 3u + 3u) << "the settings line did not wrap";
  EXPECT_TRUE(TerminalFits(style));
  style.columns = kTerminalCompactColumns - 1;
  EXPECT_FALSE(TerminalFits(style));
  style.ascii = true;
  style.columns = kTerminalFullColumns - 1;
  EXPECT_FALSE(TerminalFits(style));
}

TEST(Terminal, HalfBlocksPairPixelRows) {
  VxPanelState state{};
  state.picture[0] = 0x80;  // (0, 0): upper half of the first cell
  state.picture[1] = 0x40;  // (1, 1): lower half of the second cell
  state.picture[2] = 0xC0;  // both
  const std::vector<std::string> lines = Lines(RenderTerminal(state, TerminalStyle{}));
  EXPECT_EQ(lines[1].substr(0, std::string("│▀▄█ ").size()), "│▀▄█ ");
  EXPECT_EQ(lines.size(), 1u + 8u + 1u + 3u + 3u);
}

// The RGB bytes of pixel (x, y) of an image.
const std::uint8_t* At(const Image& image, int x, int y) {
  return &image.rgb[(static_cast<std::size_t>(y) * image.width + static_cast<std::size_t>(x)) * 3];
}

int Brightness(const std::uint8_t* rgb) {
  return rgb[0] + rgb[1] + rgb[2];
}

TEST(Png, ScaledPixelsOnAGridAndTheIconRow) {
  const Image image = RenderImage(Picture());
  Image png;
  ASSERT_TRUE(DecodePng(EncodePng(image), &png));
  ASSERT_EQ(png.width, image.width);
  ASSERT_EQ(png.height, image.height);
  EXPECT_EQ(png.rgb, image.rgb);
  // Panel pixel (x, y) is an 7 x 7 square at 16 + 8x + 1; grid lines between.
  const auto centre = [&](int x, int y) { return At(png, 16 + 8 * x + 4, 16 + 8 * y + 4); };
  EXPECT_LT(Brightness(centre(0, 0)), Brightness(centre(1, 0)) - 200);
  EXPECT_LT(Brightness(centre(3, 15)), Brightness(centre(4, 15)) - 200);
  EXPECT_LT(Brightness(At(png, 16 + 8, 20)), Brightness(centre(1, 0)));  // a grid line
  // Icon boxes below the picture: 13 pixels apart, segment 7 lit, 8 dark.
  const int icon_y = 16 + 129 + 16 + 5;
  EXPECT_LT(Brightness(At(png, 16 + 13 * 7 + 5, icon_y)),
            Brightness(At(png, 16 + 13 * 8 + 5, icon_y)) - 200);
}

// The shade of lit pixels and icons over the contrast levels 0..31: never
// darker at a lower level, level 0 still visible against the glass, and the
// demo's steps (10 at the start, 5, 31) far enough apart to see at a glance.
TEST(Png, ContrastLevelsGiveShadesThatCanBeToldApart) {
  const std::size_t pixel = ((16 + 4) * RenderImage(Picture()).width + 16 + 4) * 3;  // (0, 0)
  const std::size_t glass = pixel + 8 * 3;                                           // (1, 0)
  const auto lit = [&](std::int32_t level) {
    VxPanelState state = Picture();
    state.contrast = level;
    return Brightness(&RenderImage(state).rgb[pixel]);
  };
  for (std::int32_t level = 1; level <= 31; ++level) {
    EXPECT_LE(lit(level), lit(level - 1)) << "level " << level;
  }
  const int dark = Brightness(&RenderImage(Picture()).rgb[glass]);
  EXPECT_LT(lit(0), dark - 45) << "level 0 against the glass";
  EXPECT_GT(lit(0), lit(5) + 90);
  EXPECT_GT(lit(5), lit(10) + 75) << "the demo's low contrast against the default";
  EXPECT_GT(lit(10), lit(31) + 150);
  EXPECT_EQ(lit(255), lit(31)) << "levels above the panel's range count as 31";
  VxPanelState unset = Picture();
  unset.contrast = -1;
  EXPECT_EQ(Brightness(&RenderImage(unset).rgb[pixel]), lit(31));
}

// The first row where two images of the same size differ; their height if none.
std::size_t FirstDifferingRow(const Image& a, const Image& b) {
  for (std::size_t i = 0; i < a.rgb.size(); ++i) {
    if (a.rgb[i] != b.rgb[i]) {
      return i / 3 / a.width;
    }
  }
  return a.height;
}

// The settings line in a user's words: what the panel shows, a clock it was
// given but does not show, and the contrast with the host's values for it.
TEST(Png, SettingsLineSaysWhatThePanelShows) {
  const std::uint8_t time[6] = {2026 % 256, 12, 8, 13, 4, 5};
  struct Case {
    std::int32_t mode;
    std::int32_t contrast;
    bool date;
    const char* line;
  };
  const Case cases[] = {
      {0x40, 10, false, "showing text   contrast 10 of 31 (Lumidor 80-87)"},
      // The clock mode's picture is the clock, running on: no second time.
      {0x80, 31, true, "showing its clock   contrast 31 of 31 (Lumidor 248-255)"},
      {0x08, 0, true,
       "switched off, its clock set to 2026-12-08 13:04:05   contrast 0 of 31 (Lumidor 0-7)"},
      {0x10, 40, false, "mode 0x10   contrast 40 (above 31)"},
      {-1, -1, false, "waiting for the plug-in   contrast not set"},
  };
  for (const Case& c : cases) {
    VxPanelState state{};
    state.mode = c.mode;
    state.contrast = c.contrast;
    if (c.date) {
      std::copy(std::begin(time), std::end(time), std::begin(state.clock));
    }
    EXPECT_EQ(SettingsLine(state), c.line);
  }
  VxPanelState clock = Picture();
  clock.contrast = 31;
  clock.mode = 0x80;
  std::copy(std::begin(time), std::end(time), std::begin(clock.clock));
  // Below the icon row's labels (which end at row 180), and only there, for
  // states that show the same picture.
  VxPanelState shown = clock;
  shown.mode = 0x40;
  VxPanelState later = shown;
  later.clock[5] = 6;
  VxPanelState other = shown;
  other.mode = 0x10;
  const Image image = RenderImage(shown);
  for (const VxPanelState& changed : {later, other}) {
    const std::size_t row = FirstDifferingRow(image, RenderImage(changed));
    EXPECT_GE(row, 180u);
    EXPECT_LT(row, image.height);
  }
}

// The picture shows what the panel shows: in clock mode its clock, which the
// live window runs on; in off mode nothing, not even the ring and the icons.
TEST(Png, ShowsTheClockRunningAndNothingWhenOff) {
  VxPanelState clock = Picture();
  clock.mode = 0x80;
  EXPECT_EQ(RenderImage(clock).rgb, RenderImage(Shown(clock, 0)).rgb);
  EXPECT_NE(RenderImage(clock).rgb, RenderImage(Picture()).rgb);
  // 61 s on the panel shows what a packet for 09:06:08 shows at once; only the
  // settings line, which reports the packet's own time, tells them apart.
  VxPanelState later = clock;
  later.clock[4] = 6;
  later.clock[5] = 8;
  EXPECT_LT(FirstDifferingRow(RenderImage(clock), RenderImage(clock, 61)), 16u + 129u);
  EXPECT_GE(FirstDifferingRow(RenderImage(clock, 61), RenderImage(later)), 180u);
  VxPanelState off = Picture();
  off.mode = 0x08;
  VxPanelState blank = off;
  std::fill(std::begin(blank.picture), std::end(blank.picture), std::uint8_t{0});
  blank.icons = 0;
  blank.icon_history_count = 0;
  EXPECT_EQ(RenderImage(off).rgb, RenderImage(blank).rgb);
  const std::vector<std::string> lines = Lines(RenderSnapshotText(off, ""));
  EXPECT_EQ(lines[3], "icons " + std::string(kVxPanelSegments, '.'));
  EXPECT_EQ(lines[6], std::string(kVxPanelWidth, '.'));
}

}  // namespace
}  // namespace emulator
