// The panel's device on Windows, meant for Wine: the kernel's imon display
// device (or a stand-in for it) opened through Wine's view of the Unix file
// system with CreateFile and written with WriteFile.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bridge/device.h"

namespace bridge {
namespace {

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

HANDLE Handle(const Device& device) {
  return reinterpret_cast<HANDLE>(device.handle);
}

// Standard error is written by a thread of its own, which the caller waits
// for only this long: a pipe that nobody drains holds that thread, not the
// host, and lines that come while it is held are dropped.
constexpr DWORD kMessageWaitMs = 100;
CRITICAL_SECTION g_message_lock;  // guards the two below
char g_message[1024];
DWORD g_message_length = 0;
HANDLE g_message_ready = nullptr;  // a line waits in g_message
HANDLE g_message_done = nullptr;   // the writer is free again

DWORD WINAPI WriteMessages(LPVOID) {
  for (;;) {
    WaitForSingleObject(g_message_ready, INFINITE);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), g_message, g_message_length, &written, nullptr);
    SetEvent(g_message_done);
  }
}

// Makes the writer of standard error on first use; false when it cannot be had.
bool MessageWriterReady() {
  static const bool kReady = [] {
    InitializeCriticalSection(&g_message_lock);
    g_message_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_message_done = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    if (g_message_ready == nullptr || g_message_done == nullptr) {
      return false;
    }
    KeepLoaded();  // the thread runs this library's code until the process ends
    const HANDLE thread = CreateThread(nullptr, 0, WriteMessages, nullptr, 0, nullptr);
    if (thread == nullptr) {
      return false;
    }
    CloseHandle(thread);
    return true;
  }();
  return kReady;
}

}  // namespace

Device OpenDevice(const std::string& path, std::string* why) {
  // Wine opens a FIFO for reading and writing and without waiting, so here a
  // FIFO without a reader opens, and its writes wait once it is full.
  Device device;
  device.path = path;
  const HANDLE handle = OpenForWriting(path.c_str());
  if (handle == INVALID_HANDLE_VALUE) {
    *why = Reason(GetLastError());
    return device;
  }
  device.handle = reinterpret_cast<std::intptr_t>(handle);
  return device;
}

Written WriteDevice(Device* device, const std::uint8_t* bytes, std::size_t size,
                    const std::function<bool()>& /*keep_waiting*/, std::string* why) {
  std::size_t written = 0;
  while (written < size) {
    DWORD count = 0;
    if (!WriteFile(Handle(*device), bytes + written, static_cast<DWORD>(size - written), &count,
                   nullptr)) {
      *why = Reason(GetLastError());
      // Wine reports an unplugged panel and one that did not answer in time
      // alike, so the path tells: a device that cannot be opened any more has
      // gone; one that can (perhaps plugged in again already) goes on with
      // the new handle. The old one is closed first, since the imon driver
      // lets its device be opened only once at a time.
      CloseDevice(device);
      std::string ignored;
      *device = OpenDevice(device->path, &ignored);
      return device->IsOpen() ? Written::kFailed : Written::kGone;
    }
    if (count == 0) {
      *why = "the device took nothing";
      return Written::kFailed;
    }
    written += count;
  }
  return Written::kWhole;
}

void CloseDevice(Device* device) {
  if (device->IsOpen()) {
    CloseHandle(Handle(*device));
    device->handle = Device::kClosed;
  }
}

void WriteMessage(const std::string& line) {
  if (!MessageWriterReady()) {
    return;
  }
  EnterCriticalSection(&g_message_lock);
  // The writer is free when its last line has gone out; otherwise this one
  // is dropped.
  if (WaitForSingleObject(g_message_done, 0) == WAIT_OBJECT_0) {
    const std::string text = line.substr(0, sizeof g_message - 1) + "\n";
    text.copy(g_message, text.size());
    g_message_length = static_cast<DWORD>(text.size());
    SetEvent(g_message_ready);
    // Give the line the time to go out, so that it comes before what the
    // host writes next; then, and anyway once the line is out, go on.
    if (WaitForSingleObject(g_message_done, kMessageWaitMs) == WAIT_OBJECT_0) {
      SetEvent(g_message_done);
    }
  }
  LeaveCriticalSection(&g_message_lock);
}

std::string EnvironmentValue(const char* name) {
  // The process's own environment, whichever C runtime the host uses.
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void KeepLoaded() {
  // Nothing to do: the library pins itself as it first loads
  // (platform/pin_win32.cpp, which CMake links into it).
}

}  // namespace bridge
