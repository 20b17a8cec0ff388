// The panel's device on POSIX: the character device that the kernel's imon
// driver gives each display (/dev/lcd0 for the first), or a FIFO or terminal
// standing in for it, written with write(2).
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bridge/device.h"

namespace bridge {
namespace {

// How often a write to a device that takes nothing asks whether to go on.
constexpr int kWaitSliceMs = 100;

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

int Descriptor(const Device& device) {
  return static_cast<int>(device.handle);
}

// Whether a failed write means that the device has gone: the imon driver
// answers ENODEV or ESHUTDOWN once its panel is unplugged, and a FIFO whose
// reader has gone needs opening anew to find the next reader. A stalled
// transfer (EPIPE from the driver) or one the panel did not answer in time
// (ETIMEDOUT) leaves the device as it was.
bool IsGone(const Device& device, int error) {
  if (error == ENODEV || error == ESHUTDOWN || error == ENXIO) {
    return true;
  }
  struct stat status {};
  return error == EPIPE && fstat(Descriptor(device), &status) == 0 && S_ISFIFO(status.st_mode);
}

}  // namespace

Device OpenDevice(const std::string& path, std::string* why) {
  // Without O_NONBLOCK, opening a FIFO for writing waits until a reader comes,
  // which would hang the host's start; with it, a FIFO without a reader fails
  // at once with ENXIO. The imon driver's device ignores the flag.
  Device device;
  device.path = path;
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    struct stat status {};
    const bool fifo = stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
    *why = fifo && error == ENXIO ? "a FIFO that no process reads" : std::strerror(error);
    return device;
  }
  device.handle = fd;
  return device;
}

Written WriteDevice(Device* device, const std::uint8_t* bytes, std::size_t size,
                    const std::function<bool()>& keep_waiting, std::string* why) {
  SigpipeHeld sigpipe;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t result = write(Descriptor(*device), bytes + written, size - written);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
      continue;
    }
    const int error = result < 0 ? errno : EIO;
    if (error == EINTR) {
      continue;
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
      // The device takes nothing now (a full FIFO): wait for room, as long as
      // the bridge still wants this packet written.
      pollfd room{Descriptor(*device), POLLOUT, 0};
      if (keep_waiting()) {
        poll(&room, 1, kWaitSliceMs);
        continue;
      }
      *why = "the device took nothing";
      return Written::kFailed;
    }
    if (error == EPIPE) {
      sigpipe.TakeOurs();
    }
    *why = std::strerror(error);
    return IsGone(*device, error) ? Written::kGone : Written::kFailed;
  }
  return Written::kWhole;
}

void CloseDevice(Device* device) {
  if (device->IsOpen()) {
    // Not repeated on EINTR: on Linux the descriptor is closed either way.
    close(Descriptor(*device));
    device->handle = Device::kClosed;
  }
}

void WriteMessage(const std::string& line) {
  // One write of at most PIPE_BUF bytes: a pipe that poll finds writable has
  // room for all of it, so the write does not wait (unless another thread of
  // the host fills the pipe in between); one that is full is not written to.
  const std::string text = line.substr(0, PIPE_BUF - 1) + "\n";
  pollfd error_output{STDERR_FILENO, POLLOUT, 0};
  int ready;
  do {
    ready = poll(&error_output, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1 || (error_output.revents & POLLOUT) == 0) {
    return;
  }
  SigpipeHeld sigpipe;
  ssize_t result;
  do {
    result = write(STDERR_FILENO, text.data(), text.size());
  } while (result < 0 && errno == EINTR);
  if (result < 0 && errno == EPIPE) {
    sigpipe.TakeOurs();
  }
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void KeepLoaded() {
  // A reference that is never given back, to the library that holds this
  // function, marked so that the dynamic linker never unloads it.
  static const bool kKept = [] {
    Dl_info library{};
    return dladdr(reinterpret_cast<void*>(&KeepLoaded), &library) != 0 &&
           library.dli_fname != nullptr &&
           dlopen(library.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
  }();
  (void)kKept;
}

}  // namespace bridge
