// Font sheet: draws all 256 glyphs of one of the plug-in's fonts through the real
// rasteriser, as the panel would show each one alone in the first cell of a
// line, and lays them out in a 16 x 16 grid with hexadecimal row and column
// labels (drawn with the small font). The codes that the host's text can never
// show, because a write ends at them or stores a space for them, are crossed
// out, and a line under the grid says so. Writes the sheet as a PNG image, or
// checks that an existing image is exactly the sheet of the current fonts.
//
//   vestrix_fontsheet small|large write <file.png>
//   vestrix_fontsheet small|large check <file.png>
//
// With `codes` it lists instead, for tools/chartable.py, what the plug-in's
// own code makes of each character code and of each custom character:
//
//   code C ends          a write ends at C
//   code C shows S       a write stores S for C, and the glyph of S shows
//   custom I C           custom character I shows at code C (16 x 2)
//   custom 16x1 ignored  (or "stored") what a definition does in 16 x 1
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "emulator/render.h"
#include "plugin/state.h"
#include "text/custom.h"
#include "text/fonts.h"
#include "text/frame.h"
#include "text/raster.h"

namespace {

constexpr int kScale = 4;       // image pixels per panel pixel
constexpr int kGap = 2;         // image pixels between cells
constexpr int kLabelCells = 1;  // one cell's width and height for the labels
constexpr std::uint8_t kLit = 0x10;
constexpr std::uint8_t kDark = 0xE8;
constexpr std::uint8_t kGrid = 0xB0;
constexpr std::uint8_t kCross = 0x80;

// What a host's write makes of `code` in the first cell of a line holding an
// A: the code it stores there, or -1 when the write ends at the code and
// stores nothing.
int StoredFor(std::uint8_t code) {
  text::ResetTextFrame();
  text::SetPosition(1, 1);
  text::Write("A");
  const char written[2] = {static_cast<char>(code), 0};
  text::Write(written);
  const std::uint8_t stored = text::FrameCell(0, 0);
  return stored == 'A' && code != 'A' ? -1 : stored;
}

// True when the host's text can never show the glyph of `code`.
bool NeverShown(std::uint8_t code) {
  return StoredFor(code) != code;
}

// One glyph as the panel shows it: a cell of the picture.
struct Cell {
  int width;
  int height;
  std::vector<bool> pixels;  // row-major
};

// Renders `code` alone at the start of the first line in `mode` (2: small
// font, 6 x 8 cell; 1: large font, 7 x 16 cell including the rows the large
// font leaves dark above and below).
Cell RenderGlyph(std::uint8_t mode, std::uint8_t code) {
  plugin::ScreenMode = mode;
  const std::uint8_t line1[16] = {code};
  const std::uint8_t line2[16] = {};
  text::SendText(line1, line2);
  Cell cell{mode == 2 ? 6 : 7, mode == 2 ? 8 : 16, {}};
  for (int y = 0; y < cell.height; ++y) {
    for (int x = 0; x < cell.width; ++x) {
      const std::uint8_t byte = text::PixelBuffer[96 * (y / 8) + x];
      cell.pixels.push_back((byte & (0x80u >> (y % 8))) != 0);
    }
  }
  return cell;
}

struct Image {
  int width;
  int height;
  std::vector<std::uint8_t> gray;

  void Fill(int x0, int y0, int w, int h, std::uint8_t value) {
    for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
        gray[static_cast<std::size_t>(y * width + x)] = value;
      }
    }
  }

  // Two diagonals across a cell of w x h image pixels.
  void Cross(int x0, int y0, int w, int h) {
    for (int i = 0; i < w; ++i) {
      const int y = y0 + i * (h - 1) / (w - 1);
      Fill(x0 + i, y, 1, 2, kCross);
      Fill(x0 + w - 1 - i, y, 1, 2, kCross);
    }
  }

  void Draw(const Cell& cell, int x0, int y0) {
    for (int y = 0; y < cell.height; ++y) {
      for (int x = 0; x < cell.width; ++x) {
        const bool lit = cell.pixels[static_cast<std::size_t>(y * cell.width + x)];
        Fill(x0 + x * kScale, y0 + y * kScale, kScale, kScale, lit ? kLit : kDark);
      }
    }
  }
};

// A label of up to 16 characters in the small font, drawn in two-line mode.
Cell RenderLabel(const char* label) {
  plugin::ScreenMode = 2;
  std::uint8_t line1[16] = {};
  std::memcpy(line1, label, std::strlen(label));
  const std::uint8_t line2[16] = {};
  text::SendText(line1, line2);
  const int width = 6 * static_cast<int>(std::strlen(label));
  Cell cell{width, 8, {}};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < width; ++x) {
      cell.pixels.push_back((text::PixelBuffer[x] & (0x80u >> y)) != 0);
    }
  }
  return cell;
}

// The note under the grid: lines of pieces of at most 16 characters each.
constexpr const char* kNote[2][2] = {{"Crossed out: nev", "er shown,"},
                                     {"a space shows, o", "r the text ends."}};

Image RenderSheet(std::uint8_t mode) {
  const Cell probe = RenderGlyph(mode, 0);
  // Each grid cell holds one glyph, or a two-character label, and a margin.
  const int cell_w = std::max(probe.width, 12) * kScale + kGap;
  const int cell_h = std::max(probe.height, 8) * kScale + kGap;
  const int note_h = 2 * 8 * kScale + 2 * kGap;
  Image image{cell_w * (16 + kLabelCells) + kGap, cell_h * (16 + kLabelCells) + kGap + note_h, {}};
  image.gray.assign(static_cast<std::size_t>(image.width * image.height), kGrid);
  const char* digits = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i) {
    const char column[3] = {'_', digits[i], 0};
    const char row[3] = {digits[i], '_', 0};
    image.Fill(kGap + (i + 1) * cell_w, kGap, cell_w - kGap, cell_h - kGap, kDark);
    image.Draw(RenderLabel(column), kGap + (i + 1) * cell_w, kGap);
    image.Fill(kGap, kGap + (i + 1) * cell_h, cell_w - kGap, cell_h - kGap, kDark);
    image.Draw(RenderLabel(row), kGap, kGap + (i + 1) * cell_h);
  }
  for (int code = 0; code < 256; ++code) {
    const int x0 = kGap + (code % 16 + 1) * cell_w;
    const int y0 = kGap + (code / 16 + 1) * cell_h;
    image.Fill(x0, y0, cell_w - kGap, cell_h - kGap, kDark);
    image.Draw(RenderGlyph(mode, static_cast<std::uint8_t>(code)), x0, y0);
    if (NeverShown(static_cast<std::uint8_t>(code))) {
      image.Cross(x0, y0, cell_w - kGap, cell_h - kGap);
    }
  }
  const int note_y = kGap + cell_h * (16 + kLabelCells);
  image.Fill(kGap, note_y, image.width - 2 * kGap, note_h - kGap, kDark);
  for (int line = 0; line < 2; ++line) {
    int note_x = kGap + kGap;
    for (const char* piece : kNote[line]) {
      const Cell label = RenderLabel(piece);
      image.Draw(label, note_x, note_y + kGap + line * 8 * kScale);
      note_x += label.width * kScale;
    }
  }
  return image;
}

// The sheet as PNG file contents, through the same encoder as the panel
// emulator's snapshots.
std::vector<std::uint8_t> EncodeSheet(const Image& sheet) {
  emulator::Image image;
  image.width = static_cast<std::size_t>(sheet.width);
  image.height = static_cast<std::size_t>(sheet.height);
  for (const std::uint8_t gray : sheet.gray) {
    image.rgb.insert(image.rgb.end(), {gray, gray, gray});
  }
  return emulator::EncodePng(image);
}

bool WritePng(const std::vector<std::uint8_t>& png, const char* path) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!file) {
    std::fprintf(stderr, "fontsheet: cannot write %s\n", path);
    return false;
  }
  return true;
}

// Compares pixels, not file bytes, so that another version of the encoder
// does not make a sheet that shows the current fonts look stale.
bool SameAsPng(const std::vector<std::uint8_t>& png, const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(file), {}};
  emulator::Image wanted;
  emulator::Image found;
  if (!emulator::DecodePng(png, &wanted) || !emulator::DecodePng(stored, &found)) {
    std::fprintf(stderr, "fontsheet: cannot read %s as a PNG image\n", path);
    return false;
  }
  if (found.width != wanted.width || found.height != wanted.height || found.rgb != wanted.rgb) {
    std::fprintf(stderr, "fontsheet: %s does not show the current font; regenerate it\n", path);
    return false;
  }
  return true;
}

// The listing for tools/chartable.py (see the top of this file).
void ListCodes() {
  for (int code = 0; code < 256; ++code) {
    const int stored = StoredFor(static_cast<std::uint8_t>(code));
    if (stored < 0) {
      std::printf("code %d ends\n", code);
    } else {
      std::printf("code %d shows %d\n", code, stored);
    }
  }
  for (int index = 1; index <= 8; ++index) {
    std::printf("custom %d %d\n", index, text::CustomCharIndex(static_cast<std::uint8_t>(index)));
  }
  // A definition in one-line mode, looked for in the small font.
  plugin::ScreenMode = 1;
  const std::uint8_t entry = text::CustomCharIndex(1);
  std::vector<std::uint8_t> before(text::Font8x5 + entry * text::kFont8x5GlyphBytes,
                                   text::Font8x5 + (entry + 1) * text::kFont8x5GlyphBytes);
  const std::uint8_t pattern[8] = {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F};
  text::CustomChar(1, pattern);
  const bool unchanged =
      std::equal(before.begin(), before.end(), text::Font8x5 + entry * text::kFont8x5GlyphBytes);
  std::printf("custom 16x1 %s\n", unchanged ? "ignored" : "stored");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "codes") {
    ListCodes();
    return 0;
  }
  if (argc != 4 || (std::string(argv[1]) != "small" && std::string(argv[1]) != "large") ||
      (std::string(argv[2]) != "write" && std::string(argv[2]) != "check")) {
    std::fprintf(stderr, "usage: %s small|large write|check <file.png>\n       %s codes\n", argv[0],
                 argv[0]);
    return 2;
  }
  const std::vector<std::uint8_t> png =
      EncodeSheet(RenderSheet(std::string(argv[1]) == "small" ? 2 : 1));
  const bool ok =
      std::string(argv[2]) == "write" ? WritePng(png, argv[3]) : SameAsPng(png, argv[3]);
  return ok ? 0 : 1;
}
