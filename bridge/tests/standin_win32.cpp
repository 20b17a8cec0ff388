// The FIFO stand-in under Wine: with_fifo.sh makes it before the test starts;
// the test opens it through Wine's drive Z:, which maps the Unix root.
#include <windows.h>

#include <cstdlib>

#include "bridge/tests/standin.h"

namespace bridge_test {
namespace {

HANDLE ToHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::string FifoPath() {
  const char* path = std::getenv("VESTRIX_TEST_FIFO");
  return path != nullptr ? path : "";
}

std::string FifoPathForWindows() {
  std::string path = "Z:" + FifoPath();
  for (char& c : path) {
    c = c == '/' ? '\\' : c;
  }
  return path;
}

void SetEnvironment(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

FifoReader::FifoReader() {
  if (FifoPath().empty()) {
    return;
  }
  const HANDLE handle =
      CreateFileA(FifoPathForWindows().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  handle_ = handle != INVALID_HANDLE_VALUE ? reinterpret_cast<std::intptr_t>(handle) : kClosed;
}

FifoReader::~FifoReader() {
  Close();
}

std::vector<std::uint8_t> FifoReader::Drain() {
  std::vector<std::uint8_t> bytes;
  if (!IsOpen()) {
    return bytes;
  }
  // The tests under Wine never fill the FIFO, so the mark goes in first; each
  // read then waits until there is something to read.
  const HANDLE writer =
      CreateFileA(FifoPathForWindows().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD count = 0;
  const bool marked = writer != INVALID_HANDLE_VALUE &&
                      WriteFile(writer, kDrainMark, sizeof kDrainMark, &count, nullptr) &&
                      count == sizeof kDrainMark;
  if (writer != INVALID_HANDLE_VALUE) {
    CloseHandle(writer);
  }
  while (marked && !TakeMark(&bytes)) {
    std::uint8_t buffer[4096];
    if (!ReadFile(ToHandle(handle_), buffer, sizeof buffer, &count, nullptr) || count == 0) {
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  return bytes;
}

void FifoReader::Close() {
  if (handle_ != kClosed) {
    CloseHandle(ToHandle(handle_));
    handle_ = kClosed;
  }
}

bool FifoReader::WritersGone() {
  return false;
}

bool SigpipeBlockedOrPending() {
  return false;
}

}  // namespace bridge_test
