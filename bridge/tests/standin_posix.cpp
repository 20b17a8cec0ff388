// The FIFO stand-in natively: made in a directory of its own, read without
// blocking.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "bridge/tests/standin.h"

namespace bridge_test {
namespace {

// The FIFO, made on first use and removed with its directory at exit.
struct Fifo {
  Fifo() {
    char directory[] = "/tmp/vestrix-bridge-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
      return;
    }
    dir = directory;
    if (mkfifo((dir + "/panel").c_str(), 0600) == 0) {
      path = dir + "/panel";
    }
  }
  ~Fifo() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;
  std::string dir;
  std::string path;
};

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

std::string FifoPath() {
  static const Fifo fifo;
  return fifo.path;
}

std::string FifoPathForWindows() {
  return FifoPath();
}

void SetEnvironment(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

FifoReader::FifoReader() {
  const int fd = open(FifoPath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  handle_ = fd >= 0 ? fd : kClosed;
}

FifoReader::~FifoReader() {
  Close();
}

std::vector<std::uint8_t> FifoReader::Drain() {
  std::vector<std::uint8_t> bytes;
  const int writer = IsOpen() ? open(FifoPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (writer < 0) {
    return bytes;
  }
  bool marked = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!(marked && TakeMark(&bytes)) && std::chrono::steady_clock::now() < deadline) {
    // The FIFO may be full: the mark goes in once there is room, and reading
    // goes on meanwhile.
    marked = marked || write(writer, kDrainMark, sizeof kDrainMark) == sizeof kDrainMark;
    std::uint8_t buffer[4096];
    const ssize_t count = read(Fd(handle_), buffer, sizeof buffer);
    if (count > 0) {
      bytes.insert(bytes.end(), buffer, buffer + count);
    } else {
      pollfd reader{Fd(handle_), POLLIN, 0};
      poll(&reader, 1, 10);
    }
  }
  close(writer);
  return bytes;
}

std::vector<std::uint8_t> FifoReader::Read(std::size_t count) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (IsOpen() && bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::uint8_t buffer[4096];
    const ssize_t got = read(Fd(handle_), buffer, std::min(sizeof buffer, count - bytes.size()));
    if (got > 0) {
      bytes.insert(bytes.end(), buffer, buffer + got);
    } else {
      pollfd reader{Fd(handle_), POLLIN, 0};
      poll(&reader, 1, 10);
    }
  }
  return bytes;
}

bool FifoReader::ShrinkToOnePage() {
  return IsOpen() && fcntl(Fd(handle_), F_SETPIPE_SZ, 4096) >= 0;
}

void FifoReader::Close() {
  if (handle_ != kClosed) {
    close(Fd(handle_));
    handle_ = kClosed;
  }
}

bool FifoReader::WritersGone() {
  std::uint8_t byte;
  return IsOpen() && read(Fd(handle_), &byte, 1) == 0;
}

bool SigpipeBlockedOrPending() {
  sigset_t blocked;
  sigset_t pending;
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  sigpending(&pending);
  return sigismember(&blocked, SIGPIPE) == 1 || sigismember(&pending, SIGPIPE) == 1;
}

BrokenStandardError::BrokenStandardError() {
  int ends[2];
  if (pipe(ends) != 0) {
    return;
  }
  close(ends[0]);
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(ends[1], STDERR_FILENO);
  close(ends[1]);
}

BrokenStandardError::~BrokenStandardError() {
  if (saved_ >= 0) {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
}

FullStandardError::FullStandardError() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return;
  }
  read_ = ends[0];
  write_ = ends[1];
  // Filled without waiting, then made to wait again, as a pipe normally does.
  const int flags = fcntl(ends[1], F_GETFL);
  fcntl(ends[1], F_SETFL, flags | O_NONBLOCK);
  const std::uint8_t block[4096] = {};
  while (write(ends[1], block, sizeof block) > 0) {
  }
  while (write(ends[1], block, 1) > 0) {
  }
  full_ = errno == EAGAIN;
  fcntl(ends[1], F_SETFL, flags);
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(ends[1], STDERR_FILENO);
}

void FullStandardError::Release() {
  if (saved_ >= 0) {
    dup2(static_cast<int>(saved_), STDERR_FILENO);
    close(static_cast<int>(saved_));
    saved_ = -1;
  }
  // Closing the reading end fails whatever still waits to write.
  for (std::intptr_t* end : {&read_, &write_}) {
    if (*end >= 0) {
      close(static_cast<int>(*end));
      *end = -1;
    }
  }
}

bool SigpipeAtDefault() {
  struct sigaction action {};
  return sigaction(SIGPIPE, nullptr, &action) == 0 && action.sa_handler == SIG_DFL;
}

}  // namespace bridge_test
