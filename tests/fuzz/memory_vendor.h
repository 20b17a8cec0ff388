// The panel vendor's library served from inside the fuzzer's process through
// the platform layer's library table: it records the packets it receives and
// checks on every call that the plug-in uses it as a panel library may be used.
// The first broken rule ends the process with a message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace fuzz {

// The local time the platform layer reports while fuzzing; Done's clock packet
// must carry it.
inline constexpr platform::LocalTime kFuzzTime{2011, 3, 14, 9, 5, 7};

// What the library is like at the plug-in's next start: whether it can be
// found, which of its two needed functions and iMONVFD_Uninit it offers (the
// three functions the plug-in never calls are always there), and what its
// iMONVFD_Init answers.
struct VendorShape {
  bool present = true;
  bool has_init = true;
  bool has_send = true;
  bool has_uninit = true;
  std::uint32_t init_answer = 1;
};

using PacketBytes = std::array<std::uint8_t, 8>;

// Installs the library table and the fixed local time. Once per process.
void InstallMemoryVendor();

// The shape the next load and lookups see.
void SetVendorShape(const VendorShape& shape);

// Dies with `what` as the broken rule.
[[noreturn]] void Fail(const char* what);

// The plug-in holds no bindings any more (after Done, or a start that failed
// before binding or after closing): from now on every call into the library is
// a fault, until the plug-in looks up its functions again.
void EndBinding();

// Pixel packets are known to the panel, but only a pixel transfer sends them:
// they are accepted only while this is set.
void AllowPixels(bool allowed);

// The packets received since the last call, oldest first; `*count` is their number.
const PacketBytes* TakePackets(std::size_t* count);

// Calls of iMONVFD_Init and iMONVFD_Uninit since the process started, and the
// library references the plug-in holds.
int InitCalls();
int UninitCalls();
int References();

}  // namespace fuzz
