// POSIX implementation of the host-side services: the library directory as an
// environment variable that the platform layer's OpenLibrary consults,
// dropping libraries through dlopen's reference counts, and the process's
// resources as Linux's /proc shows them.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/host.h"
#include "platform/platform.h"

namespace platform {
namespace {

// Entries of /proc/self/fd, less the one that reading the directory opens.
long CountOpenFiles() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) {
    return -1;
  }
  long count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(directory);
  return count - 1;
}

// The number after `key` (such as "Threads:") in /proc/self/status.
long StatusValue(const char* key) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return -1;
  }
  long value = -1;
  char line[256];
  const std::size_t length = std::strlen(key);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, key, length) == 0) {
      value = std::strtol(line + length, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

// Distinct files (device and inode) mapped under the plain name `name`; each
// loaded copy of a library maps its file several times, once per segment. A
// file replaced on disk while loaded shows as "NAME (deleted)" and still counts.
long CountMappedCopies(const char* name) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) {
    return -1;
  }
  std::set<std::string> files;
  const std::size_t length = std::strlen(name);
  char line[4096];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    // address permissions offset device inode path
    char device[32];
    unsigned long inode = 0;
    int path_at = 0;
    if (std::sscanf(line, "%*s %*s %*s %31s %lu %n", device, &inode, &path_at) < 2 || inode == 0) {
      continue;
    }
    const char* path = line + path_at;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    if (std::strncmp(base, name, length) == 0 &&
        (base[length] == '\n' || base[length] == '\0' || base[length] == ' ')) {
      files.insert(std::string(device) + " " + std::to_string(inode));
    }
  }
  std::fclose(maps);
  return static_cast<long>(files.size());
}

}  // namespace

const char kHandlesName[] = "fds";

bool SampleProcessResources(const char* library_name, ProcessResources* sample) {
  // Open files first, while no file of the sampling itself is open.
  sample->handles = CountOpenFiles();
  sample->threads = StatusValue("Threads:");
  sample->library_copies = CountMappedCopies(library_name);
  sample->resident_kib = StatusValue("VmRSS:");
  sample->free_tls_slots = 0;
  return sample->handles >= 0 && sample->threads >= 0 && sample->library_copies >= 0 &&
         sample->resident_kib >= 0;
}

void SetLibraryDirectory(const char* directory) {
  if (directory == nullptr) {
    unsetenv(kLibraryDirVariable);
  } else {
    setenv(kLibraryDirVariable, directory, 1);
  }
}

void SetEnvironmentValue(const char* name, const char* value) {
  setenv(name, value, 1);
}

void DescribeLoadFailure(char* text, std::size_t size) {
  if (size == 0) {
    return;
  }
  const char* reason = dlerror();
  std::snprintf(text, size, "%s", reason != nullptr ? reason : "");
}

bool IsLibraryLoaded(const char* name) {
  void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
}

bool UnloadLibraryCompletely(const char* name) {
  // Each dlclose drops one reference; stop when the object is gone. The bound
  // guards against an object that cannot be unloaded at all.
  for (int attempt = 0; attempt < 64; ++attempt) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
      return true;
    }
    dlclose(handle);  // the reference taken just now
    dlclose(handle);  // one that was left behind
  }
  return !IsLibraryLoaded(name);
}

bool PrepareTerminalOutput() {
  // A POSIX terminal takes UTF-8 and ANSI sequences as they are.
  return isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
    return 0;
  }
  return size.ws_col;
}

}  // namespace platform
