// Benchmarks of the plug-in's entry points, on its own code linked in, against
// a vendor library that does nothing (null_vendor.cpp). Pauses are taken out
// through the test seam, so that Init plus Done measures work, not waiting.
// scripts/bench.sh runs them and writes docs/PERFORMANCE.md.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "icons/icons.h"
#include "panel/panel.h"
#include "platform/host.h"
#include "platform/test_seams.h"
#include "plugin/api.h"
#include "plugin/vendor.h"

namespace {

// Set when a benchmark could not run; the program then fails, so that the
// tests' single run of each benchmark catches it.
bool g_failed = false;

void Fail(benchmark::State& state, const char* message) {
  g_failed = true;
  state.SkipWithError(message);
}

// The plug-in open in one screen mode, without its icon thread, so that
// nothing else sends while a benchmark measures; closed again at the end.
class OpenPlugin {
 public:
  OpenPlugin(benchmark::State& state, std::uint8_t height) {
    platform::seam::HoldThreadStarts(true);
    bool ok = false;
    if (const char* message = DISPLAYDLL_Init(16, height, "", &ok); message != nullptr || !ok) {
      Fail(state, message != nullptr ? message : "Init failed");
    }
  }
  ~OpenPlugin() {
    DISPLAYDLL_Done();
    platform::seam::HoldThreadStarts(false);
  }
  OpenPlugin(const OpenPlugin&) = delete;
  OpenPlugin& operator=(const OpenPlugin&) = delete;
};

// The baseline of Write: the bare cost of the 28 vendor calls of its pixel
// transfer, through the same binding and call site.
void BM_28VendorCalls(benchmark::State& state) {
  const OpenPlugin plugin(state, 2);
  const std::uint8_t packet[8] = {0, 0, 0, 0, 0, 0, 0, 0x20};
  for (auto _ : state) {
    for (int call = 0; call < 28; ++call) {
      plugin::VendorSendData(packet);
    }
  }
}
BENCHMARK(BM_28VendorCalls);

// The pixel transfer alone: the picture packed into its 28 packets and sent.
void BM_PixelTransfer(benchmark::State& state) {
  const OpenPlugin plugin(state, 2);
  for (auto _ : state) {
    panel::UpdateDisplay();
  }
}
BENCHMARK(BM_PixelTransfer);

// A whole Write of 16 characters: the text frame, the rasteriser in the
// screen mode's font, and the pixel transfer.
void BM_Write(benchmark::State& state, std::uint8_t height) {
  const OpenPlugin plugin(state, height);
  DISPLAYDLL_SetPosition(1, 1);
  for (auto _ : state) {
    DISPLAYDLL_Write("Vestrix \x96 12:34:5");
  }
}
BENCHMARK_CAPTURE(BM_Write, 16x2_small_font, std::uint8_t{2});
BENCHMARK_CAPTURE(BM_Write, 16x1_large_font, std::uint8_t{1});

// SetFan, switching icon segments on and off in turn.
void BM_SetFan(benchmark::State& state) {
  const OpenPlugin plugin(state, 2);
  std::uint8_t number = 0;
  for (auto _ : state) {
    DISPLAYDLL_SetFan(static_cast<std::uint8_t>(1 + number % 2), number);
    number = static_cast<std::uint8_t>((number + 1) % 55);
  }
}
BENCHMARK(BM_SetFan);

// One refresh cycle of the icon thread, with blinking segments: the masks
// under the icon mutex and the icon packet.
void BM_RefreshCycle(benchmark::State& state) {
  const OpenPlugin plugin(state, 2);
  DISPLAYDLL_SetFan(3, 7);
  DISPLAYDLL_SetFan(3, 30);
  for (auto _ : state) {
    icons::RunRefreshCycle();
  }
}
BENCHMARK(BM_RefreshCycle);

// Init plus Done with the pauses taken out: loading and binding the vendor
// library, the panel reset, the icon packets, releasing the library. With the
// icon thread held back (the thread-start seam), which leaves the plug-in's
// own work; and with the real icon thread, whose start and end add the
// system's thread creation and the wait until the new thread has run, which
// depends on how busy the machine is.
void BM_InitDone(benchmark::State& state, bool real_thread) {
  platform::seam::HoldThreadStarts(!real_thread);
  for (auto _ : state) {
    bool ok = false;
    if (DISPLAYDLL_Init(16, 2, "", &ok) != nullptr || !ok) {
      Fail(state, "Init failed");
      break;
    }
    DISPLAYDLL_Done();
  }
  platform::seam::HoldThreadStarts(false);
}
BENCHMARK_CAPTURE(BM_InitDone, icon_thread_held, false);
BENCHMARK_CAPTURE(BM_InitDone, real_icon_thread, true)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  platform::SetLibraryDirectory(VESTRIX_BENCH_VENDOR_DIR);
  platform::seam::SkipPauses(true);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failed ? 1 : 0;
}
