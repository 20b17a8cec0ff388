// The panel's device on Windows, meant for Wine: the kernel's imon display
// device (or a stand-in for it) opened through Wine's view of the Unix file
// system with CreateFile and written with WriteFile.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bridge/device.h"

namespace bridge {
namespace {

// The open device; INVALID_HANDLE_VALUE while none is.
HANDLE g_device = INVALID_HANDLE_VALUE;

// Wine's own function that turns a Unix path into the Windows name of the same
// file (/dev/lcd0 becomes \\?\unix\dev\lcd0 or Z:\dev\lcd0). Windows lacks it.
using DosFileNameFunction = WCHAR*(__cdecl*)(const char*);

std::string Reason(DWORD error) {
  char text[256];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason + " (error " + std::to_string(error) + ")";
}

HANDLE OpenForWriting(const char* path) {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  // A Unix path, as natively, is taken as one when running under Wine.
  if (path[0] == '/') {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto dos_file_name = reinterpret_cast<DosFileNameFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (dos_file_name != nullptr) {
      WCHAR* name = dos_file_name(path);
      if (name == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      const HANDLE device =
          CreateFileW(name, GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING, 0, nullptr);
      const DWORD error = GetLastError();
      HeapFree(GetProcessHeap(), 0, name);
      SetLastError(error);
      return device;
    }
  }
  return CreateFileA(path, GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool OpenDevice(const char* path, std::string* why) {
  CloseDevice();
  // Wine opens a FIFO for reading and writing and without waiting, so here a
  // FIFO without a reader opens, and its writes wait once it is full.
  const HANDLE device = OpenForWriting(path);
  if (device == INVALID_HANDLE_VALUE) {
    *why = Reason(GetLastError());
    return false;
  }
  g_device = device;
  return true;
}

bool DeviceIsOpen() {
  return g_device != INVALID_HANDLE_VALUE;
}

bool WriteDevice(const std::uint8_t* bytes, std::size_t size, std::string* why) {
  if (g_device == INVALID_HANDLE_VALUE) {
    *why = "no device is open";
    return false;
  }
  std::size_t written = 0;
  while (written < size) {
    DWORD count = 0;
    if (!WriteFile(g_device, bytes + written, static_cast<DWORD>(size - written), &count,
                   nullptr)) {
      *why = Reason(GetLastError());
      return false;
    }
    if (count == 0) {
      *why = "the device took nothing";
      return false;
    }
    written += count;
  }
  return true;
}

void CloseDevice() {
  if (g_device != INVALID_HANDLE_VALUE) {
    CloseHandle(g_device);
    g_device = INVALID_HANDLE_VALUE;
  }
}

void WriteMessage(const std::string& line) {
  // Windows has no signal for a pipe whose reader has gone: the write fails.
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

std::string EnvironmentValue(const char* name) {
  // The process's own environment, whichever C runtime the host uses.
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

}  // namespace bridge
