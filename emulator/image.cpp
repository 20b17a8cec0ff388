// The panel as a PNG picture: every panel pixel a square on a visible grid,
// the ring of eight segments to the right, the 56 icon segments as a numbered
// row below, and the settings line (contrast, mode, clock) at the bottom.
#include <cstdio>

#include "emulator/dots.h"
#include "emulator/render.h"

namespace emulator {
namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

// A greenish LCD glass; lit pixels are dark.
constexpr Rgb kBackground{188, 202, 168};
constexpr Rgb kGrid{160, 174, 142};
constexpr Rgb kDark{178, 192, 158};
constexpr Rgb kLitFull{24, 32, 36};

constexpr std::size_t kScale = 8;  // pitch of one panel pixel, grid line included
constexpr std::size_t kMargin = 16;
constexpr std::size_t kPictureWidth = kVxPanelWidth * kScale + 1;
constexpr std::size_t kPictureHeight = kVxPanelHeight * kScale + 1;
constexpr std::size_t kRingCell = 24;
constexpr std::size_t kRingLeft = kMargin + kPictureWidth + kMargin;
constexpr std::size_t kRingTop = kMargin + (kPictureHeight - 3 * kRingCell) / 2;
constexpr std::size_t kIconPitch = 13;
constexpr std::size_t kIconBox = 11;
constexpr std::size_t kIconTop = kMargin + kPictureHeight + kMargin;
constexpr std::size_t kLabelTop = kIconTop + kIconBox + 3;
constexpr std::size_t kTextDot = 2;  // the settings line is drawn at twice the labels' size
constexpr std::size_t kSettingsTop = kLabelTop + kDotRows + kMargin;
constexpr std::size_t kImageWidth = kRingLeft + 3 * kRingCell + kMargin;
constexpr std::size_t kImageHeight = kSettingsTop + kDotRows * kTextDot + kMargin;

class Canvas {
 public:
  explicit Canvas(Image& image) : image_(image) {
    image_.width = kImageWidth;
    image_.height = kImageHeight;
    image_.rgb.assign(kImageWidth * kImageHeight * 3, 0);
    Fill(0, 0, kImageWidth, kImageHeight, kBackground);
  }

  void Fill(std::size_t left, std::size_t top, std::size_t width, std::size_t height, Rgb color) {
    for (std::size_t y = top; y < top + height && y < image_.height; ++y) {
      for (std::size_t x = left; x < left + width && x < image_.width; ++x) {
        std::uint8_t* dot = &image_.rgb[(y * image_.width + x) * 3];
        dot[0] = color.r;
        dot[1] = color.g;
        dot[2] = color.b;
      }
    }
  }

  void Digit(std::size_t left, std::size_t top, unsigned digit, Rgb color) {
    Dots(left, top, kDotDigits[digit], 1, color);
  }

  // Text in the 3 x 5 dots, each dot `dot` pixels square, one dot between characters.
  void Text(std::size_t left, std::size_t top, const std::string& text, std::size_t dot,
            Rgb color) {
    for (const char c : text) {
      Dots(left, top, DotGlyph(c), dot, color);
      left += 4 * dot;
    }
  }

 private:
  void Dots(std::size_t left, std::size_t top, const std::uint8_t* rows, std::size_t dot,
            Rgb color) {
    for (std::size_t row = 0; row < kDotRows; ++row) {
      for (std::size_t column = 0; column < 3; ++column) {
        if ((rows[row] >> (2 - column) & 1u) != 0) {
          Fill(left + column * dot, top + row * dot, dot, dot, color);
        }
      }
    }
  }

  Image& image_;
};

// The shade of lit pixels for the panel's contrast level 0..31 (higher levels
// count as 31; before any contrast packet, full). It runs from the glass
// towards full darkness along an ease-out curve, 15 % of the way at level 0 and
// all of it at 31: level 0 stays faintly visible, and the low levels, where a
// panel's contrast changes most, lie further apart than the high ones (level 5
// and level 10, the demo's steps, differ by a fifth of the range).
Rgb LitColor(const VxPanelState& state) {
  if (state.contrast < 0) {
    return kLitFull;
  }
  constexpr int kTop = 31;
  const int level = state.contrast > kTop ? kTop : state.contrast;
  const int rest = kTop - level;
  // Per mille of full darkness: 150 + 850 * (1 - (rest / 31)^2).
  const int weight = 150 + 850 * (kTop * kTop - rest * rest) / (kTop * kTop);
  auto mix = [weight](std::uint8_t lit, std::uint8_t glass) {
    return static_cast<std::uint8_t>((lit * weight + glass * (1000 - weight)) / 1000);
  };
  return {mix(kLitFull.r, kDark.r), mix(kLitFull.g, kDark.g), mix(kLitFull.b, kDark.b)};
}

}  // namespace

Image RenderImage(const VxPanelState& told, std::uint32_t clock_seconds) {
  const VxPanelState state = Shown(told, clock_seconds);
  Image image;
  Canvas canvas(image);
  const Rgb lit = LitColor(state);

  canvas.Fill(kMargin, kMargin, kPictureWidth, kPictureHeight, kGrid);
  for (std::size_t y = 0; y < kVxPanelHeight; ++y) {
    for (std::size_t x = 0; x < kVxPanelWidth; ++x) {
      canvas.Fill(kMargin + x * kScale + 1, kMargin + y * kScale + 1, kScale - 1, kScale - 1,
                  PixelLit(state, x, y) ? lit : kDark);
    }
  }

  for (std::size_t row = 0; row < 3; ++row) {
    for (std::size_t column = 0; column < 3; ++column) {
      const int segment = kRingLayout[row][column];
      if (segment < 0) {
        continue;
      }
      const bool on = (state.icons >> segment & 1u) != 0;
      const std::size_t left = kRingLeft + column * kRingCell;
      const std::size_t top = kRingTop + row * kRingCell;
      canvas.Fill(left + 2, top + 2, kRingCell - 4, kRingCell - 4, kGrid);
      canvas.Fill(left + 3, top + 3, kRingCell - 6, kRingCell - 6, on ? lit : kDark);
    }
  }

  for (unsigned n = 0; n < kVxPanelSegments; ++n) {
    const bool on = (state.icons >> n & 1u) != 0;
    const std::size_t left = kMargin + n * kIconPitch;
    canvas.Fill(left, kIconTop, kIconBox, kIconBox, kGrid);
    canvas.Fill(left + 1, kIconTop + 1, kIconBox - 2, kIconBox - 2, on ? lit : kDark);
    // Label: one or two digits, centred under the box.
    const std::size_t label_width = n < 10 ? 3 : 7;
    const std::size_t label_left = left + (kIconBox - label_width) / 2;
    if (n >= 10) {
      canvas.Digit(label_left, kLabelTop, n / 10, kLitFull);
    }
    canvas.Digit(label_left + (n < 10 ? 0 : 4), kLabelTop, n % 10, kLitFull);
  }

  canvas.Text(kMargin, kSettingsTop, SettingsLine(state), kTextDot, kLitFull);
  return image;
}

}  // namespace emulator
