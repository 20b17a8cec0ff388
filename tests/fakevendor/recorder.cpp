// The call recorder: a thread-safe list of records, kept for the life of the
// test process.
#include "tests/fakevendor/recorder.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<Record> g_records;
std::atomic<std::uint32_t> g_init_answer{1};

std::mutex g_stall_mutex;
std::condition_variable g_stall_released;
bool g_stall_armed = false;
bool g_stall_held = false;

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
  g_stall_held = false;
  g_stall_released.notify_all();
}

void Recorder_StallPoint() {
  std::unique_lock<std::mutex> lock(g_stall_mutex);
  if (!g_stall_armed) {
    return;
  }
  g_stall_armed = false;
  g_stall_held = true;
  g_stall_released.wait(lock, [] { return !g_stall_held; });
}

void Recorder_SetInitAnswer(std::uint32_t answer) {
  g_init_answer.store(answer);
}

std::uint32_t Recorder_InitAnswer() {
  return g_init_answer.load();
}

}  // extern "C"
