// Binding of the panel vendor's library and the calls into it.
//
// The vendor does not document the calling convention of its functions, and
// both conventions are found in the field: with __stdcall the function removes
// its arguments from the stack, with __cdecl the caller does. On 32-bit x86 the
// calls therefore go through small call sites that keep the stack pointer in a
// callee-saved register and restore it after the call, which is right for both.
#include "plugin/vendor.h"

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "plugin/shutdown.h"
#include "plugin/vendor_functions.h"

namespace plugin {
namespace {

// The loaded vendor library; null while not loaded. Host thread only.
platform::Library* IMONDLL = nullptr;

// The six bindings, in the order they are resolved; null when not resolved.
// Their types are in vendor_functions.h. The host's thread binds and clears
// them; the icon thread, and a host that sends from a second thread, read
// iMONLCDSendData at the same time.
std::atomic<platform::Symbol> iMONInitFunc{nullptr};      // iMONVFD_Init
std::atomic<platform::Symbol> iMONUninitProc{nullptr};    // iMONVFD_Uninit
std::atomic<platform::Symbol> iMONIsInitedFunc{nullptr};  // iMONVFD_IsInited, never called
std::atomic<platform::Symbol> iMONSetTextFunc{nullptr};   // iMONVFD_SetText, never called
std::atomic<platform::Symbol> iMONSetEQFunc{nullptr};     // iMONVFD_SetEQ, never called
std::atomic<platform::Symbol> iMONLCDSendData{nullptr};   // iMONLCD_SendData

void ClearBindings() {
  iMONInitFunc.store(nullptr);
  iMONUninitProc.store(nullptr);
  iMONIsInitedFunc.store(nullptr);
  iMONSetTextFunc.store(nullptr);
  iMONSetEQFunc.store(nullptr);
  iMONLCDSendData.store(nullptr);
}

#if defined(__i386__)

// Convention-agnostic call sites. %esi is callee-saved in both conventions, so
// it still holds the stack pointer from before the arguments were pushed when
// the function returns, however many bytes the function itself popped.
// noipa keeps each one an ordinary function with the standard calling
// convention: the compiler may not inline it, clone it with arguments in
// registers, or assume that a caller's registers survive it beyond what the
// convention promises, so the clobber list needs to name only what the asm
// itself touches besides the call.
__attribute__((noipa)) std::uint32_t CallVendor0(platform::Symbol function) {
  std::uint32_t result;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "call *%[function]\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : [function] "r"(function)
      : "esi", "ecx", "edx", "memory", "cc");
  return result;
}

__attribute__((noipa)) std::uint32_t CallVendor1(platform::Symbol function,
                                                 std::uint32_t argument) {
  std::uint32_t result;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %[argument]\n\t"
      "call *%[function]\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : [function] "r"(function), [argument] "r"(argument)
      : "esi", "ecx", "edx", "memory", "cc");
  return result;
}

__attribute__((noipa)) std::uint32_t CallVendor2(platform::Symbol function, std::uint32_t first,
                                                 std::uint32_t second) {
  std::uint32_t result;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %[second]\n\t"
      "pushl %[first]\n\t"
      "call *%[function]\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : [function] "r"(function), [first] "r"(first), [second] "r"(second)
      : "esi", "ecx", "edx", "memory", "cc");
  return result;
}

std::uint32_t CallInit(platform::Symbol function, std::uint32_t first, std::uint32_t second) {
  return CallVendor2(function, first, second);
}
void CallUninit(platform::Symbol function) {
  CallVendor0(function);
}
void CallSendData(platform::Symbol function, const std::uint8_t* bytes) {
  CallVendor1(function, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(bytes)));
}

#else

// Other architectures have a single C calling convention, and the calls go
// through exactly the types that every stand-in defines its functions with.
std::uint32_t CallInit(platform::Symbol function, std::uint32_t first, std::uint32_t second) {
  return static_cast<std::uint32_t>(reinterpret_cast<VendorInitFunction>(function)(
      static_cast<int>(first), static_cast<int>(second)));
}
void CallUninit(platform::Symbol function) {
  reinterpret_cast<VendorUninitFunction>(function)();
}
void CallSendData(platform::Symbol function, const std::uint8_t* bytes) {
  reinterpret_cast<VendorSendDataFunction>(function)(bytes);
}

#endif

// Gives back a reference to the library once no call runs in it any more. The
// bindings are cleared already. When calls do not end in time (a stalled
// transfer), the reference is kept, so the library stays loaded under them.
void ReleaseLibrary(platform::Library* library) {
  if (library != nullptr && CallsReturn()) {
    platform::CloseLibrary(library);
  }
}

}  // namespace

bool LoadVendorLibrary() {
  platform::Library* previous = IMONDLL;
  ClearBindings();
  IMONDLL = platform::OpenLibrary(platform::kVendorLibraryName);
  // Taking the new reference before dropping the old one keeps a library that
  // is still in use from being unloaded in between.
  ReleaseLibrary(previous);
  if (IMONDLL == nullptr) {
    return false;
  }
  // All six are looked up before any is tested.
  iMONInitFunc.store(platform::FindSymbol(IMONDLL, "iMONVFD_Init"));
  iMONUninitProc.store(platform::FindSymbol(IMONDLL, "iMONVFD_Uninit"));
  iMONIsInitedFunc.store(platform::FindSymbol(IMONDLL, "iMONVFD_IsInited"));
  iMONSetTextFunc.store(platform::FindSymbol(IMONDLL, "iMONVFD_SetText"));
  iMONSetEQFunc.store(platform::FindSymbol(IMONDLL, "iMONVFD_SetEQ"));
  iMONLCDSendData.store(platform::FindSymbol(IMONDLL, "iMONLCD_SendData"));
  return true;
}

bool VendorHasRequiredFunctions() {
  return iMONInitFunc.load() != nullptr && iMONLCDSendData.load() != nullptr;
}

bool VendorLibraryLoaded() {
  return IMONDLL != nullptr;
}

bool VendorInit(std::uint32_t first, std::uint32_t second) {
  const platform::Symbol init = iMONInitFunc.load();
  if (init == nullptr) {
    return false;
  }
  // Only the lowest byte of the answer carries the truth value.
  return (CallInit(init, first, second) & 0xFFu) != 0;
}

void VendorSendData(const std::uint8_t* bytes, std::uint32_t run) {
  CallBegins();
  // The run is asked after the binding is read: Done retires it before a later
  // start binds a library, so a binding read here that belongs to that library
  // comes with an answer of "retired".
  if (const platform::Symbol send = iMONLCDSendData.load(); send != nullptr && RunIsCurrent(run)) {
    CallSendData(send, bytes);
  }
  CallEnds();
}

void VendorUninitAndRelease() {
  const platform::Symbol uninit = iMONUninitProc.load();
  ClearBindings();
  if (IMONDLL == nullptr || uninit == nullptr) {
    return;  // a library without iMONVFD_Uninit stays loaded
  }
  // iMONVFD_Uninit only once every packet has returned from the library.
  if (!CallsReturn()) {
    VendorLeaveLoaded();
    return;
  }
  CallUninit(uninit);
  platform::CloseLibrary(IMONDLL);
  IMONDLL = nullptr;
}

void VendorLeaveLoaded() {
  ClearBindings();
  // The reference is deliberately kept: a call may still run in the library.
  IMONDLL = nullptr;
}

}  // namespace plugin
