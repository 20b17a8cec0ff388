// Host side of the plug-in's interface: the twelve entry points of a loaded
// build of the plug-in, resolved by name as a host resolves them. Used by the
// test host and the host simulator; not part of the plug-in itself.
#pragma once

#include "platform/platform.h"
#include "plugin/api.h"

namespace plugin {

struct EntryPoints {
  decltype(&DISPLAYDLL_Init) Init = nullptr;
  decltype(&DISPLAYDLL_Done) Done = nullptr;
  decltype(&DISPLAYDLL_DriverName) DriverName = nullptr;
  decltype(&DISPLAYDLL_Usage) Usage = nullptr;
  decltype(&DISPLAYDLL_DefaultParameters) DefaultParameters = nullptr;
  decltype(&DISPLAYDLL_SetPosition) SetPosition = nullptr;
  decltype(&DISPLAYDLL_Write) Write = nullptr;
  decltype(&DISPLAYDLL_SetBrightness) SetBrightness = nullptr;
  decltype(&DISPLAYDLL_CustomChar) CustomChar = nullptr;
  decltype(&DISPLAYDLL_CustomCharIndex) CustomCharIndex = nullptr;
  decltype(&DISPLAYDLL_SetContrast) SetContrast = nullptr;
  decltype(&DISPLAYDLL_SetFan) SetFan = nullptr;
};

// Resolves all twelve entry points of `library` under their plain names, or
// with `decorated` under their "@N" names (which only the Windows DLL has).
// Entry points not found stay null; returns the name of the first of them, or
// null when all were found.
const char* ResolveEntryPoints(platform::Library* library, EntryPoints* entry_points,
                               bool decorated = false);

}  // namespace plugin
