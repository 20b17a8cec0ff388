// Binding of the panel vendor's library and the calls into it.
//
// The vendor does not document the calling convention of its functions, and
// both conventions are found in the field: with __stdcall the function removes
// its arguments from the stack, with __cdecl the caller does. On 32-bit x86 the
// calls therefore go through small call sites that keep the stack pointer in a
// callee-saved register and restore it after the call, which is right for both.
#include "plugin/vendor.h"

#include <cstdint>

#include "platform/platform.h"

namespace plugin {
namespace {

// The loaded vendor library; null while not loaded.
platform::Library* IMONDLL = nullptr;

// The six bindings, in the order they are resolved; null when not resolved.
platform::Symbol iMONInitFunc = nullptr;      // iMONVFD_Init(int, int) -> truth value
platform::Symbol iMONUninitProc = nullptr;    // iMONVFD_Uninit()
platform::Symbol iMONIsInitedFunc = nullptr;  // iMONVFD_IsInited(), never called
platform::Symbol iMONSetTextFunc = nullptr;   // iMONVFD_SetText(...), never called
platform::Symbol iMONSetEQFunc = nullptr;     // iMONVFD_SetEQ(...), never called
platform::Symbol iMONLCDSendData = nullptr;   // iMONLCD_SendData(const uint8_t* packet)

void ClearBindings() {
  iMONInitFunc = nullptr;
  iMONUninitProc = nullptr;
  iMONIsInitedFunc = nullptr;
  iMONSetTextFunc = nullptr;
  iMONSetEQFunc = nullptr;
  iMONLCDSendData = nullptr;
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

std::uint32_t CallInit(std::uint32_t first, std::uint32_t second) {
  return CallVendor2(iMONInitFunc, first, second);
}
void CallUninit() {
  CallVendor0(iMONUninitProc);
}
void CallSendData(const std::uint8_t* bytes) {
  CallVendor1(iMONLCDSendData, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(bytes)));
}

#else

// Other architectures have a single C calling convention.
std::uint32_t CallInit(std::uint32_t first, std::uint32_t second) {
  using Function = int (*)(int, int);
  return static_cast<std::uint32_t>(
      reinterpret_cast<Function>(iMONInitFunc)(static_cast<int>(first), static_cast<int>(second)));
}
void CallUninit() {
  using Function = int (*)();
  reinterpret_cast<Function>(iMONUninitProc)();
}
void CallSendData(const std::uint8_t* bytes) {
  using Function = int (*)(const std::uint8_t*);
  reinterpret_cast<Function>(iMONLCDSendData)(bytes);
}

#endif

}  // namespace

bool LoadVendorLibrary() {
  platform::Library* previous = IMONDLL;
  IMONDLL = platform::OpenLibrary(platform::kVendorLibraryName);
  // Taking the new reference before dropping the old one keeps a library that
  // is still in use from being unloaded in between.
  platform::CloseLibrary(previous);
  ClearBindings();
  if (IMONDLL == nullptr) {
    return false;
  }
  // All six are looked up before any is tested.
  iMONInitFunc = platform::FindSymbol(IMONDLL, "iMONVFD_Init");
  iMONUninitProc = platform::FindSymbol(IMONDLL, "iMONVFD_Uninit");
  iMONIsInitedFunc = platform::FindSymbol(IMONDLL, "iMONVFD_IsInited");
  iMONSetTextFunc = platform::FindSymbol(IMONDLL, "iMONVFD_SetText");
  iMONSetEQFunc = platform::FindSymbol(IMONDLL, "iMONVFD_SetEQ");
  iMONLCDSendData = platform::FindSymbol(IMONDLL, "iMONLCD_SendData");
  return true;
}

bool VendorHasRequiredFunctions() {
  return iMONInitFunc != nullptr && iMONLCDSendData != nullptr;
}

bool VendorLibraryLoaded() {
  return IMONDLL != nullptr;
}

bool VendorInit(std::uint32_t first, std::uint32_t second) {
  if (iMONInitFunc == nullptr) {
    return false;
  }
  // Only the lowest byte of the answer carries the truth value.
  return (CallInit(first, second) & 0xFFu) != 0;
}

void VendorSendData(const std::uint8_t* bytes) {
  if (iMONLCDSendData != nullptr) {
    CallSendData(bytes);
  }
}

void VendorUninitAndRelease() {
  if (IMONDLL != nullptr && iMONUninitProc != nullptr) {
    CallUninit();
    platform::CloseLibrary(IMONDLL);
    IMONDLL = nullptr;
  }
  ClearBindings();
}

}  // namespace plugin
