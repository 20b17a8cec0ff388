// The exported entry points: the host's only way into the plug-in. Each hands
// over to the part of the plug-in that does the work.
#include "icons/fan.h"
#include "panel/panel.h"
#include "plugin/api.h"
#include "plugin/lifecycle.h"
#include "plugin/texts.h"
#include "text/custom.h"
#include "text/frame.h"

extern "C" {

const char* VESTRIX_CALL DISPLAYDLL_Init(std::uint8_t width, std::uint8_t height,
                                         const char* parameters, bool* ok) {
  return plugin::Init(width, height, parameters, ok);
}

void VESTRIX_CALL DISPLAYDLL_Done() {
  plugin::Done();
}

const char* VESTRIX_CALL DISPLAYDLL_DriverName() {
  return plugin::DLLProjectName;
}

const char* VESTRIX_CALL DISPLAYDLL_Usage() {
  return plugin::plugin_usage;
}

const char* VESTRIX_CALL DISPLAYDLL_DefaultParameters() {
  return plugin::plugin_default_parameters;
}

void VESTRIX_CALL DISPLAYDLL_SetPosition(std::uint8_t x, std::uint8_t y) {
  text::SetPosition(x, y);
}

void VESTRIX_CALL DISPLAYDLL_Write(const char* text) {
  text::Write(text);
}

void VESTRIX_CALL DISPLAYDLL_SetBrightness(std::uint8_t /*brightness*/) {}

void VESTRIX_CALL DISPLAYDLL_CustomChar(std::uint8_t index, const std::uint8_t* data) {
  text::CustomChar(index, data);
}

std::uint8_t VESTRIX_CALL DISPLAYDLL_CustomCharIndex(std::uint8_t index) {
  return text::CustomCharIndex(index);
}

void VESTRIX_CALL DISPLAYDLL_SetContrast(std::uint8_t contrast) {
  panel::SetContrast(contrast);
}

void VESTRIX_CALL DISPLAYDLL_SetFan(std::uint8_t action, std::uint8_t number) {
  icons::SetFan(action, number);
}

}  // extern "C"
