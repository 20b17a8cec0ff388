// What the bridge needs of the operating system: the panel's device, opened
// by its path and written one packet at a time, messages on standard error,
// the environment, and keeping the library loaded. Implemented for POSIX in
// device_posix.cpp and for Windows in device_win32.cpp; CMake compiles one.
// Nothing here is locked: bridge.cpp opens a device on the host's thread and
// hands it to its writer thread, which alone writes and closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace bridge {

// An open device: a file descriptor on POSIX, a handle on Windows, and the
// path it was opened by.
struct Device {
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle = kClosed;
  std::string path;
  bool IsOpen() const { return handle != kClosed; }
};

// Opens the device at `path` for writing, without waiting for anything (a
// FIFO without a reader fails at once). Returns a closed device, with the
// reason in `*why`, when the device cannot be opened.
Device OpenDevice(const std::string& path, std::string* why);

enum class Written {
  kWhole,   // every byte went out
  kFailed,  // this write failed, the device stays usable: the panel refused the
            // transfer (a stall), did not answer it in the driver's time, or
            // the reader of a FIFO has gone
  kGone,    // the device has gone away, as when the panel is unplugged: it
            // must be opened again once it is back
};

// Writes `size` bytes, in one write call where the device takes them all; a
// short write is finished with further calls, and a write interrupted by a
// signal is repeated. A write waits as long as the device makes it wait: the
// imon driver's own wait for a panel that does not answer is about ten
// seconds. A device that takes nothing at the moment (a full FIFO) is waited
// for only while `keep_waiting()` answers true, asked every tenth of a second
// or so. The reason of a failure goes into `*why`. Where the system does not
// say whether the device is gone, the path is opened anew to find out, and
// the device continues on the new handle.
Written WriteDevice(Device* device, const std::uint8_t* bytes, std::size_t size,
                    const std::function<bool()>& keep_waiting, std::string* why);

// Closes the device, if open.
void CloseDevice(Device* device);

// Writes `line` and a line feed to the process's standard error, for the user
// who wonders why the panel stays dark, and never holds the caller: a line
// that standard error cannot take at once (a pipe that nobody drains, say)
// is dropped. Like the device's writes, it raises no signal that would end
// the host and leaves the process's signal handling as it was.
void WriteMessage(const std::string& line);

// The value of the process environment's variable `name`; empty when unset.
std::string EnvironmentValue(const char* name);

// Keeps the library that holds this code loaded until the process ends, also
// when its host lets go of it: a writer thread may still be inside the driver
// after iMONVFD_Uninit has returned and the plug-in has released the library.
// Natively the first call does it; on Windows the library has pinned itself
// as it first loaded, which also spares a host that loads and frees it per
// session the 32-bit runtime's record of the loading thread every time. Any
// thread.
void KeepLoaded();

}  // namespace bridge
