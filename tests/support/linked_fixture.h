// Fixture for unit tests that drive the plug-in code linked into the test
// executable, with its test seams. The plug-in's state lives as long as the
// process, so each test starts from a closed plug-in and closes it again.
#pragma once

#include "platform/platform.h"
#include "platform/test_seams.h"
#include "tests/support/plugin_fixture.h"

namespace testing_support {

class LinkedTest : public EntryPointTest {
 protected:
  void SetUp() override {
    EntryPointTest::SetUp();
    api_ = LinkedEntryPoints();
  }

  void TearDown() override {
    EntryPointTest::TearDown();
    platform::seam::SetLocalTime(nullptr);
    platform::seam::ClearSpeakerConfig();
    platform::seam::SetSpeakerQueryHook(nullptr);
  }
};

}  // namespace testing_support
