// A FIFO standing in for the panel's device in the bridge's tests, read by the
// test itself. Natively the tests make the FIFO; a Windows program under Wine
// cannot, so there with_fifo.sh makes it and names it in VESTRIX_TEST_FIFO.
// Implemented in standin_posix.cpp and standin_win32.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace bridge_test {

// The FIFO's Unix path, the value VESTRIX_PANEL_DEVICE takes on both sides;
// empty when there is none (a Windows test run without with_fifo.sh).
std::string FifoPath();

// The same path as a Windows program may also be given it: Z:\... under
// Wine, the Unix path natively.
std::string FifoPathForWindows();

// Sets a variable of the process environment, or removes it for null.
void SetEnvironment(const char* name, const char* value);

// The reading end of the FIFO, open from construction (without waiting for a
// writer) until Close or destruction.
class FifoReader {
 public:
  FifoReader();
  ~FifoReader();
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  bool IsOpen() const { return handle_ != kClosed; }

  // Everything written to the FIFO since it was opened or last drained. The
  // reader cannot tell when writers are done, so it writes a mark of its own
  // behind their bytes and reads up to it; the mark is not returned.
  std::vector<std::uint8_t> Drain();

  // Natively: reads until `count` bytes have come, or 20 s have passed.
  std::vector<std::uint8_t> Read(std::size_t count);

  // Natively: makes the FIFO hold no more than one page (4096 bytes), so that
  // a writer fills it soon.
  bool ShrinkToOnePage();

  // The reader goes away.
  void Close();

  // Natively: true when no writer holds the FIFO open any more, as a read
  // that finds its end shows. Call after Drain. (Under Wine every handle on a
  // FIFO also reads from it, so the FIFO has no end to find there.)
  bool WritersGone();

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

// The mark Drain writes: command byte 0xFF, which the panel does not know.
inline constexpr std::uint8_t kDrainMark[8] = {'d', 'r', 'a', 'i', 'n', 0, 0, 0xFF};

// True when `bytes` ends with the mark; then it is removed.
inline bool TakeMark(std::vector<std::uint8_t>* bytes) {
  constexpr auto kSize = static_cast<std::ptrdiff_t>(sizeof kDrainMark);
  if (std::ssize(*bytes) < kSize ||
      !std::equal(std::begin(kDrainMark), std::end(kDrainMark), bytes->end() - kSize)) {
    return false;
  }
  bytes->resize(bytes->size() - sizeof kDrainMark);
  return true;
}

// While it lives, the process's standard error is a pipe that is full and
// that nobody drains, so that a write to it would wait; then standard error
// is restored.
class FullStandardError {
 public:
  FullStandardError();
  ~FullStandardError() { Release(); }
  FullStandardError(const FullStandardError&) = delete;
  FullStandardError& operator=(const FullStandardError&) = delete;

  bool IsFull() const { return full_; }

  // Restores standard error and lets a writer that waits for the pipe go on.
  void Release();

 private:
  std::intptr_t read_ = -1;
  std::intptr_t write_ = -1;
  std::intptr_t saved_ = -1;
  bool full_ = false;
};

// Natively: true when the calling thread has SIGPIPE blocked or pending,
// which the bridge must leave as it found them.
bool SigpipeBlockedOrPending();

#if !defined(_WIN32)
// Natively: while it lives, the process's standard error is a pipe whose
// reader has gone, so that every write to it raises SIGPIPE, which ends the
// process unless the writer holds it back; then standard error is restored.
class BrokenStandardError {
 public:
  BrokenStandardError();
  ~BrokenStandardError();
  BrokenStandardError(const BrokenStandardError&) = delete;
  BrokenStandardError& operator=(const BrokenStandardError&) = delete;

 private:
  int saved_ = -1;
};

// Natively: true when the process handles SIGPIPE as by default (it ends it).
bool SigpipeAtDefault();
#endif

}  // namespace bridge_test
