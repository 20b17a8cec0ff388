// The call recorder: a thread-safe list of records, kept for the life of the
// test process.
#include "tests/fakevendor/recorder.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<Record> g_records;
std::atomic<std::uint32_t> g_init_answer{1};

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

void Recorder_SetInitAnswer(std::uint32_t answer) {
  g_init_answer.store(answer);
}

std::uint32_t Recorder_InitAnswer() {
  return g_init_answer.load();
}

}  // extern "C"
