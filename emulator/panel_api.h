// The panel emulator's reading interface: a small C API, exported by the
// emulator library next to the six vendor functions, through which a host
// simulator or a test reads the model of the panel that the emulator built from
// the packets it received. Every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(VXPANEL_BUILD)
#define VXPANEL_API __declspec(dllexport)
#else
#define VXPANEL_API
#endif
#else
#define VXPANEL_API __attribute__((visibility("default")))
#endif

extern "C" {

// Raised whenever VxPanelState or VxPanelLogEntry change shape.
inline constexpr std::uint32_t kVxPanelApiVersion = 1;

inline constexpr std::size_t kVxPanelWidth = 96;
inline constexpr std::size_t kVxPanelHeight = 16;
inline constexpr std::size_t kVxPanelPictureBytes = 192;  // two bands of 96 column bytes
inline constexpr std::size_t kVxPanelSegments = 56;

// Everything the panel has been told, as one consistent copy.
struct VxPanelState {
  // The picture as received from the pixel commands 0x20..0x3B: bytes 0..95 are
  // the top band (rows 0..7), 96..191 the bottom band (rows 8..15); byte n of a
  // band is column n; bit 7 is the top row of the band.
  std::uint8_t picture[kVxPanelPictureBytes];
  // Icon segments 0..55 from the last icon packet (command 0x01); bit n =
  // segment n; bits 56..63 are always 0.
  std::uint64_t icons;
  // Icon segments of the last three icon packets, oldest first; only the last
  // `icon_history_count` entries are valid. Shows blinking and ring movement.
  std::uint64_t icon_history[3];
  std::uint32_t icon_history_count;
  std::int32_t contrast;  // last contrast level (command 0x03), -1 before any
  std::int32_t mode;      // mode value of the last 0x50 packet, -1 before any
  // Date and time of the last 0x50 packet, as received: year modulo 256,
  // month, day, hour, minute, second.
  std::uint8_t clock[6];
  std::uint8_t inited;  // 1 between iMONVFD_Init and iMONVFD_Uninit
  std::uint8_t reserved;
  std::uint32_t init_calls;
  std::uint32_t uninit_calls;
  std::int32_t init_arguments[2];     // of the last iMONVFD_Init
  std::uint64_t packets;              // iMONLCD_SendData calls
  std::uint64_t unknown_packets;      // packets whose command byte the panel does not know
  std::uint8_t last_unknown[8];       // the last of them, in memory order
  std::uint64_t command_counts[256];  // packets received per command byte
  // Sequence number of the next log entry: changes with every call the
  // emulator receives, so a reader can tell whether anything happened.
  std::uint64_t sequence;
};

enum VxPanelEntryKind : std::uint32_t {
  kVxPanelPacket = 1,    // iMONLCD_SendData: `bytes` is the packet in memory order
  kVxPanelInit = 2,      // iMONVFD_Init: `arguments` are its two integers
  kVxPanelUninit = 3,    // iMONVFD_Uninit
  kVxPanelIsInited = 4,  // iMONVFD_IsInited
  kVxPanelSetText = 5,   // iMONVFD_SetText
  kVxPanelSetEQ = 6,     // iMONVFD_SetEQ
};

// One call the emulator received.
struct VxPanelLogEntry {
  std::uint64_t sequence;  // 0 for the first call after a reset
  std::uint32_t kind;      // VxPanelEntryKind
  std::uint32_t thread;    // 1 for the first calling thread seen, 2 for the next, ...
  std::uint8_t bytes[8];
  std::int32_t arguments[2];
};

// kVxPanelApiVersion of the library.
VXPANEL_API std::uint32_t VxPanel_ApiVersion();

// Copies the current state; false when `size` is not sizeof(VxPanelState).
VXPANEL_API bool VxPanel_GetState(VxPanelState* state, std::size_t size);

// Copies log entry `sequence`; false when it has not happened yet or is no
// longer kept (the log keeps the last kVxPanelLogCapacity entries).
VXPANEL_API bool VxPanel_GetLogEntry(std::uint64_t sequence, VxPanelLogEntry* entry,
                                     std::size_t size);
inline constexpr std::size_t kVxPanelLogCapacity = 65536;

// Puts the panel back to its power-on state and empties the log.
VXPANEL_API void VxPanel_Reset();

// What iMONVFD_Init answers from now on (1 after a reset), so that a missing
// panel can be simulated.
VXPANEL_API void VxPanel_SetInitAnswer(std::int32_t answer);

// The emulator's live window, on Windows (see "The virtual panel" in the
// README); elsewhere it never opens.
struct VxPanelWindowInfo {
  std::uint32_t open;     // 1 once the window exists
  std::uint32_t visible;  // 1 while it is shown; closing it hides it
  std::uint32_t holding;  // 1 while the window thread waits inside a paint, held there
  // In the last picture painted, the seconds the panel's clock had run on from
  // the clock packet's time (0 outside clock mode): the picture is
  // RenderImage(state, clock_seconds) of the state numbered `painted_sequence`.
  std::uint32_t clock_seconds;
  std::uint64_t painted_sequence;  // `sequence` of the state in the last picture painted
  std::uint64_t paints;            // pictures painted so far
};

// Copies what the window is doing; false when `size` is not sizeof(VxPanelWindowInfo).
VXPANEL_API bool VxPanel_GetWindowInfo(VxPanelWindowInfo* info, std::size_t size);

// For tests: while `hold` is 1 the window thread stops inside its next paint
// and waits there until it is 0 again, so that a test can show that packets
// never wait for painting.
VXPANEL_API void VxPanel_HoldWindowPainting(std::uint32_t hold);

}  // extern "C"
