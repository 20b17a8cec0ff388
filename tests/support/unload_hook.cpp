// A library that calls a function while it is being unloaded: from its entry
// routine on Windows, where the loader lock is held then, and from a static
// destructor natively. It stands for a host whose own library closes the
// plug-in on its way out.
#include "plugin/api.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define HOOK_EXPORT __declspec(dllexport)
#else
#define HOOK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using Function = void(VESTRIX_CALL*)();
Function g_on_unload = nullptr;

void RunHook() {
  if (g_on_unload != nullptr) {
    g_on_unload();
  }
}

}  // namespace

extern "C" HOOK_EXPORT void UnloadHook_Set(Function function) {
  g_on_unload = function;
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_DETACH) {
    RunHook();
  }
  return TRUE;
}
#else
namespace {
__attribute__((destructor)) void RunHookOnUnload() {
  RunHook();
}
}  // namespace
#endif
