// The soak driver: loads the built plug-in as a host does and runs it through
// many whole sessions (Init, SetContrast, CustomChar, SetPosition, Write,
// SetFan, a wait for the icon thread's refresh, Done) against the panel
// emulator, with the real icon thread and the plug-in's real pauses. After each
// session it samples what the process holds: open files (Windows: handles),
// threads, loaded copies of the vendor library and resident memory. It fails
// when any of them has grown; its last line sums the run up:
//   soak: N cycles, fds A->B, threads A->B, libraries A->B, rss A->B KiB
// where A is the baseline each is judged against (see main) and B the last
// sample; under Windows "fds" reads "handles".
//
//   vestrix_soak [--cycles N] [--no-rss] [--plugin PATH] [--vendor-dir DIR] [--verbose]
//
// The panel emulator is the vendor library because it keeps nothing beyond a
// session: its state lives in the library and goes when the plug-in unloads
// it, so the process returns to where it was after every Done. (Its window,
// which would keep it loaded, is off for the soak: the tests and scripts run
// it headless.) (The recording
// test vendor libraries keep every call in a list for the whole process, which
// grows by design.) The emulator also checks every packet against the panel's
// command set, which lets each cycle confirm that the session really worked.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/panel_api.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"

namespace {

// Resident memory is judged against the sample after the warm-up cycles, with
// this much allowance; see the end of main().
constexpr long kWarmUpCycles = 2;
constexpr long kRssNoiseKib = 64;

// How long a cycle waits for the icon thread's refresh (one comes every 500 ms).
constexpr std::uint32_t kRefreshBoundMs = 5000;

struct Options {
  long cycles = 200;
  bool judge_rss = true;
  bool verbose = false;
  std::string plugin = VESTRIX_SOAK_DEFAULT_PLUGIN;
  std::string vendor_directory = VESTRIX_SOAK_DEFAULT_VENDOR_DIR;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "vestrix_soak: %s\n", problem);
  std::fprintf(stderr,
               "usage: vestrix_soak [--cycles N] [--no-rss] [--plugin PATH] [--vendor-dir DIR] "
               "[--verbose]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "--cycles" && has_value) {
      char* end = nullptr;
      options->cycles = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || options->cycles < 1) {
        return false;
      }
    } else if (argument == "--no-rss") {
      options->judge_rss = false;
    } else if (argument == "--verbose") {
      options->verbose = true;
    } else if (argument == "--plugin" && has_value) {
      options->plugin = argv[++i];
    } else if (argument == "--vendor-dir" && has_value) {
      options->vendor_directory = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

template <typename Function>
bool Resolve(platform::Library* library, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(platform::FindSymbol(library, name));
  return *slot != nullptr;
}

std::string VendorPath(const Options& options) {
  return options.vendor_directory + "/" + platform::kVendorLibraryName;
}

// The emulator's state while the plug-in has it loaded. The reference taken
// here is given back at once, so that Done can unload the library.
bool ReadPanel(const Options& options, VxPanelState* state) {
  platform::Library* emulator = platform::OpenLibrary(VendorPath(options).c_str());
  decltype(&VxPanel_GetState) get_state = nullptr;
  const bool read = emulator != nullptr && Resolve(emulator, "VxPanel_GetState", &get_state) &&
                    get_state(state, sizeof *state);
  platform::CloseLibrary(emulator);
  return read;
}

bool PictureLit(const VxPanelState& state) {
  for (const std::uint8_t column : state.picture) {
    if (column != 0) {
      return true;
    }
  }
  return false;
}

// One whole session. Returns an error message, or null when every step
// reached the panel as it should.
const char* RunCycle(const plugin::EntryPoints& api, const Options& options, long cycle) {
  static const char* const kParameters[] = {"clock", "off", "message"};
  const bool two_lines = cycle % 2 == 0;
  bool ok = false;
  if (api.Init(16, two_lines ? 2 : 1, kParameters[cycle % 3], &ok) != nullptr || !ok) {
    return "Init failed";
  }
  platform::ProcessResources open{};
  if (!platform::SampleProcessResources(platform::kVendorLibraryName, &open) ||
      open.library_copies != 1) {
    return "the vendor library is not loaded exactly once while the plug-in is open";
  }

  api.SetContrast(static_cast<std::uint8_t>(cycle * 37));
  static const std::uint8_t kPattern[8] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F, 0x00};
  api.CustomChar(1, kPattern);
  char text[40];
  std::snprintf(text, sizeof text, "Soak %ld %c", cycle, static_cast<char>(api.CustomCharIndex(1)));
  api.SetPosition(1, 1);
  api.Write(text);
  if (two_lines) {
    api.SetPosition(3, 2);
    api.Write("second line");
  }
  // Segment 0 steadily on, another one blinking: the icon thread shows both.
  api.SetFan(2, 0);
  api.SetFan(3, static_cast<std::uint8_t>(1 + cycle % 54));

  VxPanelState state{};
  const std::uint32_t start = platform::TickMilliseconds();
  for (;;) {
    if (!ReadPanel(options, &state)) {
      return "cannot read the panel emulator's state";
    }
    if ((state.icons & 1u) != 0) {
      break;  // the icon thread's refresh has arrived
    }
    if (platform::TickMilliseconds() - start > kRefreshBoundMs) {
      return "no icon refresh within 5 s";
    }
    platform::SleepMilliseconds(20);
  }
  if (!PictureLit(state)) {
    return "the written text did not reach the panel";
  }
  if (state.unknown_packets != 0) {
    return "the panel received a packet it does not know";
  }
  api.Done();
  return nullptr;
}

void Print(const char* label, long cycle, const platform::ProcessResources& sample) {
  std::printf("%s %ld: %s %ld, threads %ld, libraries %ld, rss %ld KiB\n", label, cycle,
              platform::kHandlesName, sample.handles, sample.threads, sample.library_copies,
              sample.resident_kib);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    return Usage("bad arguments");
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  platform::SetLibraryDirectory(options.vendor_directory.c_str());
  platform::Library* library = platform::OpenLibrary(options.plugin.c_str());
  if (library == nullptr) {
    std::fprintf(stderr, "vestrix_soak: cannot load the plug-in %s\n", options.plugin.c_str());
    return 1;
  }
  plugin::EntryPoints api;
  if (const char* missing = plugin::ResolveEntryPoints(library, &api)) {
    std::fprintf(stderr, "vestrix_soak: the plug-in lacks %s\n", missing);
    return 1;
  }

  platform::ProcessResources first{};
  if (!platform::SampleProcessResources(platform::kVendorLibraryName, &first)) {
    std::fprintf(stderr, "vestrix_soak: cannot sample the process\n");
    return 1;
  }
  Print("before cycle", 1, first);

  // Library copies must come back exactly after every session to what the
  // process had before the first: a session that leaves a library reference
  // behind leaks it for good. Open files (handles) and threads must come back
  // exactly to what the process had after the first session, which may set up
  // what lives as long as the module or the process: on Windows the event
  // that wakes the icon thread, under ThreadSanitizer the runtime's own
  // background thread, which the first thread start brings up.
  platform::ProcessResources warm{};
  platform::ProcessResources last = first;
  platform::ProcessResources kept = first;
  int failures = 0;
  for (long cycle = 1; cycle <= options.cycles; ++cycle) {
    if (const char* error = RunCycle(api, options, cycle)) {
      std::fprintf(stderr, "vestrix_soak: cycle %ld: %s\n", cycle, error);
      return 1;
    }
    // A thread that has just been joined may still be counted by the system
    // for a moment, so a sample that differs is taken again for up to a
    // second before it counts.
    for (int attempt = 0;; ++attempt) {
      if (!platform::SampleProcessResources(platform::kVendorLibraryName, &last)) {
        std::fprintf(stderr, "vestrix_soak: cannot sample the process\n");
        return 1;
      }
      const bool settled =
          cycle == 1 || (last.handles == kept.handles && last.threads == kept.threads &&
                         last.library_copies == first.library_copies);
      if (settled || attempt == 20) {
        break;
      }
      platform::SleepMilliseconds(50);
    }
    if (options.verbose) {
      Print("after cycle", cycle, last);
    }
    if (cycle == 1) {
      kept = last;
    }
    if (cycle <= kWarmUpCycles) {
      warm = last;
    }
    if (last.handles != kept.handles || last.threads != kept.threads ||
        last.library_copies != first.library_copies) {
      if (failures++ == 0) {
        Print("soak: FAILED: the process holds more than it should after cycle", cycle, last);
      }
    }
  }

  // Resident memory: the first sessions touch pages for good (the allocator's
  // arenas, the dynamic linker's caches, the icon thread's cached stack, code
  // and data of the libraries first used), so the baseline is the sample after
  // the warm-up cycles. Two of them: one in each screen mode, and the
  // emulator's 2 MiB packet log, which the C library maps on its own for the
  // first session and, having raised its threshold for such blocks when that
  // one was freed, takes from its heap from the second session on, where it
  // stays for reuse. The kernel counts whole pages, and the allocator keeps a
  // freed page or two for a while, so the last sample may stand up to
  // kRssNoiseKib (16 pages) above the baseline; a steady leak of a page a cycle
  // passes that within 17 cycles, and any larger one sooner.
  if (options.cycles > kWarmUpCycles && last.resident_kib > warm.resident_kib + kRssNoiseKib) {
    if (options.judge_rss) {
      std::printf("soak: FAILED: resident memory grew from %ld to %ld KiB after the warm-up\n",
                  warm.resident_kib, last.resident_kib);
      ++failures;
    } else {
      std::printf("soak: resident memory grew, not judged in this build\n");
    }
  }
  std::printf(
      "soak: %ld cycles, %s %ld->%ld, threads %ld->%ld, libraries %ld->%ld, rss %ld->%ld KiB\n",
      options.cycles, platform::kHandlesName, kept.handles, last.handles, kept.threads,
      last.threads, first.library_copies, last.library_copies, warm.resident_kib,
      last.resident_kib);
  platform::CloseLibrary(library);
  return failures == 0 ? 0 : 1;
}
