// Start and end of the plug-in: screen size and start-up parameters, the
// vendor library, the panel reset and the icon thread; and the shutdown modes.
#include "plugin/lifecycle.h"

#include <cstring>

#include "icons/icons.h"
#include "panel/panel.h"
#include "platform/platform.h"
#include "plugin/shutdown.h"
#include "plugin/state.h"
#include "plugin/texts.h"
#include "plugin/vendor.h"
#include "text/frame.h"

namespace plugin {

std::uint8_t ScreenMode = 0;
bool DisplayClockOnExit = false;
bool DisplayOffOnExit = false;
bool AutoAudioDisplay = false;

namespace {

// True from a start that returned success until the next Done.
bool PluginOpen = false;

// Arguments of the vendor library's initialisation.
constexpr std::uint32_t kVendorInitFirst = 24;
constexpr std::uint32_t kVendorInitSecond = 0x8888;

void SetSuccess(bool* ok, bool value) {
  if (ok != nullptr) {
    *ok = value;
  }
}

const char* Fail(bool* ok, const char* message) {
  SetSuccess(ok, false);
  return message;
}

// Keywords are found by plain, case-sensitive substring search, so they also
// count inside other words.
bool HasKeyword(const char* parameters, const char* keyword) {
  return std::strstr(parameters, keyword) != nullptr;
}

// The clock packet: the mode value and the local date and time.
panel::Packet ClockPacket(std::uint8_t mode, const platform::LocalTime& now) {
  return panel::MakePacket(panel::kModeAndClock,
                           {mode, static_cast<std::uint8_t>(now.year % 256), now.month, now.day,
                            now.hour, now.minute, now.second});
}

}  // namespace

const char* Init(std::uint8_t width, std::uint8_t height, const char* parameters, bool* ok) {
  // A start while the plug-in is open first closes it, so that no second icon
  // thread and no second library reference is left behind.
  if (PluginOpen) {
    Done();
  }
  AutoAudioDisplay = false;
  SetSuccess(ok, true);
  text::ResetTextFrame();

  if (width == 16 && height == 2) {
    ScreenMode = 2;
  } else if (width == 16 && height == 1) {
    ScreenMode = 1;
  } else {
    return Fail(ok, kMessageInvalidScreenSize);
  }

  DisplayOffOnExit = false;
  const char* params = parameters != nullptr ? parameters : "";
  const bool clock = HasKeyword(params, "clock");
  const bool message = HasKeyword(params, "message");
  const bool off = HasKeyword(params, "off");
  if (int{clock} + int{message} + int{off} > 1) {
    return Fail(ok, kMessageInconsistentParameters);
  }
  DisplayClockOnExit = !message && !off;  // clock is the default
  DisplayOffOnExit = off;
  AutoAudioDisplay = HasKeyword(params, "audio");

  if (!LoadVendorLibrary()) {
    return Fail(ok, kMessageLibraryNotFound);
  }
  if (!VendorHasRequiredFunctions()) {
    return Fail(ok, kMessageFunctionsNotFound);
  }
  if (!VendorInit(kVendorInitFirst, kVendorInitSecond)) {
    return Fail(ok, kMessageDisplayNotFound);
  }

  panel::ClearDisplay();
  icons::ClearIcons();
  icons::SendIconStatus();  // the panel receives the empty icon packet twice
  if (!icons::StartIconThread()) {
    PluginOpen = true;
    Done();
    return Fail(ok, kMessageIconThread);
  }
  PluginOpen = true;
  return nullptr;
}

void Done() {
  const bool reset_panel = DisplayClockOnExit || DisplayOffOnExit;
  // A packet that does not come back means the panel has stopped answering:
  // each packet of Done's own would hang the host's thread as well. Done then
  // sends nothing and leaves the library loaded under the call. Normally no
  // packet is on its way, or it comes back at once, and nothing changes.
  bool stalled = reset_panel && !CallsReturn();
  if (reset_panel && !stalled) {
    panel::ClearDisplay();
  }
  const bool thread_ended = icons::StopIconThread();
  // A thread that Done gave up on may hang in the vendor library, or elsewhere
  // (the speaker query, say); only the former stalls the panel.
  stalled = stalled || (!thread_ended && !CallsReturn());
  if (stalled) {
    VendorLeaveLoaded();  // from here on nothing reaches the library
  }
  const platform::LocalTime now = platform::GetLocalTime();
  icons::ClearIcons();
  if (VendorLibraryLoaded()) {
    if (reset_panel) {
      panel::SendData(ClockPacket(DisplayClockOnExit ? panel::kModeClock : panel::kModeOff, now));
    }
    panel::SendData(panel::MakePacket(panel::kCommand51));
    if (thread_ended) {
      VendorUninitAndRelease();
    } else {
      // The icon thread hangs in a call that has not returned, perhaps into the
      // library: it is neither uninitialised nor unloaded under that call.
      VendorLeaveLoaded();
    }
  }
  PluginOpen = false;
}

}  // namespace plugin
