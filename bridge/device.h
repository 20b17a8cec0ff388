// The panel's device as the bridge writes to it: one device open at a time,
// named by a path and written one packet at a time. Implemented for POSIX in
// device_posix.cpp and for Windows in device_win32.cpp; CMake compiles one.
// Nothing here is locked: bridge.cpp serialises every call with its mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bridge {

// Opens the device at `path` for writing, after closing any device still open.
// Never waits for a FIFO's reader to arrive. Returns false, with the reason in
// `*why`, when the device cannot be opened.
bool OpenDevice(const char* path, std::string* why);

// True while a device is open.
bool DeviceIsOpen();

// Writes `size` bytes in one write call where the device takes them all, and
// finishes a short write with further calls; a write interrupted by a signal is
// repeated. A device that accepts nothing for a while fails the write instead
// of holding the caller. Returns false, with the reason in `*why`, when not all
// bytes were written.
bool WriteDevice(const std::uint8_t* bytes, std::size_t size, std::string* why);

// Closes the device; nothing happens when none is open.
void CloseDevice();

// Writes `line` and a line feed to the process's standard error, for the user
// who wonders why the panel stays dark. Like the device's writes, it never
// raises a signal that would end the host (a standard error that is a pipe
// whose reader has gone, say), and leaves the process's signal handling as it
// was. A line that cannot be written is lost.
void WriteMessage(const std::string& line);

// The value of the process environment's variable `name`; empty when unset.
std::string EnvironmentValue(const char* name);

}  // namespace bridge
