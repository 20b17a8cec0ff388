// Test fixture that loads a fresh copy of the plug-in build for every test, with
// a chosen test vendor library, and closes and unloads it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/plugin_host.h"

namespace testing_support {

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder_Clear();
    Recorder_SetInitAnswer(1);
    SelectVendor("full_stdcall");
    LoadPlugin();
  }

  void TearDown() override {
    if (open_) {
      api_.Done();
      open_ = false;
    }
    UnloadPlugin();
    ForgetVendor();
  }

  void LoadPlugin() {
    plugin_ = platform::OpenLibrary(PluginPath().c_str());
    ASSERT_NE(plugin_, nullptr) << "cannot load " << PluginPath();
    api_ = ResolveEntryPoints(plugin_);
    ASSERT_NE(api_.Init, nullptr);
  }

  void UnloadPlugin() {
    platform::CloseLibrary(plugin_);
    plugin_ = nullptr;
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

  platform::Library* plugin_ = nullptr;
  PluginApi api_;
  bool open_ = false;
};

}  // namespace testing_support
