// The entry points of the plug-in code linked into a unit-test executable.
#include "tests/support/plugin_host.h"

namespace testing_support {

PluginApi LinkedEntryPoints() {
  PluginApi api;
  api.Init = &DISPLAYDLL_Init;
  api.Done = &DISPLAYDLL_Done;
  api.DriverName = &DISPLAYDLL_DriverName;
  api.Usage = &DISPLAYDLL_Usage;
  api.DefaultParameters = &DISPLAYDLL_DefaultParameters;
  api.SetPosition = &DISPLAYDLL_SetPosition;
  api.Write = &DISPLAYDLL_Write;
  api.SetBrightness = &DISPLAYDLL_SetBrightness;
  api.CustomChar = &DISPLAYDLL_CustomChar;
  api.CustomCharIndex = &DISPLAYDLL_CustomCharIndex;
  api.SetContrast = &DISPLAYDLL_SetContrast;
  api.SetFan = &DISPLAYDLL_SetFan;
  return api;
}

}  // namespace testing_support
