// The emulator's live window on Windows: plain Win32 and GDI, on a thread of
// its own. The thread looks at the panel state every 33 ms; when it has
// changed, it copies it under the library's lock (a copy, nothing more), draws
// the PNG picture of the copy into a bitmap of its own and paints that. The
// threads that send packets therefore never wait for painting, and the window
// shows at most about 30 pictures a second. In the panel's clock mode it also
// draws anew whenever the clock, running on from the clock packet's time, has
// gone on a second. Closing the window only hides it.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "emulator/render.h"
#include "emulator/window.h"

namespace emulator {
namespace {

constexpr wchar_t kClassName[] = L"VestrixVirtualPanel";
constexpr wchar_t kTitle[] = L"Vestrix virtual panel";
constexpr UINT kFrameMs = 33;
constexpr UINT_PTR kFrameTimer = 1;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

std::atomic<bool> g_started{false};
StateReader g_read = nullptr;

// What the window is doing, for VxPanel_GetWindowInfo.
std::atomic<bool> g_open{false};
std::atomic<bool> g_visible{false};
std::atomic<bool> g_hold{false};
std::atomic<bool> g_holding{false};
std::atomic<std::uint64_t> g_painted_sequence{0};
std::atomic<std::uint32_t> g_painted_clock_seconds{0};
std::atomic<std::uint64_t> g_paints{0};

// Owned by the window thread.
std::uint64_t g_version = ~0ull;  // matches no state: the first look copies it
VxPanelState g_state{};
std::chrono::steady_clock::time_point g_clock_set{};
std::uint32_t g_clock_seconds = 0;    // of the picture in g_pixels
std::vector<std::uint32_t> g_pixels;  // the picture, 32-bit BGRX rows, top first
int g_width = 0;
int g_height = 0;

bool SwitchedOff() {
  char value[16] = {};
  const DWORD length = GetEnvironmentVariableA(kWindowSwitch, value, sizeof value);
  if (length == 0 || length >= sizeof value) {
    return false;
  }
  for (char& c : value) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  for (const char* off : {"0", "off", "no", "false"}) {
    if (lstrcmpA(value, off) == 0) {
      return true;
    }
  }
  return false;
}

// Draws the state into the bitmap when it has changed, or when the clock it
// shows has gone on; true when it did.
bool Refresh() {
  const bool changed = g_read(&g_version, &g_state, &g_clock_set);
  const std::uint32_t seconds = ClockSecondsSince(g_state, g_clock_set);
  if (!changed && seconds == g_clock_seconds) {
    return false;
  }
  g_clock_seconds = seconds;
  const Image image = RenderImage(g_state, g_clock_seconds);
  g_width = static_cast<int>(image.width);
  g_height = static_cast<int>(image.height);
  g_pixels.resize(image.width * image.height);
  for (std::size_t i = 0; i < g_pixels.size(); ++i) {
    const std::uint8_t* rgb = &image.rgb[i * 3];
    g_pixels[i] =
        static_cast<std::uint32_t>(rgb[0]) << 16 | static_cast<std::uint32_t>(rgb[1]) << 8 | rgb[2];
  }
  return true;
}

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (g_hold.load()) {
    g_holding.store(true);
    while (g_hold.load()) {
      Sleep(1);
    }
    g_holding.store(false);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = g_width;
  info.bmiHeader.biHeight = -g_height;  // rows top first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(g_width), static_cast<DWORD>(g_height), 0, 0, 0,
                    static_cast<UINT>(g_height), g_pixels.data(), &info, DIB_RGB_COLORS);
  EndPaint(window, &paint);
  g_painted_clock_seconds.store(g_clock_seconds);
  g_painted_sequence.store(g_state.sequence);
  g_paints.fetch_add(1);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      // A closed (hidden) window costs the host nothing more.
      if (wparam == kFrameTimer && IsWindowVisible(window) && Refresh()) {
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the picture covers the whole client area
    case WM_SHOWWINDOW:
      g_visible.store(wparam != 0);
      break;
    case WM_CLOSE:
      // The host does not know about the window: it only hides, and the
      // library goes on taking packets.
      ShowWindow(window, SW_HIDE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

DWORD WINAPI WindowThread(void* module) {
  Refresh();
  const HINSTANCE instance = static_cast<HINSTANCE>(module);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProcedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.lpszClassName = kClassName;
  RegisterClassExW(&window_class);
  RECT frame = {0, 0, g_width, g_height};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  HWND window = CreateWindowExW(0, kClassName, kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) {
    return 0;  // no window system: the library works on without a window
  }
  SetTimer(window, kFrameTimer, kFrameMs, nullptr);
  // Shown without taking the focus from the host application.
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  g_open.store(true);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

void OpenWindow(StateReader read) {
  if (g_started.exchange(true) || SwitchedOff()) {
    return;
  }
  g_read = read;
  // The thread runs this library's code for as long as the process lives, so
  // the library must never be unloaded under it.
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                          reinterpret_cast<LPCWSTR>(&g_started), &self)) {
    return;
  }
  HANDLE thread = CreateThread(nullptr, 0, WindowThread, self, 0, nullptr);
  if (thread != nullptr) {
    CloseHandle(thread);
  }
}

void GetWindowInfo(VxPanelWindowInfo* info) {
  *info = VxPanelWindowInfo{};
  info->open = g_open.load() ? 1 : 0;
  info->visible = g_visible.load() ? 1 : 0;
  info->holding = g_holding.load() ? 1 : 0;
  info->painted_sequence = g_painted_sequence.load();
  info->clock_seconds = g_painted_clock_seconds.load();
  info->paints = g_paints.load();
}

void HoldWindowPainting(bool hold) {
  g_hold.store(hold);
}

}  // namespace emulator
