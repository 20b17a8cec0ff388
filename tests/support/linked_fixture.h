// Fixture for unit tests that drive the plug-in code linked into the test
// executable, with its test seams. The plug-in's state lives as long as the
// process, so each test starts from a closed plug-in and closes it again.
#pragma once

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/plugin_host.h"

namespace testing_support {

class LinkedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder_Clear();
    Recorder_SetInitAnswer(1);
    SelectVendor("full_stdcall");
  }

  void TearDown() override {
    if (open_) {
      api_.Done();
      open_ = false;
    }
    platform::seam::SetLocalTime(nullptr);
    platform::seam::ClearSpeakerConfig();
    ForgetVendor();
  }

  void Open(const char* parameters = "", std::uint8_t width = 16, std::uint8_t height = 2) {
    bool ok = false;
    const char* message = api_.Init(width, height, parameters, &ok);
    ASSERT_EQ(message, nullptr) << message;
    ASSERT_TRUE(ok);
    open_ = true;
  }

  void Close() {
    api_.Done();
    open_ = false;
  }

  PluginApi api_ = LinkedEntryPoints();
  bool open_ = false;
};

}  // namespace testing_support
