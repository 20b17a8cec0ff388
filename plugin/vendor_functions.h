// The panel vendor's library as both sides see it: its six functions, with the
// exact types the plug-in calls them through. Every library that takes the
// vendor's place (the panel emulator, the Linux bridge, the test libraries)
// defines its functions after including this header, so a definition of any
// other type fails to compile: a call through a function pointer of another
// type is undefined behaviour, which x86 forgives and WebAssembly traps.
// Plain C++ with no system header, so that every build can include it.
#pragma once

// The calling convention. On 32-bit x86 the vendor's functions are found with
// either convention, and the plug-in calls both alike (plugin/vendor.cpp);
// the stand-ins use __stdcall, unless one defines VENDOR_CALL itself before
// including this header, as the test library of a __cdecl build does.
// Elsewhere there is a single C calling convention.
#if !defined(VENDOR_CALL)
#if defined(__i386__)
#define VENDOR_CALL __attribute__((stdcall))
#else
#define VENDOR_CALL
#endif
#endif

// How a stand-in exports its definitions of the functions below.
#if defined(_WIN32)
#define VENDOR_EXPORT __declspec(dllexport)
#else
#define VENDOR_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Opens the panel; the plug-in passes 24 and 0x8888 and tests only the low
// byte of the answer (non-zero: the panel is there).
int VENDOR_CALL iMONVFD_Init(int first, int second);
// Closes the panel; the plug-in ignores the answer.
int VENDOR_CALL iMONVFD_Uninit();
// The plug-in never calls these three.
int VENDOR_CALL iMONVFD_IsInited();
int VENDOR_CALL iMONVFD_SetText(const char* first_line, const char* second_line);
int VENDOR_CALL iMONVFD_SetEQ(const int* bands);
// Sends one command packet, its eight bytes in memory order; the plug-in
// ignores the answer.
int VENDOR_CALL iMONLCD_SendData(const unsigned char* packet);

}  // extern "C"

namespace plugin {

using VendorInitFunction = decltype(&iMONVFD_Init);
using VendorUninitFunction = decltype(&iMONVFD_Uninit);
using VendorIsInitedFunction = decltype(&iMONVFD_IsInited);
using VendorSetTextFunction = decltype(&iMONVFD_SetText);
using VendorSetEQFunction = decltype(&iMONVFD_SetEQ);
using VendorSendDataFunction = decltype(&iMONLCD_SendData);

}  // namespace plugin
