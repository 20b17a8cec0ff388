// The panel vendor's library: loading, binding of its six functions, and the
// calls the plug-in makes into it. Used from the host's thread, except
// VendorSendData, which the icon thread calls as well, and which is safe
// against a release that runs meanwhile.
#pragma once

#include <cstdint>

#include "plugin/shutdown.h"

namespace plugin {

// Loads the vendor library by its plain file name and resolves all six
// functions, each binding null when not found. A library still held from an
// earlier start-up is released after the new reference is taken, so the
// plug-in never holds more than one. Returns false when it cannot be loaded.
bool LoadVendorLibrary();

// True when the two functions the plug-in needs, iMONVFD_Init and
// iMONLCD_SendData, are bound.
bool VendorHasRequiredFunctions();

// True while the vendor library is loaded.
bool VendorLibraryLoaded();

// Calls iMONVFD_Init(first, second); true when it answers true (low byte non-zero).
bool VendorInit(std::uint32_t first, std::uint32_t second);

// Hands one packet's eight bytes to iMONLCD_SendData; does nothing while it is
// not bound. The bytes need only live for the call. A packet of the icon
// thread carries its run and goes out only if the run is still current after
// the binding has been read: a run retired before a library was bound can
// thus never reach that library, and one retired before CallsReturn has
// answered true sends nothing more at all (see shutdown.h).
void VendorSendData(const std::uint8_t* bytes, std::uint32_t run = kHostRun);

// Ends the use of the library: every binding is cleared, so nothing more
// reaches the library. Then, when iMONVFD_Uninit is bound, it is called and the
// library released once no packet is still on its way through it; without
// iMONVFD_Uninit the library stays loaded. A packet that has not come back
// within a second leaves the library loaded as by VendorLeaveLoaded.
void VendorUninitAndRelease();

// Ends the use of the library without iMONVFD_Uninit and without releasing it:
// the bindings are cleared and the plug-in forgets the library, whose
// reference stays taken for good. For when a call into the library may still
// be running on another thread, which unloading it would crash.
void VendorLeaveLoaded();

}  // namespace plugin
