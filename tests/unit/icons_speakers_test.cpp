// Speaker-layout icons: the table from DirectSound's speaker configuration to
// the segments it lights, the query that reads it, and (on Windows) how the
// query treats the DirectSound object it creates.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "icons/icons.h"
#include "icons/masks.h"
#include "icons/speakers.h"
#include "platform/platform.h"
#include "platform/test_seams.h"

namespace testing_support {
namespace {

TEST(SpeakerMask, FollowsTheLayoutInTheLowSixteenBits) {
  struct Case {
    std::uint32_t config;
    std::uint64_t mask;
  };
  const Case cases[] = {
      {0, 0x0200},           // direct output
      {1, 0x4001},           // headphones
      {2, 0x8000},           // mono
      {3, 0x6801},           // quad
      {4, 0x4001},           // stereo
      {5, 0xE801},           // surround
      {6, 0xF801},           // 5.1
      {7, 0xFD01},           // 7.1
      {8, 0xFD01},           // 7.1 surround
      {9, 0xF801},           // 5.1 with side speakers: shown as 5.1
      {10, 0},               // no layout of its own
      {0xFF, 0},             //
      {0x00140004, 0x4001},  // stereo with a wide geometry in bits 16..23
      {0x00050006, 0xF801},  // 5.1 with a geometry
      {0xFFFF0007, 0xFD01},  // bits 16..31 never count
      {0x0104, 0},           // bits 8..15 are part of the value compared
      {0x8004, 0},           //
  };
  for (const Case& c : cases) {
    EXPECT_EQ(icons::SpeakerMaskFor(c.config), c.mask) << std::hex << "config 0x" << c.config;
  }
}

class SoundConfig : public ::testing::Test {
 protected:
  void TearDown() override { platform::seam::ClearSpeakerConfig(); }
};

TEST_F(SoundConfig, ReadsTheLayoutAndChangesNoIconMask) {
  const std::uint64_t status = 0x0100123456789ABCull;
  const std::uint64_t flash = 0x0000000000F0F0F0ull;
  const std::uint64_t speakers = 0x8000;
  icons::ICON_STATUS = status;
  icons::ICON_FLASH = flash;
  icons::ICON_SPEAKERS = speakers;

  platform::seam::SetSpeakerConfig(true, 0x00140004);
  EXPECT_EQ(icons::GetSoundConfig(), 0x4001u);
  platform::seam::SetSpeakerConfig(true, 0x0104);
  EXPECT_EQ(icons::GetSoundConfig(), 0u);
  platform::seam::SetSpeakerConfig(false, 4);  // the value is not to be trusted
  EXPECT_EQ(icons::GetSoundConfig(), 0u);

  EXPECT_EQ(icons::ICON_STATUS, status);
  EXPECT_EQ(icons::ICON_FLASH, flash);
  EXPECT_EQ(icons::ICON_SPEAKERS, speakers);
  icons::ICON_STATUS = icons::kIconCommand;
  icons::ICON_FLASH = 0;
  icons::ICON_SPEAKERS = 0;
}

#if defined(_WIN32)
// Windows only: these cases check the DirectSound object handling of the
// Windows speaker query (which methods it calls, that it releases the object
// exactly once, and never one that was not created). The POSIX build has no
// DirectSound and no object to handle; its query is only a test answer.

// A stand-in for a DirectSound object, laid out as COM lays out an object: the
// method table first. Only the two methods the query may call are filled in;
// calling any other slot crashes the test.
struct FakeSound;
using Unused = void (*)();
using ReleaseMethod = std::uint32_t(__stdcall*)(FakeSound*);
using GetSpeakerConfigMethod = std::int32_t(__stdcall*)(FakeSound*, std::uint32_t*);

struct SoundMethods {
  Unused query_interface = nullptr;                     // slot 0
  Unused add_ref = nullptr;                             // slot 1
  ReleaseMethod release = nullptr;                      // slot 2
  Unused create_sound_buffer = nullptr;                 // slot 3
  Unused get_caps = nullptr;                            // slot 4
  Unused duplicate_sound_buffer = nullptr;              // slot 5
  Unused set_cooperative_level = nullptr;               // slot 6
  Unused compact = nullptr;                             // slot 7
  GetSpeakerConfigMethod get_speaker_config = nullptr;  // slot 8
  Unused set_speaker_config = nullptr;                  // slot 9
  Unused initialize = nullptr;                          // slot 10
  Unused verify_certification = nullptr;                // slot 11
};
static_assert(offsetof(SoundMethods, release) == 2 * sizeof(Unused));
static_assert(offsetof(SoundMethods, get_speaker_config) == 8 * sizeof(Unused));

struct FakeSound {
  const SoundMethods* methods;
  std::int32_t create_answer;
  std::int32_t query_answer;
  std::uint32_t config;  // written by GetSpeakerConfig whatever it answers
  int creates;
  int queries;
  int releases;
  bool null_arguments;  // no device and no aggregating object were named
};

FakeSound g_sound{};

std::uint32_t __stdcall FakeRelease(FakeSound* self) {
  ++self->releases;
  return 0;
}

std::int32_t __stdcall FakeGetSpeakerConfig(FakeSound* self, std::uint32_t* config) {
  ++self->queries;
  *config = self->config;
  return self->query_answer;
}

constexpr SoundMethods kSoundMethods = {.release = FakeRelease,
                                        .get_speaker_config = FakeGetSpeakerConfig};

std::int32_t FakeCreate(const void* device, void** sound, void* outer) {
  ++g_sound.creates;
  g_sound.null_arguments = device == nullptr && outer == nullptr;
  // Stored even when failing, so that a query that used it would show.
  *sound = &g_sound;
  return g_sound.create_answer;
}

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);      // E_FAIL
constexpr std::int32_t kNoDriver = static_cast<std::int32_t>(0x88780078u);  // DSERR_NODRIVER

class DirectSoundObject : public ::testing::Test {
 protected:
  void SetUp() override { platform::seam::SetSoundCreate(&FakeCreate); }
  void TearDown() override { platform::seam::SetSoundCreate(nullptr); }
};

TEST_F(DirectSoundObject, IsCreatedAskedAndReleasedOncePerQuery) {
  struct Case {
    const char* what;
    std::int32_t create_answer;
    std::int32_t query_answer;
    std::uint64_t mask;
    int queries;
    int releases;
  };
  const Case cases[] = {
      {"layout read", kOk, kOk, 0x4001, 1, 1},
      {"GetSpeakerConfig fails", kOk, kFail, 0, 1, 1},
      {"DirectSoundCreate8 fails", kNoDriver, kOk, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_sound =
        FakeSound{&kSoundMethods, c.create_answer, c.query_answer, 0x00140004, 0, 0, 0, false};
    EXPECT_EQ(icons::GetSoundConfig(), c.mask);
    EXPECT_EQ(g_sound.creates, 1);
    EXPECT_TRUE(g_sound.null_arguments);
    EXPECT_EQ(g_sound.queries, c.queries);
    EXPECT_EQ(g_sound.releases, c.releases);
  }
}

// The system's own dsound.dll, from the system directory, with and without the
// loader's safe search flags, which Windows XP and an un-updated Vista or 7
// lack. Under Wine, ctest points ALSA at its null device for this suite,
// which DirectSound reports as stereo.
TEST(SpeakerIconsWithNullAudio, SystemDirectSoundIsFoundByEveryLoader) {
  for (const bool old_loader : {false, true}) {
    SCOPED_TRACE(old_loader ? "loader without the flags" : "loader with the flags");
    platform::seam::PretendOldLoader(old_loader);
    std::uint32_t config = 0;
    EXPECT_TRUE(platform::ReadSpeakerConfig(&config));
    EXPECT_EQ(config, 0x00140004u);
  }
  platform::seam::PretendOldLoader(false);
}
#endif

}  // namespace
}  // namespace testing_support
