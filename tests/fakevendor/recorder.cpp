// The call recorder: a thread-safe list of records, kept for the life of the
// test process.
#include "tests/fakevendor/recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<Record> g_records;
std::atomic<std::uint32_t> g_init_answer{1};
// Init calls counted since Recorder_FailInitCall, and the one that fails.
std::atomic<std::uint32_t> g_init_calls{0};
std::atomic<std::uint32_t> g_failing_init_call{0};

std::atomic<std::uint32_t> g_send_delay_ms{0};
std::atomic<std::size_t> g_sends_now{0};
std::atomic<std::size_t> g_most_sends_at_once{0};

std::mutex g_stall_mutex;
std::condition_variable g_stall_released;
bool g_stall_armed = false;
bool g_stall_every = false;
bool g_stall_held = false;

std::atomic<void (*)()> g_init_hook{nullptr};

}  // namespace

extern "C" {

std::uint32_t Recorder_CurrentThread() {
  return static_cast<std::uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

void Recorder_Add(const Record* record) {
  Record copy = *record;
  copy.thread = Recorder_CurrentThread();
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_records.push_back(copy);
}

std::size_t Recorder_Count() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  return g_records.size();
}

bool Recorder_Get(std::size_t index, Record* record) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  if (index >= g_records.size()) {
    return false;
  }
  *record = g_records[index];
  return true;
}

void Recorder_Clear() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_records.clear();
  g_most_sends_at_once.store(0);
}

void Recorder_Reserve(std::size_t count) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_records.reserve(count);
}

void Recorder_StallNextSend() {
  const std::lock_guard<std::mutex> lock(g_stall_mutex);
  g_stall_armed = true;
}

bool Recorder_Stalled() {
  const std::lock_guard<std::mutex> lock(g_stall_mutex);
  return g_stall_held;
}

void Recorder_ReleaseStall() {
  const std::lock_guard<std::mutex> lock(g_stall_mutex);
  g_stall_armed = false;
  g_stall_every = false;
  g_stall_held = false;
  g_stall_released.notify_all();
}

void Recorder_StallEverySend() {
  const std::lock_guard<std::mutex> lock(g_stall_mutex);
  g_stall_every = true;
}

void Recorder_SetSendDelay(std::uint32_t milliseconds) {
  g_send_delay_ms.store(milliseconds);
}

std::size_t Recorder_MostSendsAtOnce() {
  return g_most_sends_at_once.load();
}

void Recorder_SendBegins() {
  const std::size_t now = g_sends_now.fetch_add(1) + 1;
  std::size_t most = g_most_sends_at_once.load();
  while (most < now && !g_most_sends_at_once.compare_exchange_weak(most, now)) {
  }
  {
    std::unique_lock<std::mutex> lock(g_stall_mutex);
    if (g_stall_armed || g_stall_every) {
      g_stall_armed = false;
      g_stall_held = true;
      g_stall_released.wait(lock, [] { return !g_stall_held; });
    }
  }
  if (const std::uint32_t delay = g_send_delay_ms.load(); delay != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  }
}

void Recorder_SendEnds() {
  g_sends_now.fetch_sub(1);
}

void Recorder_SetInitAnswer(std::uint32_t answer) {
  g_init_answer.store(answer);
}

void Recorder_FailInitCall(std::uint32_t call) {
  g_init_calls.store(0);
  g_failing_init_call.store(call);
}

void Recorder_SetInitHook(void (*hook)()) {
  g_init_hook.store(hook);
}

std::uint32_t Recorder_AnswerInit() {
  if (void (*hook)() = g_init_hook.load(); hook != nullptr) {
    hook();
  }
  const std::uint32_t call = g_init_calls.fetch_add(1) + 1;
  return call == g_failing_init_call.load() ? 0 : g_init_answer.load();
}

}  // extern "C"
