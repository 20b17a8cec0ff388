// Win32 implementation of the host-side services: the DLL directory, dropping
// modules by their reference counts, the process's resources, and the console.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>

#include "platform/host.h"

namespace platform {

void SetLibraryDirectory(const char* directory) {
  SetDllDirectoryA(directory);
}

void SetEnvironmentValue(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

void DescribeLoadFailure(char* text, std::size_t size) {
  if (size == 0) {
    return;
  }
  text[0] = '\0';
  const DWORD code = GetLastError();
  if (code == ERROR_SUCCESS) {
    return;
  }
  char words[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, words, sizeof words, nullptr);
  // The system's text ends in a line break, which a message does not want.
  DWORD end = length;
  while (end > 0 && (words[end - 1] == '\r' || words[end - 1] == '\n' || words[end - 1] == ' ')) {
    --end;
  }
  words[end] = '\0';
  std::snprintf(text, size, "error %lu%s%s", static_cast<unsigned long>(code), end > 0 ? ": " : "",
                words);
}

bool IsLibraryLoaded(const char* name) {
  return GetModuleHandleA(name) != nullptr;
}

bool UnloadLibraryCompletely(const char* name) {
  // Each FreeLibrary drops one reference; the bound guards against a module
  // that cannot be unloaded at all.
  for (int attempt = 0; attempt < 64; ++attempt) {
    HMODULE module = GetModuleHandleA(name);
    if (module == nullptr) {
      return true;
    }
    FreeLibrary(module);
  }
  return GetModuleHandleA(name) == nullptr;
}

namespace {

// Handles of the process counted one by one: every value that names a handle
// (a multiple of four) up to `limit`, asked in turn.
long ProbeHandles(std::uintptr_t limit) {
  long count = 0;
  for (std::uintptr_t value = 4; value < limit; value += 4) {
    DWORD flags = 0;
    count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0 ? 1 : 0;
  }
  return count;
}

// Thread-local storage slots that the process can still take: all of them
// taken one by one, counted and given back.
long CountFreeTlsSlots() {
  static DWORD taken[1088];
  long count = 0;
  for (DWORD slot = TlsAlloc(); slot != TLS_OUT_OF_INDEXES; slot = TlsAlloc()) {
    if (count == static_cast<long>(sizeof taken / sizeof taken[0])) {
      TlsFree(slot);
      break;
    }
    taken[count++] = slot;
  }
  for (long i = 0; i < count; ++i) {
    TlsFree(taken[i]);
  }
  return count;
}

}  // namespace

const char kHandlesName[] = "handles";

bool SampleProcessResources(const char* library_name, ProcessResources* sample) {
  // The handle count first, before the snapshots below open handles of their
  // own. Every Windows process holds handles from its start; Wine answers 0,
  // as it keeps no such count, and there the handle values are asked one by
  // one. Wine gives out the lowest free value first, so the few thousand
  // values probed hold all of a small program's handles.
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) != 0 && handles > 0) {
    sample->handles = static_cast<long>(handles);
  } else {
    sample->handles = ProbeHandles(0x4000);
  }

  const DWORD process = GetCurrentProcessId();
  sample->threads = -1;
  HANDLE threads = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (threads != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(threads, &entry); more; more = Thread32Next(threads, &entry)) {
      count += entry.th32OwnerProcessID == process ? 1 : 0;
    }
    CloseHandle(threads);
    sample->threads = count;
  }

  // Each loaded copy of a DLL is one module, whatever directory it came from.
  sample->library_copies = -1;
  HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
  if (modules != INVALID_HANDLE_VALUE) {
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Module32First(modules, &entry); more; more = Module32Next(modules, &entry)) {
      count += lstrcmpiA(entry.szModule, library_name) == 0 ? 1 : 0;
    }
    CloseHandle(modules);
    sample->library_copies = count;
  }

  sample->free_tls_slots = CountFreeTlsSlots();

  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  sample->resident_kib = GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory) != 0
                             ? static_cast<long>(memory.WorkingSetSize / 1024)
                             : -1;
  return sample->handles >= 0 && sample->threads >= 0 && sample->library_copies >= 0 &&
         sample->resident_kib >= 0;
}

bool PrepareTerminalOutput() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == INVALID_HANDLE_VALUE || GetConsoleMode(output, &mode) == 0) {
    return false;  // a file or a pipe
  }
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleMode(output, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
    return 0;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace platform
