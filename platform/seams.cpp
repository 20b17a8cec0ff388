// Test seams of the platform layer: replacements for the clock, the thread
// start, the pauses, the vendor library's loading and the speaker query, which
// tests install to make the plug-in deterministic.
#include "platform/seams.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

// Written by a test before it drives the plug-in, read by either thread; the
// atomics keep those reads well defined.
std::atomic<bool> g_has_time{false};
LocalTime g_time{};
std::atomic<bool> g_fail_thread_start{false};
std::atomic<bool> g_hold_thread_starts{false};
std::atomic<bool> g_skip_pauses{false};
std::atomic<const seam::LibraryTable*> g_library_table{nullptr};
std::atomic<int> g_speaker_mode{0};
std::atomic<std::uint32_t> g_speaker_value{0};
std::atomic<void (*)()> g_speaker_query_hook{nullptr};
#if defined(_WIN32)
std::atomic<seam::SoundCreateFunction> g_sound_create{nullptr};
std::atomic<bool> g_old_loader{false};
char g_program_directory[260] = {};
std::atomic<bool> g_has_program_directory{false};
#endif

}  // namespace

namespace seam {

void SetLocalTime(const LocalTime* time) {
  g_has_time.store(false);
  if (time != nullptr) {
    g_time = *time;
    g_has_time.store(true);
  }
}

void FailNextThreadStart() {
  g_fail_thread_start.store(true);
}

void HoldThreadStarts(bool held) {
  g_hold_thread_starts.store(held);
}

void SkipPauses(bool skip) {
  g_skip_pauses.store(skip);
}

void SetLibraryTable(const LibraryTable* table) {
  g_library_table.store(table);
}

void SetSpeakerConfig(bool readable, std::uint32_t value) {
  g_speaker_value.store(value);
  g_speaker_mode.store(readable ? 1 : 2);
}

void ClearSpeakerConfig() {
  g_speaker_mode.store(0);
}

void SetSpeakerQueryHook(void (*hook)()) {
  g_speaker_query_hook.store(hook);
}

#if defined(_WIN32)
void SetSoundCreate(SoundCreateFunction create) {
  g_sound_create.store(create);
}

void PretendOldLoader(bool old) {
  g_old_loader.store(old);
}

void SetProgramDirectory(const char* directory) {
  g_has_program_directory.store(false);
  if (directory != nullptr) {
    std::snprintf(g_program_directory, sizeof g_program_directory, "%s", directory);
    g_has_program_directory.store(true);
  }
}
#endif

}  // namespace seam

namespace seam_state {

bool LocalTime(platform::LocalTime* time) {
  if (!g_has_time.load()) {
    return false;
  }
  *time = g_time;
  return true;
}

bool TakeThreadStartFailure() {
  return g_fail_thread_start.exchange(false);
}

bool ThreadStartsHeld() {
  return g_hold_thread_starts.load();
}

bool PausesSkipped() {
  return g_skip_pauses.load();
}

bool TableOpen(const char* name, Library** result) {
  const seam::LibraryTable* table = g_library_table.load();
  if (table == nullptr || name == nullptr || std::strcmp(name, table->name) != 0) {
    return false;
  }
  *result = table->open() ? table->handle : nullptr;
  return true;
}

bool TableFind(Library* library, const char* symbol, Symbol* result) {
  const seam::LibraryTable* table = g_library_table.load();
  if (table == nullptr || library == nullptr || library != table->handle) {
    return false;
  }
  *result = symbol != nullptr ? table->find(symbol) : nullptr;
  return true;
}

bool TableClose(Library* library) {
  const seam::LibraryTable* table = g_library_table.load();
  if (table == nullptr || library == nullptr || library != table->handle) {
    return false;
  }
  table->close();
  return true;
}

int SpeakerConfig(std::uint32_t* value) {
  const int mode = g_speaker_mode.load();
  if (mode == 1) {
    *value = g_speaker_value.load();
  }
  return mode;
}

void SpeakerQueryBegins() {
  if (void (*hook)() = g_speaker_query_hook.load(); hook != nullptr) {
    hook();
  }
}

#if defined(_WIN32)
seam::SoundCreateFunction SoundCreate() {
  return g_sound_create.load();
}

bool OldLoader() {
  return g_old_loader.load();
}

const char* ProgramDirectory() {
  return g_has_program_directory.load() ? g_program_directory : nullptr;
}
#endif

}  // namespace seam_state
}  // namespace platform
