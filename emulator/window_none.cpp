// Without Windows the emulator has no window of its own; the host simulator
// shows the panel in the terminal instead.
#include "emulator/window.h"

namespace emulator {

void OpenWindow(StateReader /*read*/) {}

void GetWindowInfo(VxPanelWindowInfo* info) {
  *info = VxPanelWindowInfo{};
}

void HoldWindowPainting(bool /*hold*/) {}

}  // namespace emulator
