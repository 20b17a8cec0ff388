// The panel vendor's library: loading, binding of its six functions, and the
// calls the plug-in makes into it. Used from the host's thread, except
// VendorSendData, which the icon thread calls as well.
#pragma once

#include <cstdint>

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
// not bound. The bytes need only live for the call.
void VendorSendData(const std::uint8_t* bytes);

// Ends the use of the library: when iMONVFD_Uninit is bound it is called and the
// library released; without it the library stays loaded. Either way every
// binding is cleared, so nothing more reaches the library.
void VendorUninitAndRelease();

}  // namespace plugin
