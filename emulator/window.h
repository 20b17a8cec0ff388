// The emulator's live window: on Windows a top-level window titled "Vestrix
// virtual panel" that shows the panel as the PNG picture draws it, on a thread
// of its own. Elsewhere (window_none.cpp) there is no window.
#pragma once

#include <chrono>
#include <cstdint>

#include "emulator/panel_api.h"

namespace emulator {

// Copies the panel state into `*state` when it has changed since `*version`,
// with the time the last clock packet arrived (from which the window runs the
// panel's clock on) into `*clock_set`, and updates `*version`; false when
// nothing changed. Called by the window thread; it takes the library's lock
// only for the copy.
using StateReader = bool (*)(std::uint64_t* version, VxPanelState* state,
                             std::chrono::steady_clock::time_point* clock_set);

// The environment variable that switches the window off ("0", "off", "no" or
// "false"), for test suites and batch runs without a display.
inline constexpr char kWindowSwitch[] = "VESTRIX_VIRTUAL_PANEL_WINDOW";

// Opens the window on a thread of its own, unless the environment switches it
// off; only the first call does anything. Returns at once: the window follows
// the state through `read`, at most about 30 pictures a second, and in the
// panel's clock mode paints the clock anew as each second passes. Once open, the
// library stays loaded until the process ends, so that the window can go on
// showing the panel after the host has let go of it.
void OpenWindow(StateReader read);

void GetWindowInfo(VxPanelWindowInfo* info);
void HoldWindowPainting(bool hold);

}  // namespace emulator
