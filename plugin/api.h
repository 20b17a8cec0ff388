// The plug-in's exported entry points, as the host calls them. On 32-bit
// Windows they use the standard calling convention and are exported from the
// DLL under their plain and their decorated names (see vestrix.def).
#pragma once

#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define VESTRIX_CALL __stdcall
#else
#define VESTRIX_CALL
#endif

#if defined(_WIN32)
#define VESTRIX_EXPORT  // exports are listed in vestrix.def
#else
#define VESTRIX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Opens the plug-in for a screen of `width` x `height` characters (16 x 2 or
// 16 x 1) with the start-up parameter string `parameters`. Writes the outcome
// to `*ok` and returns null on success, else the address of a static message.
VESTRIX_EXPORT const char* VESTRIX_CALL DISPLAYDLL_Init(std::uint8_t width, std::uint8_t height,
                                                        const char* parameters, bool* ok);
// Leaves the panel as the shutdown mode says, stops the icon thread and
// releases the vendor library.
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_Done();

// Fixed texts; callable at any time.
VESTRIX_EXPORT const char* VESTRIX_CALL DISPLAYDLL_DriverName();
VESTRIX_EXPORT const char* VESTRIX_CALL DISPLAYDLL_Usage();
VESTRIX_EXPORT const char* VESTRIX_CALL DISPLAYDLL_DefaultParameters();

// Text: cursor (1-based column and row) and writing at the cursor.
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_SetPosition(std::uint8_t x, std::uint8_t y);
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_Write(const char* text);

// Accepted and ignored: the panel has no brightness control.
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_SetBrightness(std::uint8_t brightness);

// Host-defined characters 1..8 (8 pattern rows of 5 dots each).
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_CustomChar(std::uint8_t index,
                                                       const std::uint8_t* data);
VESTRIX_EXPORT std::uint8_t VESTRIX_CALL DISPLAYDLL_CustomCharIndex(std::uint8_t index);

// Panel contrast, 0..255 from the host, sent as 0..31.
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_SetContrast(std::uint8_t contrast);

// Icon command: action (1 off, 2 on, 3 blink) on icon number `number`.
VESTRIX_EXPORT void VESTRIX_CALL DISPLAYDLL_SetFan(std::uint8_t action, std::uint8_t number);

}  // extern "C"
