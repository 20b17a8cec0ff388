// Test fixtures that drive the plug-in through its entry points with a chosen
// test vendor library: PluginTest loads a fresh copy of the built plug-in for
// every test, as a host loads it; LinkedTest (linked_fixture.h) uses the code
// linked into the test executable.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/plugin_host.h"

namespace testing_support {

// How long a test waits (platform::WaitUntil) for what another thread brings
// about in its own time before it fails.
inline constexpr std::uint32_t kWaitMs = 5000;

// What both fixtures share: the vendor library, and a plug-in that each test
// may open and that is closed again at its end.
class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder_Clear();
    Recorder_SetInitAnswer(1);
    Recorder_FailInitCall(0);
    Recorder_SetSendDelay(0);
    Recorder_SetInitHook(nullptr);
    SelectVendor("full_stdcall");
  }

  void TearDown() override {
    CloseIfOpen();
    ForgetVendor();
  }

  // Starts the plug-in and expects success; the fixture closes it at the end.
  void Open(const char* parameters = "", std::uint8_t width = 16, std::uint8_t height = 2) {
    bool ok = false;
    const char* message = api_.Init(width, height, parameters, &ok);
    ASSERT_EQ(message, nullptr) << message;
    ASSERT_TRUE(ok);
    open_ = true;
  }

  // Calls Init as the host would; a success is closed by the fixture.
  const char* Init(std::uint8_t width, std::uint8_t height, const char* parameters, bool* ok) {
    const char* message = api_.Init(width, height, parameters, ok);
    open_ = open_ || message == nullptr;
    return message;
  }

  // Calls Done and returns how long it took.
  std::chrono::milliseconds Close() {
    const auto start = std::chrono::steady_clock::now();
    api_.Done();
    open_ = false;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }

  void CloseIfOpen() {
    if (open_) {
      Close();
    }
  }

  PluginApi api_;
  bool open_ = false;
};

class PluginTest : public EntryPointTest {
 protected:
  void SetUp() override {
    EntryPointTest::SetUp();
    LoadPlugin();
  }

  void TearDown() override {
    CloseIfOpen();
    UnloadPlugin();
    EntryPointTest::TearDown();
  }

  void LoadPlugin() {
    plugin_ = platform::OpenLibrary(PluginPath().c_str());
    ASSERT_NE(plugin_, nullptr) << "cannot load " << PluginPath();
    api_ = ResolveEntryPoints(plugin_);
    ASSERT_NE(api_.Init, nullptr);
  }

  // Drops the fixture's reference to the plug-in. Its icon thread may hold one
  // a little longer, until it has ended; with `wait`, the next load is made
  // sure to start the module afresh.
  void UnloadPlugin(bool wait = true) {
    platform::CloseLibrary(plugin_);
    plugin_ = nullptr;
    if (wait) {
      platform::WaitUntil([] { return !platform::IsLibraryLoaded(PluginPath().c_str()); }, kWaitMs);
    }
  }

  platform::Library* plugin_ = nullptr;
};

}  // namespace testing_support
