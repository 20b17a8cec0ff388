// window_shot: the host simulator's run of a script with the panel emulator's
// window on, taking a screenshot of the window at every snapshot of the script
// and comparing it, pixel for pixel, with the PNG picture of the same panel
// state (in clock mode with the clock run on as far as the window ran it).
// Windows only: it reads the window's pixels back through GDI.
//
//   window_shot OUTPUT.png SCRIPT
//
// OUTPUT.png receives the screenshot of the last snapshot. At the end the
// window is closed, which must only hide it, and the library must still take
// packets. Exit status 0 when everything agrees, 1 otherwise, 2 for a faulty
// command line. Needs a window system (scripts/window-test.sh gives it one).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/render.h"
#include "hostsim/script.h"
#include "hostsim/session.h"
#include "platform/platform.h"
#include "plugin/vendor_functions.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kPatience{60};  // for a slow, shared machine

struct Emulator {
  decltype(&VxPanel_GetState) get_state = nullptr;
  decltype(&VxPanel_GetWindowInfo) get_window = nullptr;
  plugin::VendorInitFunction init = nullptr;
  plugin::VendorSendDataFunction send = nullptr;

  VxPanelState State() const {
    VxPanelState state{};
    get_state(&state, sizeof state);
    return state;
  }
  VxPanelWindowInfo Window() const {
    VxPanelWindowInfo info{};
    get_window(&info, sizeof info);
    return info;
  }
};

// The emulator's window in this process.
HWND FindPanelWindow() {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"VestrixVirtualPanel",
                                 L"Vestrix virtual panel")) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
      return window;
    }
  }
  return nullptr;
}

// The window's client area as the window system holds it.
bool Capture(HWND window, emulator::Image* image) {
  RECT client{};
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
    return false;
  }
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    if (copied) {
      image->width = static_cast<std::size_t>(width);
      image->height = static_cast<std::size_t>(height);
      image->rgb.resize(image->width * image->height * 3);
      const auto* pixels = static_cast<const std::uint32_t*>(bits);
      for (std::size_t i = 0; i < image->width * image->height; ++i) {
        image->rgb[i * 3] = static_cast<std::uint8_t>(pixels[i] >> 16);
        image->rgb[i * 3 + 1] = static_cast<std::uint8_t>(pixels[i] >> 8);
        image->rgb[i * 3 + 2] = static_cast<std::uint8_t>(pixels[i]);
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return copied;
}

// "" when the images agree, else what differs.
std::string Compare(const emulator::Image& shot, const emulator::Image& expected) {
  std::ostringstream report;
  if (shot.width != expected.width || shot.height != expected.height) {
    report << "the window's client area is " << shot.width << " x " << shot.height
           << ", the picture " << expected.width << " x " << expected.height;
    return report.str();
  }
  std::size_t differing = 0;
  for (std::size_t i = 0; i < shot.width * shot.height; ++i) {
    const std::uint8_t* got = &shot.rgb[i * 3];
    const std::uint8_t* want = &expected.rgb[i * 3];
    if (got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) {
      continue;
    }
    if (differing++ == 0) {
      report << "pixel (" << i % shot.width << ", " << i / shot.width << ") is " << int{got[0]}
             << "," << int{got[1]} << "," << int{got[2]} << " instead of " << int{want[0]} << ","
             << int{want[1]} << "," << int{want[2]};
    }
  }
  if (differing == 0) {
    return "";
  }
  report << "; " << differing << " pixels differ";
  return report.str();
}

bool WritePng(const emulator::Image& image, const std::string& path) {
  const std::vector<std::uint8_t> png = emulator::EncodePng(image);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code failure;  // a directory that cannot be made shows as a file not written
  if (!parent.empty()) {
    std::filesystem::create_directories(parent, failure);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  file.close();
  return !png.empty() && static_cast<bool>(file);
}

// Waits until the window has painted the current state and takes its
// screenshot while neither the state nor the window's picture changes, so that
// the screenshot shows one state, with its clock run on by `*clock_seconds`.
// The plug-in's icon thread may change the state meanwhile, and in clock mode
// the window paints anew every second; then it tries again.
bool ShotOfOneState(const Emulator& panel, emulator::Image* shot, VxPanelState* state,
                    std::uint32_t* clock_seconds, std::string* error) {
  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    *state = panel.State();
    const VxPanelWindowInfo before = panel.Window();
    HWND window = FindPanelWindow();
    if (before.open == 0 || window == nullptr || before.painted_sequence != state->sequence) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (!Capture(window, shot)) {
      *error = "cannot read the window's pixels";
      return false;
    }
    const VxPanelWindowInfo after = panel.Window();
    if (panel.State().sequence == state->sequence && after.painted_sequence == state->sequence &&
        after.paints == before.paints && after.clock_seconds == before.clock_seconds) {
      *clock_seconds = before.clock_seconds;
      return true;
    }
  }
  *error = "the window did not open or did not show the panel's state within " +
           std::to_string(kPatience.count()) + " s";
  return false;
}

struct Look {
  emulator::Image shot;
  VxPanelState state{};
  std::uint32_t clock_seconds = 0;
  std::string error;  // empty when the window shows the picture of `state`
};

// A screenshot of the window, compared with the picture of the state it shows.
// A paint that began just before the screenshot may show in it while the
// window's counters still name the picture before; another look settles that.
Look LookAtTheWindow(const Emulator& panel) {
  constexpr int kLooks = 3;
  Look look;
  for (int attempt = 0; attempt < kLooks; ++attempt) {
    if (!ShotOfOneState(panel, &look.shot, &look.state, &look.clock_seconds, &look.error)) {
      return look;
    }
    const std::string difference =
        Compare(look.shot, emulator::RenderImage(look.state, look.clock_seconds));
    if (difference.empty()) {
      look.error.clear();
      return look;
    }
    look.error = "the window differs from the picture: " + difference;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return look;
}

// Closing the window hides it, and the library goes on taking packets.
std::string CloseAndSend(const Emulator& panel) {
  HWND window = FindPanelWindow();
  if (window == nullptr) {
    return "the window has gone";
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  const auto deadline = Clock::now() + kPatience;
  while (panel.Window().visible != 0 || IsWindowVisible(window)) {
    if (Clock::now() > deadline) {
      return "closing did not hide the window";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (FindPanelWindow() != window) {
    return "closing destroyed the window instead of hiding it";
  }
  const std::uint64_t packets = panel.State().packets;
  const unsigned char packet[8] = {0, 0, 0, 0, 0, 0, 0, 0x01};
  if (panel.init(24, 0x8888) != 1 || panel.send(packet) != 1 ||
      panel.State().packets != packets + 1) {
    return "the library took no packet after the window was closed";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: window_shot OUTPUT.png SCRIPT\n";
    return 2;
  }
  const std::string output = argv[1];
  const std::string script_name = argv[2];
  std::ifstream file(script_name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<hostsim::Command> commands;
  hostsim::ParseError parse_error;
  if (!file || !hostsim::ParseScript(text.str(), &commands, &parse_error)) {
    std::cerr << script_name << ":" << parse_error.line << ": cannot run it " << parse_error.message
              << "\n";
    return 2;
  }

  hostsim::Options options;
  options.quiet = true;
  // A reference of its own keeps the emulator loaded after the host
  // simulator lets go of it, as the window does.
  platform::Library* library = platform::OpenLibrary(options.emulator_path.c_str());
  Emulator panel;
  platform::Resolve(library, "VxPanel_GetState", &panel.get_state);
  platform::Resolve(library, "VxPanel_GetWindowInfo", &panel.get_window);
  platform::Resolve(library, "iMONVFD_Init", &panel.init);
  platform::Resolve(library, "iMONLCD_SendData", &panel.send);
  if (!panel.get_state || !panel.get_window || !panel.init || !panel.send) {
    std::cerr << "window_shot: cannot load the emulator " << options.emulator_path << "\n";
    return 1;
  }

  int failures = 0;
  emulator::Image last;
  auto check = [&](const hostsim::Command& command, const VxPanelState& /*sampled*/,
                   const std::string& /*text*/) {
    const std::string where = script_name + ":" + std::to_string(command.line) + ": ";
    Look look = LookAtTheWindow(panel);
    if (look.error.empty() && emulator::ShowsClock(look.state)) {
      // The clock must run on in the window: look again once it has.
      const std::uint32_t first = look.clock_seconds;
      const auto deadline = Clock::now() + kPatience;
      while (panel.Window().clock_seconds <= first && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      look = LookAtTheWindow(panel);
      if (look.error.empty() && look.clock_seconds <= first) {
        look.error = "the clock did not run on in the window";
      }
    }
    if (!look.error.empty()) {
      std::cerr << where << look.error << "\n";
      ++failures;
      return;
    }
    std::cout << where << "window " << look.shot.width << " x " << look.shot.height
              << ", same pixels as the picture"
              << (look.clock_seconds != 0
                      ? ", its clock " + std::to_string(look.clock_seconds) + " s on"
                      : std::string())
              << "\n";
    last = look.shot;
  };
  std::ostringstream quiet;
  const int status = hostsim::RunScript(commands, script_name, options, quiet, std::cerr, check);
  if (status != 0) {
    return status;
  }
  if (last.width == 0 || !WritePng(last, output)) {
    std::cerr << "window_shot: no screenshot written to " << output << "\n";
    return 1;
  }
  const std::string closing = CloseAndSend(panel);
  if (!closing.empty()) {
    std::cerr << "window_shot: " << closing << "\n";
    ++failures;
  }
  std::cout << "window_shot: " << output << (failures == 0 ? ", all agree\n" : ", FAILED\n");
  return failures == 0 ? 0 : 1;
}
