// The FIFO stand-in under Wine: with_fifo.sh makes it before the test starts;
// the test opens it through Wine's drive Z:, which maps the Unix root.
#include <windows.h>

#include <cstdlib>
#include <vector>

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

std::vector<std::uint8_t> FifoReader::Read(std::size_t /*count*/) {
  return {};
}

bool FifoReader::ShrinkToOnePage() {
  return false;
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

FullStandardError::FullStandardError() {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  constexpr DWORD kSize = 4096;
  if (!CreatePipe(&read_end, &write_end, nullptr, kSize)) {
    return;
  }
  read_ = reinterpret_cast<std::intptr_t>(read_end);
  write_ = reinterpret_cast<std::intptr_t>(write_end);
  // One write of the pipe's size fills it; the next would wait.
  const std::vector<char> block(kSize, 0);
  DWORD written = 0;
  full_ = WriteFile(write_end, block.data(), kSize, &written, nullptr) && written == kSize;
  saved_ = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_ERROR_HANDLE));
  SetStdHandle(STD_ERROR_HANDLE, write_end);
}

void FullStandardError::Release() {
  if (saved_ != -1) {
    SetStdHandle(STD_ERROR_HANDLE, ToHandle(saved_));
    saved_ = -1;
  }
  // Closing the reading end fails whatever still waits to write; the writing
  // end goes a moment later, once such a write has given up on it.
  if (read_ != -1) {
    CloseHandle(ToHandle(read_));
    read_ = -1;
    Sleep(200);
  }
  if (write_ != -1) {
    CloseHandle(ToHandle(write_));
    write_ = -1;
  }
}

bool SigpipeBlockedOrPending() {
  return false;
}

}  // namespace bridge_test
