// The panel's device on POSIX: the character device that the kernel's imon
// driver gives each display (/dev/lcd0 for the first), or a FIFO or terminal
// standing in for it, written with write(2).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "bridge/device.h"

namespace bridge {
namespace {

// The open device; -1 while none is.
int g_fd = -1;

// How long a write waits for a device that takes nothing, such as a FIFO whose
// reader has stopped reading. After one such wait has run out, further writes
// do not wait until one gets through again, so a stuck device costs the host
// one bound, not one per packet.
constexpr std::chrono::milliseconds kWriteBound{500};
bool g_stuck = false;

// SIGPIPE held back for the calling thread while it writes. A write to a FIFO
// whose reader has gone raises SIGPIPE, which by default ends the process; a
// library may not change the process's handling of it, so the signal is blocked
// in this thread only and, when the write raised it, taken back before the old
// mask returns. One that was already pending belongs to someone else and stays.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

  // After a write failed with EPIPE: takes the SIGPIPE it raised.
  void TakeOurs() {
    if (was_pending_) {
      return;
    }
    const timespec now{};
    while (sigtimedwait(&pipe_, nullptr, &now) == -1 && errno == EINTR) {
    }
  }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

// Waits until the device takes data or `deadline` passes.
bool WaitWritable(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd device{g_fd, POLLOUT, 0};
    const int ready = poll(&device, 1, static_cast<int>(left.count()));
    if (ready > 0) {
      return true;  // writable, or an error the next write reports
    }
    if (ready < 0 && errno != EINTR) {
      return false;
    }
  }
}

std::string Reason(int error) {
  return std::strerror(error);
}

}  // namespace

bool OpenDevice(const char* path, std::string* why) {
  CloseDevice();
  // Without O_NONBLOCK, opening a FIFO for writing waits until a reader comes,
  // which would hang the host's start; with it, a FIFO without a reader fails
  // at once with ENXIO. The imon driver's device ignores the flag.
  int fd;
  do {
    fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    struct stat status {};
    const bool fifo = stat(path, &status) == 0 && S_ISFIFO(status.st_mode);
    *why = fifo && error == ENXIO ? "a FIFO that no process reads" : Reason(error);
    return false;
  }
  g_fd = fd;
  g_stuck = false;
  return true;
}

bool DeviceIsOpen() {
  return g_fd >= 0;
}

bool WriteDevice(const std::uint8_t* bytes, std::size_t size, std::string* why) {
  if (g_fd < 0) {
    *why = "no device is open";
    return false;
  }
  SigpipeHeld sigpipe;
  const auto deadline = std::chrono::steady_clock::now() + kWriteBound;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t result = write(g_fd, bytes + written, size - written);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
      continue;
    }
    const int error = result < 0 ? errno : EIO;
    if (error == EINTR) {
      continue;
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
      if (!g_stuck && WaitWritable(deadline)) {
        continue;
      }
      g_stuck = true;
      *why = "the device took nothing for " + std::to_string(kWriteBound.count()) + " ms";
      return false;
    }
    if (error == EPIPE) {
      sigpipe.TakeOurs();
    }
    *why = Reason(error);
    return false;
  }
  g_stuck = false;
  return true;
}

void CloseDevice() {
  if (g_fd >= 0) {
    // Not repeated on EINTR: on Linux the descriptor is closed either way.
    close(g_fd);
    g_fd = -1;
  }
}

void WriteMessage(const std::string& line) {
  const std::string text = line + "\n";
  // Standard error is written directly, in as few writes as it takes, with
  // SIGPIPE held back as for the device.
  SigpipeHeld sigpipe;
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
    } else if (result < 0 && errno == EINTR) {
      continue;
    } else {
      if (result < 0 && errno == EPIPE) {
        sigpipe.TakeOurs();
      }
      return;
    }
  }
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace bridge
