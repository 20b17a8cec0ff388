// The panel page's side of its WebAssembly module. The module holds the
// plug-in with its entry points, and the panel emulator bound in as its vendor
// library; the page calls the entry points as the host does. This file adds
// what the page needs besides: the emulator's window, which here is the page's
// canvas, the icon refresh cycle in place of the icon thread, the picture as
// PNG and as text art, and the glyphs of both fonts for the glyph chooser.
#include <emscripten.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/render.h"
#include "emulator/window.h"
#include "icons/icons.h"
#include "platform/platform.h"
#include "plugin/vendor_functions.h"
#include "text/fonts.h"
#include "text/raster.h"

namespace platform {

// The emulator's vendor functions (emulator/sg_vfd.cpp), bound in.
const BoundFunction kBoundVendorFunctions[] = {
    {"iMONVFD_Init", reinterpret_cast<Symbol>(&iMONVFD_Init)},
    {"iMONVFD_Uninit", reinterpret_cast<Symbol>(&iMONVFD_Uninit)},
    {"iMONVFD_IsInited", reinterpret_cast<Symbol>(&iMONVFD_IsInited)},
    {"iMONVFD_SetText", reinterpret_cast<Symbol>(&iMONVFD_SetText)},
    {"iMONVFD_SetEQ", reinterpret_cast<Symbol>(&iMONVFD_SetEQ)},
    {"iMONLCD_SendData", reinterpret_cast<Symbol>(&iMONLCD_SendData)},
    {nullptr, nullptr},
};

}  // namespace platform

namespace emulator {
namespace {

StateReader g_read = nullptr;

// The picture on the canvas, drawn as the window on Windows draws it: the
// state as last read, the time its clock packet came, and the seconds the
// panel's clock had run on from there.
std::uint64_t g_version = ~0ull;  // matches no state: the first look copies it
VxPanelState g_state{};
std::chrono::steady_clock::time_point g_clock_set{};
std::uint32_t g_clock_seconds = 0;
Image g_image;
std::vector<std::uint8_t> g_rgba;  // the canvas's pixels, 4 bytes each
std::uint64_t g_paints = 0;

}  // namespace

void OpenWindow(StateReader read) {
  g_read = read;
}

void GetWindowInfo(VxPanelWindowInfo* info) {
  *info = VxPanelWindowInfo{};
  info->open = g_read != nullptr ? 1 : 0;
  info->visible = info->open;
  info->clock_seconds = g_clock_seconds;
  info->painted_sequence = g_state.sequence;
  info->paints = g_paints;
}

void HoldWindowPainting(bool /*hold*/) {
  // The page paints on its one thread, between the host's calls: a packet
  // never waits for it.
}

}  // namespace emulator

namespace {

std::vector<std::uint8_t> g_png;
std::string g_art;
std::uint8_t g_buffer[256];
std::uint8_t g_glyph[7 * 12];  // a glyph of the large font; the small one takes 6 x 8

}  // namespace

extern "C" {

// A buffer for the page's arguments: the text of a write, a custom character.
EMSCRIPTEN_KEEPALIVE std::uint8_t* VxPage_Buffer() {
  return g_buffer;
}

// One refresh cycle of the icons, as the icon thread runs it every 500 ms,
// while the plug-in has it running.
EMSCRIPTEN_KEEPALIVE void VxPage_IconCycle() {
  if (platform::ThreadStarted()) {
    icons::RunRefreshCycle();
  }
}

// Draws the picture anew when the panel has changed or its clock has gone on
// a second, and returns its RGBA pixels; null when it has not changed. The
// first call draws the panel as it is before any packet.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* VxPage_Paint() {
  using namespace emulator;
  const bool changed = g_read != nullptr ? g_read(&g_version, &g_state, &g_clock_set)
                                         : VxPanel_GetState(&g_state, sizeof g_state);
  const std::uint32_t seconds = ClockSecondsSince(g_state, g_clock_set);
  if (!changed && seconds == g_clock_seconds && !g_rgba.empty()) {
    return nullptr;
  }
  g_clock_seconds = seconds;
  g_image = RenderImage(g_state, g_clock_seconds);
  g_rgba.resize(g_image.width * g_image.height * 4);
  for (std::size_t i = 0; i < g_image.width * g_image.height; ++i) {
    g_rgba[i * 4 + 0] = g_image.rgb[i * 3 + 0];
    g_rgba[i * 4 + 1] = g_image.rgb[i * 3 + 1];
    g_rgba[i * 4 + 2] = g_image.rgb[i * 3 + 2];
    g_rgba[i * 4 + 3] = 255;
  }
  ++g_paints;
  return g_rgba.data();
}

EMSCRIPTEN_KEEPALIVE int VxPage_Width() {
  return static_cast<int>(emulator::g_image.width);
}

EMSCRIPTEN_KEEPALIVE int VxPage_Height() {
  return static_cast<int>(emulator::g_image.height);
}

// The picture last painted as PNG file contents; VxPage_PngSize gives its length.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* VxPage_Png() {
  g_png = emulator::EncodePng(emulator::g_image);
  return g_png.data();
}

EMSCRIPTEN_KEEPALIVE int VxPage_PngSize() {
  return static_cast<int>(g_png.size());
}

// The panel as text art, as the host simulator's text snapshot shows it: with
// the plug-in open, the icons of the last three icon packets tell blinking and
// turning segments from steady ones; closed, only the last one counts.
EMSCRIPTEN_KEEPALIVE const char* VxPage_Art(int open) {
  VxPanelState state{};
  VxPanel_GetState(&state, sizeof state);
  if (open == 0) {
    state.icon_history[0] = state.icons;
    state.icon_history_count = state.icon_history_count > 0 ? 1 : 0;
  }
  g_art = emulator::RenderSnapshotText(state, "the panel page");
  return g_art.c_str();
}

// Glyph `code` of the small font (`large` 0: 6 x 8 pixels, custom characters
// included) or of the large one (7 x 12), as the plug-in draws it on the
// panel: one byte per pixel, 1 lit, rows top first.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* VxPage_Glyph(int large, int code) {
  const auto c = static_cast<std::uint8_t>(code);
  std::uint8_t* pixel = g_glyph;
  if (large != 0) {
    // Rows 0..5 in bits 5..0 of the upper half's columns, rows 6..11 in bits 7..2 of the lower's.
    const std::uint64_t halves[2] = {text::RotateFont8x12_L1(c), text::RotateFont8x12_L2(c)};
    for (int row = 0; row < 12; ++row) {
      const std::uint64_t half = halves[row / 6];
      const int bit = row < 6 ? 5 - row : 7 - (row - 6);
      for (int column = 0; column < 7; ++column) {
        *pixel++ = static_cast<std::uint8_t>(half >> (8 * (7 - column) + bit) & 1u);
      }
    }
  } else {
    const std::uint8_t* columns = text::Font8x5 + text::kFont8x5GlyphBytes * c;
    for (int row = 0; row < 8; ++row) {
      for (std::size_t column = 0; column < text::kFont8x5GlyphBytes; ++column) {
        *pixel++ = static_cast<std::uint8_t>(columns[column] >> row & 1u);
      }
    }
  }
  return g_glyph;
}

}  // extern "C"
