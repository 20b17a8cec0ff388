// The soak driver: loads the built plug-in as a host does and runs it through
// many whole sessions (Init, SetContrast, CustomChar, SetPosition, Write,
// SetFan, a wait for the icon thread's refresh, Done) against the panel
// emulator, with the real icon thread and the plug-in's real pauses. With
// --reload it loads the plug-in afresh for every session and frees it after
// Done, as a host does that switches displays. After each session it samples
// what the process holds: open files (Windows: handles), threads, loaded
// copies of the vendor library, resident memory and, on Windows, the slots of
// thread-local storage still free. It fails when the process holds more of
// any of them (fewer free slots); its last line sums the run up:
//   soak: N cycles[ reloading the plug-in][ with the bridge], fds A->B, threads A->B,
//         libraries A->B, rss A->B KiB[, free tls slots A->B], late threads L
// (on one line) where A is the baseline each is judged against (see main) and
// B the last sample; under Windows "fds" reads "handles". L counts sessions
// whose icon thread still ran a second after Done had returned: Done gives up
// waiting for it after a few seconds, as on a machine too slow for its bound.
// Such a thread ends by itself; the soak waits for it (up to 30 s) before it
// samples, so that what the thread holds until then is not taken for a leak,
// and a thread that does not end is reported as hanging, not as a leak.
//
//   vestrix_soak [--cycles N] [--reload] [--no-rss] [--plugin PATH] [--vendor-dir DIR]
//                [--bridge DEVICE] [--verbose]
//
// With --bridge the vendor library is the bridge to a real panel (from the
// build's bridge directory unless --vendor-dir names another) writing to
// DEVICE, /dev/null say: the panel is not read back, every packet must reach
// the device (the bridge's own count of failed packets stays 0), and since
// the bridge keeps itself loaded from its first start on, its copy is counted
// from the warm-up sessions' end, like handles and threads.
//
// The panel emulator is the vendor library because it keeps nothing beyond a
// session: natively its state lives in the library and goes when the plug-in
// unloads it, so the process returns to where it was after every Done. On
// Windows the emulator stays loaded from its first load (it pins itself, see
// platform/pin_win32.cpp), and each session starts by putting its panel back
// to the power-on state. (The recording test vendor libraries keep every call
// in a list for the whole process, which grows by design.) The emulator also
// checks every packet against the panel's command set, which lets each cycle
// confirm that the session really worked.
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

// A thread that Done has waited for is gone from the system's count within
// milliseconds (under Wine some tens of them); one still counted a second
// after Done is late: Done gave up on it, or it had not even begun when Done
// let go of it. The soak waits this long at most for a late thread to end.
constexpr std::uint32_t kJoinedThreadGoneMs = 1000;
constexpr std::uint32_t kLateThreadBoundMs = 30000;

struct Options {
  long cycles = 200;
  bool reload = false;
  bool judge_rss = true;
  bool verbose = false;
  std::string plugin = VESTRIX_SOAK_DEFAULT_PLUGIN;
  std::string vendor_directory = VESTRIX_SOAK_DEFAULT_VENDOR_DIR;
  std::string bridge_device;  // with --bridge: the device the bridge writes to
};

int Usage(const char* problem) {
  std::fprintf(stderr, "vestrix_soak: %s\n", problem);
  std::fprintf(stderr,
               "usage: vestrix_soak [--cycles N] [--reload] [--no-rss] [--plugin PATH] "
               "[--vendor-dir DIR] [--bridge DEVICE] [--verbose]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  bool vendor_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "--cycles" && has_value) {
      char* end = nullptr;
      options->cycles = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || options->cycles < 1) {
        return false;
      }
    } else if (argument == "--reload") {
      options->reload = true;
    } else if (argument == "--no-rss") {
      options->judge_rss = false;
    } else if (argument == "--verbose") {
      options->verbose = true;
    } else if (argument == "--plugin" && has_value) {
      options->plugin = argv[++i];
    } else if (argument == "--vendor-dir" && has_value) {
      options->vendor_directory = argv[++i];
      vendor_given = true;
    } else if (argument == "--bridge" && has_value) {
      options->bridge_device = argv[++i];
    } else {
      return false;
    }
  }
  if (!options->bridge_device.empty() && !vendor_given) {
    options->vendor_directory = VESTRIX_SOAK_DEFAULT_BRIDGE_DIR;
  }
  return true;
}

std::string VendorPath(const Options& options) {
  return options.vendor_directory + "/" + platform::kVendorLibraryName;
}

// The plug-in as the host holds it: the library and its entry points.
struct Plugin {
  platform::Library* library = nullptr;
  plugin::EntryPoints api;
};

// Loads the plug-in and resolves its entry points; false, with a message on
// standard error, when that fails.
bool LoadPlugin(const Options& options, Plugin* loaded) {
  loaded->library = platform::OpenLibrary(options.plugin.c_str());
  if (loaded->library == nullptr) {
    std::fprintf(stderr, "vestrix_soak: cannot load the plug-in %s\n", options.plugin.c_str());
    return false;
  }
  if (const char* missing = plugin::ResolveEntryPoints(loaded->library, &loaded->api)) {
    std::fprintf(stderr, "vestrix_soak: the plug-in lacks %s\n", missing);
    platform::CloseLibrary(loaded->library);
    loaded->library = nullptr;
    return false;
  }
  return true;
}

// The emulator's state while the plug-in has it loaded. The reference taken
// here is given back at once, so that Done can unload the library.
bool ReadPanel(const Options& options, VxPanelState* state) {
  platform::Library* emulator = platform::OpenLibrary(VendorPath(options).c_str());
  decltype(&VxPanel_GetState) get_state = nullptr;
  const bool read = emulator != nullptr &&
                    platform::Resolve(emulator, "VxPanel_GetState", &get_state) &&
                    get_state(state, sizeof *state);
  platform::CloseLibrary(emulator);
  return read;
}

// The bridge's count of packets that never reached the device, read through
// a reference of its own; false when the library is not the bridge.
bool BridgeFailures(const Options& options, std::uint64_t* failures) {
  platform::Library* bridge = platform::OpenLibrary(VendorPath(options).c_str());
  std::uint64_t (*failed_writes)() = nullptr;
  const bool read =
      bridge != nullptr && platform::Resolve(bridge, "VxBridge_FailedWrites", &failed_writes);
  if (read) {
    *failures = failed_writes();
  }
  platform::CloseLibrary(bridge);
  return read;
}

// Puts the emulator's panel back to its power-on state, so that a session is
// judged by its own packets also where the emulator has stayed loaded since an
// earlier one (Windows). Natively this loads and unloads it once more.
bool ResetPanel(const Options& options) {
  platform::Library* emulator = platform::OpenLibrary(VendorPath(options).c_str());
  decltype(&VxPanel_Reset) reset = nullptr;
  const bool found = emulator != nullptr && platform::Resolve(emulator, "VxPanel_Reset", &reset);
  if (found) {
    reset();
  }
  platform::CloseLibrary(emulator);
  return found;
}

bool PictureLit(const VxPanelState& state) {
  for (const std::uint8_t column : state.picture) {
    if (column != 0) {
      return true;
    }
  }
  return false;
}

// One whole session; `*threads_open` is the number of the process's threads
// while the plug-in was open, its icon thread among them. Returns an error
// message, or null when every step reached the panel as it should.
const char* RunCycle(const plugin::EntryPoints& api, const Options& options, long cycle,
                     long* threads_open) {
  static const char* const kParameters[] = {"clock", "off", "message"};
  const bool two_lines = cycle % 2 == 0;
  if (options.bridge_device.empty() && !ResetPanel(options)) {
    return "cannot reset the panel emulator";
  }
  bool ok = false;
  if (api.Init(16, two_lines ? 2 : 1, kParameters[cycle % 3], &ok) != nullptr || !ok) {
    return "Init failed";
  }
  platform::ProcessResources open{};
  if (!platform::SampleProcessResources(platform::kVendorLibraryName, &open) ||
      open.library_copies != 1) {
    return "the vendor library is not loaded exactly once while the plug-in is open";
  }
  *threads_open = open.threads;

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

  if (!options.bridge_device.empty()) {
    // The device keeps nothing to read back: one icon refresh's time, then
    // the bridge must have lost nothing.
    platform::SleepMilliseconds(600);
    std::uint64_t failures = 0;
    if (!BridgeFailures(options, &failures)) {
      return "the vendor library is not the bridge";
    }
    api.Done();
    std::uint64_t after_done = 0;
    if (BridgeFailures(options, &after_done) && after_done == 0 && failures == 0) {
      return nullptr;
    }
    static char lost[96];
    std::snprintf(lost, sizeof lost, "the bridge lost %llu packets on their way to the device",
                  static_cast<unsigned long long>(after_done));
    return lost;
  }
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

// After Done: waits until the session's threads have ended, that is until the
// process has fewer threads than while the plug-in was open. Returns how long
// it had to wait, 0 when they had ended already; `*hangs` is set when it
// waited in vain.
std::uint32_t WaitForSessionThreads(long threads_open, bool* hangs) {
  const std::uint32_t start = platform::TickMilliseconds();
  *hangs = false;
  for (;;) {
    platform::ProcessResources now{};
    if (!platform::SampleProcessResources(platform::kVendorLibraryName, &now) ||
        now.threads < threads_open) {
      return platform::TickMilliseconds() - start;
    }
    if (platform::TickMilliseconds() - start > kLateThreadBoundMs) {
      *hangs = true;
      return platform::TickMilliseconds() - start;
    }
    platform::SleepMilliseconds(20);
  }
}

// Whether the process holds what it held after the warm-up sessions (`kept`),
// with as many library copies as before them (`first`), or, for a vendor
// library that keeps itself loaded, as after them.
bool Holds(const platform::ProcessResources& sample, const platform::ProcessResources& kept,
           const platform::ProcessResources& first, bool library_stays) {
  return sample.handles == kept.handles && sample.threads == kept.threads &&
         sample.free_tls_slots == kept.free_tls_slots &&
         sample.library_copies == (library_stays ? kept : first).library_copies;
}

void Print(const char* label, long cycle, const platform::ProcessResources& sample) {
  std::printf("%s %ld: %s %ld, threads %ld, libraries %ld, rss %ld KiB", label, cycle,
              platform::kHandlesName, sample.handles, sample.threads, sample.library_copies,
              sample.resident_kib);
  if (sample.free_tls_slots > 0) {  // Windows only
    std::printf(", free tls slots %ld", sample.free_tls_slots);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    return Usage("bad arguments");
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  platform::SetLibraryDirectory(options.vendor_directory.c_str());
  if (!options.bridge_device.empty()) {
    platform::SetEnvironmentValue("VESTRIX_PANEL_DEVICE", options.bridge_device.c_str());
  }
  Plugin plugin;
  if (!options.reload && !LoadPlugin(options, &plugin)) {
    return 1;
  }

  // The vendor library loaded once before anything is counted: on Windows it
  // stays loaded from then on, natively it is gone again.
  std::uint64_t bridge_failures = 0;
  if (options.bridge_device.empty() ? !ResetPanel(options)
                                    : !BridgeFailures(options, &bridge_failures)) {
    std::fprintf(stderr, "vestrix_soak: cannot load the vendor library %s\n",
                 VendorPath(options).c_str());
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
  // exactly to what the process had after the warm-up sessions, which may set
  // up what lives as long as the module or the process: on Windows the event
  // that wakes the icon thread, under ThreadSanitizer the runtime's own
  // background thread, which the first thread start brings up. With the
  // bridge, whose writer thread MinGW's thread library starts at every
  // session, the 32-bit soak in the virtual machine once counted one handle
  // more after the second session than after the first, and none more after
  // that; another run had the same count from the first session on.
  platform::ProcessResources warm{};
  platform::ProcessResources last = first;
  platform::ProcessResources kept = first;
  int failures = 0;
  long late_threads = 0;
  for (long cycle = 1; cycle <= options.cycles; ++cycle) {
    if (options.reload && !LoadPlugin(options, &plugin)) {
      return 1;
    }
    long threads_open = 0;
    if (const char* error = RunCycle(plugin.api, options, cycle, &threads_open)) {
      std::fprintf(stderr, "vestrix_soak: cycle %ld: %s\n", cycle, error);
      return 1;
    }
    if (options.reload) {
      platform::CloseLibrary(plugin.library);
      plugin = Plugin{};
    }
    // Done waits a few seconds at most for the icon thread; on a machine too
    // slow for that it gives up, and the thread ends by itself a little
    // later, holding until then what any thread holds. That is waited for
    // here, so that it is not taken for a leak; a thread that does not end
    // hangs, which is reported as such.
    bool hangs = false;
    if (const std::uint32_t waited = WaitForSessionThreads(threads_open, &hangs);
        waited > kJoinedThreadGoneMs) {
      ++late_threads;
      if (hangs) {
        std::printf("soak: FAILED: a thread of cycle %ld still runs %u s after Done: it hangs\n",
                    cycle, waited / 1000);
        return 1;
      }
      std::printf(
          "cycle %ld: a thread of the session ended %u ms after Done (a late thread, "
          "waited for before sampling)\n",
          cycle, waited);
    }
    if (options.reload && platform::IsLibraryLoaded(options.plugin.c_str())) {
      if (failures++ == 0) {
        std::printf("soak: FAILED: the plug-in is still loaded after cycle %ld freed it\n", cycle);
      }
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
          cycle <= kWarmUpCycles || Holds(last, kept, first, !options.bridge_device.empty());
      if (settled || attempt == 20) {
        break;
      }
      platform::SleepMilliseconds(50);
    }
    if (options.verbose) {
      Print("after cycle", cycle, last);
    }
    if (cycle <= kWarmUpCycles) {
      kept = last;
      warm = last;
    }
    if (!Holds(last, kept, first, !options.bridge_device.empty())) {
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
      "soak: %ld cycles%s%s, %s %ld->%ld, threads %ld->%ld, libraries %ld->%ld, rss %ld->%ld KiB",
      options.cycles, options.reload ? " reloading the plug-in" : "",
      options.bridge_device.empty() ? "" : " with the bridge", platform::kHandlesName, kept.handles,
      last.handles, kept.threads, last.threads,
      (options.bridge_device.empty() ? first : kept).library_copies, last.library_copies,
      warm.resident_kib, last.resident_kib);
  if (kept.free_tls_slots > 0) {  // Windows only
    std::printf(", free tls slots %ld->%ld", kept.free_tls_slots, last.free_tls_slots);
  }
  std::printf(", late threads %ld\n", late_threads);
  platform::CloseLibrary(plugin.library);
  return failures == 0 ? 0 : 1;
}
