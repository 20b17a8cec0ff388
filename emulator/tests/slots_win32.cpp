// The emulator and the slots of thread-local storage of its host's process.
// Windows only: there any thread may free a slot, which empties it in every
// thread, and TlsAlloc then hands the same slot to its next owner; natively
// the emulator never touches the C library's keys.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <thread>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// A probe thread owns many slots: it frees one after the other and takes a
// slot again for each, going round them all at a pace that changes from round
// to round, while this thread sets a value in each of the probe's slots and
// loads and frees the emulator. So now and then a slot of the probe is
// emptied and taken again while the emulator is being freed. The probe must
// keep its slots throughout: a slot freed by somebody else may be handed out
// twice by TlsAlloc.
TEST(EmulatorSlots, AnotherThreadKeepsItsSlotsWhileTheEmulatorIsFreed) {
  constexpr std::size_t kSlots = 512;
  constexpr int kRounds = 2000;
  std::array<std::atomic<DWORD>, kSlots> slots;
  for (std::atomic<DWORD>& slot : slots) {
    slot.store(TlsAlloc());
  }
  // The pause between two of the probe's frees. Each round sets it from how
  // long the last FreeLibrary took, so that the probe goes round its slots in
  // two FreeLibrary times down to 1/128 of one: where in FreeLibrary the
  // emulator looks at the slots is not known here.
  std::atomic<std::int64_t> pause_ns{0};
  std::atomic<bool> stop{false};
  std::atomic<int> lost{0};
  // The probe's own value in each of its slots: freeing a slot empties it in
  // every thread, so a slot of the probe without it has been freed by another.
  int mine = 0;
  std::thread probe([&] {
    for (std::atomic<DWORD>& slot : slots) {
      TlsSetValue(slot.load(), &mine);
    }
    for (std::size_t i = 0; !stop.load() && lost.load() == 0; i = (i + 1) % kSlots) {
      if (TlsGetValue(slots[i].load()) != &mine || TlsFree(slots[i].load()) == 0) {
        lost.fetch_add(1);
      }
      slots[i].store(TlsAlloc());
      TlsSetValue(slots[i].load(), &mine);
      for (const auto until = Clock::now() + std::chrono::nanoseconds(pause_ns.load());
           Clock::now() < until;) {
      }
    }
  });
  int marker = 0;
  for (int round = 0; round < kRounds && lost.load() == 0; ++round) {
    platform::Library* library = platform::OpenLibrary(VESTRIX_TEST_EMULATOR_PATH);
    EXPECT_NE(library, nullptr);
    for (const std::atomic<DWORD>& slot : slots) {
      TlsSetValue(slot.load(), &marker);
    }
    const auto start = Clock::now();
    platform::CloseLibrary(library);
    const std::int64_t free_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    pause_ns.store((2 * free_ns >> (round % 8)) / std::int64_t{kSlots});
  }
  stop.store(true);
  probe.join();
  EXPECT_EQ(lost.load(), 0) << "a slot of the probe was freed by somebody else";
  std::set<DWORD> held;
  std::size_t not_its_own = 0;
  for (const std::atomic<DWORD>& slot : slots) {
    held.insert(slot.load());
    if (TlsFree(slot.load()) == 0) {
      ++not_its_own;
    }
  }
  EXPECT_EQ(not_its_own, 0u) << "slots the probe held at the end that were not its own";
  EXPECT_EQ(held.size(), kSlots) << "the probe was handed one slot twice";
}

}  // namespace
