// The in-memory vendor library of the fuzzer and the rules it checks on every
// call: loaded and bound before use, nothing after Uninit or the release, the
// arguments of iMONVFD_Init, and only packets the panel's command set knows,
// with the data each command allows.
#include "tests/fuzz/memory_vendor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emulator/commands.h"
#include "platform/test_seams.h"
#include "plugin/vendor_functions.h"

namespace fuzz {
namespace {

VendorShape Shape;
int Refs = 0;        // references taken by OpenLibrary and not given back
bool Bound = false;  // the plug-in holds bindings it may call through
bool PixelsAllowed = false;
// iMONVFD_Init answered true and iMONVFD_Uninit, which the library offers, has
// not been called since: a new iMONVFD_Init must wait for it.
bool AwaitsUninit = false;
int InitCallCount = 0;
int UninitCallCount = 0;

// Packets since the last TakePackets. No entry point sends more than 34: a
// start while open whose thread fails sends two Done's 12 and its own 10.
constexpr std::size_t kMaxPackets = 64;
PacketBytes Packets[kMaxPackets];
std::size_t PacketCount = 0;

char HandleAnchor;  // its address is the library's handle

void RequireUsable(const char* function) {
  if (Refs <= 0) {
    std::fprintf(stderr, "%s called while the library is not loaded\n", function);
    Fail("call into a library that is not loaded");
  }
  if (!Bound) {
    std::fprintf(stderr, "%s called without bindings of a start\n", function);
    Fail("call into the library before Init bound it or after Done released it");
  }
}

bool DataZeroFrom(const PacketBytes& p, std::size_t from) {
  for (std::size_t i = from; i < emulator::kCommandOffset; ++i) {
    if (p[i] != 0) {
      return false;
    }
  }
  return true;
}

void CheckPacket(const PacketBytes& p) {
  switch (emulator::ClassifyCommand(p[emulator::kCommandOffset])) {
    case emulator::CommandKind::kUnknown:
      Fail("a packet with a command byte the panel does not know");
    case emulator::CommandKind::kEvent:
      if (!DataZeroFrom(p, 0)) {
        Fail("a data-less command with data");
      }
      break;
    case emulator::CommandKind::kContrast:
      if (p[0] > 31 || !DataZeroFrom(p, 1)) {
        Fail("a contrast packet out of 0..31 or with data after the level");
      }
      break;
    case emulator::CommandKind::kClock: {
      const bool reset = p[0] == 0x40 && DataZeroFrom(p, 1);
      const bool shown = (p[0] == 0x80 || p[0] == 0x08) && p[1] == kFuzzTime.year % 256 &&
                         p[2] == kFuzzTime.month && p[3] == kFuzzTime.day &&
                         p[4] == kFuzzTime.hour && p[5] == kFuzzTime.minute &&
                         p[6] == kFuzzTime.second;
      if (!reset && !shown) {
        Fail("a mode packet with an unknown mode or not the local time");
      }
      break;
    }
    case emulator::CommandKind::kPixels:
      if (!PixelsAllowed) {
        Fail("a pixel packet outside a pixel transfer");
      }
      break;
    case emulator::CommandKind::kIcons:
      break;  // any of the 56 segments may be lit
  }
}

// The library's functions, with the types the plug-in calls them through
// (Bind below takes nothing else).
int VENDOR_CALL VendorInit(int first, int second) {
  RequireUsable("iMONVFD_Init");
  if (first != 24 || second != 0x8888) {
    Fail("iMONVFD_Init with arguments other than 24, 0x8888");
  }
  if (AwaitsUninit) {
    Fail("iMONVFD_Init again without iMONVFD_Uninit in between");
  }
  ++InitCallCount;
  AwaitsUninit = (Shape.init_answer & 0xFFu) != 0 && Shape.has_uninit;
  return static_cast<int>(Shape.init_answer);
}

int VENDOR_CALL VendorUninit() {
  RequireUsable("iMONVFD_Uninit");
  ++UninitCallCount;
  AwaitsUninit = false;
  Bound = false;  // nothing may follow it but the release
  return 1;
}

int VENDOR_CALL VendorSendData(const unsigned char* bytes) {
  RequireUsable("iMONLCD_SendData");
  PacketBytes packet;
  std::memcpy(packet.data(), bytes, packet.size());
  CheckPacket(packet);
  if (PacketCount == kMaxPackets) {
    Fail("more packets from one call than any entry point sends");
  }
  Packets[PacketCount++] = packet;
  return 1;
}

template <typename... Arguments>
int VENDOR_CALL NeverCalled(Arguments...) {
  Fail("a vendor function the plug-in has no use for was called");
}

// A function as the plug-in binds it; `Function` is the type it calls it through.
template <typename Function>
platform::Symbol Bind(Function function) {
  return reinterpret_cast<platform::Symbol>(function);
}

bool Open() {
  if (!Shape.present) {
    return false;
  }
  ++Refs;
  Bound = false;  // the plug-in clears its bindings before it loads
  return true;
}

platform::Symbol Find(const char* symbol) {
  if (Refs <= 0) {
    Fail("lookup in a library that is not loaded");
  }
  Bound = true;
  struct Entry {
    const char* name;
    bool offered;
    platform::Symbol function;
  };
  const Entry entries[] = {
      {"iMONVFD_Init", Shape.has_init, Bind<plugin::VendorInitFunction>(&VendorInit)},
      {"iMONVFD_Uninit", Shape.has_uninit, Bind<plugin::VendorUninitFunction>(&VendorUninit)},
      {"iMONVFD_IsInited", true, Bind<plugin::VendorIsInitedFunction>(&NeverCalled<>)},
      {"iMONVFD_SetText", true,
       Bind<plugin::VendorSetTextFunction>(&NeverCalled<const char*, const char*>)},
      {"iMONVFD_SetEQ", true, Bind<plugin::VendorSetEQFunction>(&NeverCalled<const int*>)},
      {"iMONLCD_SendData", Shape.has_send, Bind<plugin::VendorSendDataFunction>(&VendorSendData)},
  };
  for (const Entry& entry : entries) {
    if (std::strcmp(symbol, entry.name) == 0) {
      return entry.offered ? entry.function : nullptr;
    }
  }
  Fail("lookup of a name the vendor library does not have");
}

void Close() {
  if (Refs <= 0) {
    Fail("library released more often than loaded");
  }
  if (--Refs == 0) {
    Bound = AwaitsUninit = false;  // unloading ends the library's state
  }
}

const platform::seam::LibraryTable kTable{platform::kVendorLibraryName,
                                          reinterpret_cast<platform::Library*>(&HandleAnchor), Open,
                                          Find, Close};

}  // namespace

void InstallMemoryVendor() {
  platform::seam::SetLibraryTable(&kTable);
  platform::seam::SetLocalTime(&kFuzzTime);
}

void SetVendorShape(const VendorShape& shape) {
  Shape = shape;
}

void Fail(const char* what) {
  std::fprintf(stderr, "vestrix fuzz: invariant broken: %s\n", what);
  std::abort();
}

void EndBinding() {
  Bound = false;
}

void AllowPixels(bool allowed) {
  PixelsAllowed = allowed;
}

const PacketBytes* TakePackets(std::size_t* count) {
  *count = PacketCount;
  PacketCount = 0;
  return Packets;
}

int InitCalls() {
  return InitCallCount;
}
int UninitCalls() {
  return UninitCallCount;
}
int References() {
  return Refs;
}

}  // namespace fuzz
