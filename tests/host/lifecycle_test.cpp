// Start and end of the plug-in as a host sees it: fixed texts, screen sizes,
// start-up parameters, the vendor library's variants and every failure message,
// the packets of a start and of the three shutdown modes, and contrast.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/plugin_fixture.h"

namespace testing_support {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

constexpr const char* kInvalidScreenSize = "VESTRIX.DLL Invalid Screen size";
constexpr const char* kInconsistent =
    "VESTRIX.DLL Exception: Inconsistent parameters. More than one shutdown parameter specified!";
constexpr const char* kNotFound =
    "VESTRIX.DLL Exception: sg_vfd.dll not found! Did you copy it to your Lumidor directory? ";
constexpr const char* kFunctionsMissing =
    "VESTRIX.DLL: sg_vfd.dll critical funtion pointers not found!";
constexpr const char* kNoDisplay =
    "VESTRIX.DLL: Unable to Initialize the display. Display hardware not found";

const PacketBytes kEmptyIcons = Packet(0x01);
const PacketBytes kClose51 = Packet(0x51);

// The packets a successful start sends: the reset sequence, then the empty
// icon packet twice.
std::vector<PacketBytes> StartPackets(std::uint8_t contrast) {
  std::vector<PacketBytes> packets = ResetSequence(contrast);
  packets.push_back(kEmptyIcons);
  packets.push_back(kEmptyIcons);
  return packets;
}

using Lifecycle = PluginTest;

TEST_F(Lifecycle, FixedTextsAnswerBeforeAndAfterOperation) {
  const char* const name_before = api_.DriverName();
  for (int round = 0; round < 2; ++round) {
    EXPECT_STREQ(api_.DriverName(), "Vestrix LCD Display DLL");
    EXPECT_STREQ(api_.DefaultParameters(), "");
    const std::string usage = api_.Usage();
    EXPECT_EQ(usage,
              "Usage: <ShutdownMode<,AudioDisplay>>\n"
              "where OnShutdown = message, clock or off\n"
              "           AudioIcons = audio or <blank>");
    EXPECT_EQ(usage.size(), 118u);
    if (round == 0) {
      Open();
      Close();
    }
  }
  // The texts live as long as the module: the host may keep the address.
  EXPECT_EQ(api_.DriverName(), name_before);
}

struct SizeCase {
  std::uint8_t width;
  std::uint8_t height;
  bool accepted;
};

class ScreenSize : public PluginTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ScreenSize, OnlySixteenByTwoOrOneIsAccepted) {
  const SizeCase size = GetParam();
  bool ok = !size.accepted;
  const char* message = Init(size.width, size.height, "", &ok);
  EXPECT_EQ(ok, size.accepted);
  if (size.accepted) {
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(SentPackets(true), StartPackets(10));
  } else {
    EXPECT_STREQ(message, kInvalidScreenSize);
    // Refused before the vendor library is touched.
    EXPECT_TRUE(Records().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ScreenSize,
    Values(SizeCase{16, 2, true}, SizeCase{16, 1, true}, SizeCase{20, 2, false},
           SizeCase{16, 4, false}, SizeCase{0, 0, false}, SizeCase{40, 2, false},
           SizeCase{16, 0, false}, SizeCase{2, 16, false}, SizeCase{255, 255, false}),
    [](const ::testing::TestParamInfo<SizeCase>& case_info) {
      return std::to_string(case_info.param.width) + "x" + std::to_string(case_info.param.height);
    });

enum class Mode { kClock, kOff, kMessage, kRefused };

struct ParameterCase {
  const char* parameters;
  Mode mode;
};

// The packets the host's thread sees from Done in each shutdown mode, with the
// clock packet's date and time left out (checked separately).
std::vector<PacketBytes> DonePackets(Mode mode, std::uint8_t contrast = 10) {
  std::vector<PacketBytes> packets;
  if (mode == Mode::kClock || mode == Mode::kOff) {
    packets = ResetSequence(contrast);
    packets.push_back(kEmptyIcons);
    packets.push_back(
        Packet(0x50, {static_cast<std::uint8_t>(mode == Mode::kClock ? 0x80 : 0x08)}));
  } else {
    packets.push_back(kEmptyIcons);
  }
  packets.push_back(kClose51);
  return packets;
}

class StartupParameters : public PluginTest, public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(StartupParameters, ChooseTheShutdownMode) {
  const ParameterCase param = GetParam();
  bool ok = true;
  const char* message = Init(16, 2, param.parameters, &ok);
  if (param.mode == Mode::kRefused) {
    EXPECT_STREQ(message, kInconsistent);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Records().empty());
    return;
  }
  ASSERT_EQ(message, nullptr) << message;
  EXPECT_TRUE(ok);
  Recorder_Clear();
  Close();
  EXPECT_EQ(WithoutClockTime(SentPackets(true)), DonePackets(param.mode)) << Hex(SentPackets(true));
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, StartupParameters,
    Values(ParameterCase{"", Mode::kClock}, ParameterCase{"clock", Mode::kClock},
           ParameterCase{"message", Mode::kMessage}, ParameterCase{"off", Mode::kOff},
           ParameterCase{"clock,clock", Mode::kClock}, ParameterCase{"CLOCK", Mode::kClock},
           ParameterCase{"Off", Mode::kClock}, ParameterCase{"offset", Mode::kOff},
           ParameterCase{"audio", Mode::kClock}, ParameterCase{"off,audio", Mode::kOff},
           ParameterCase{"message audio", Mode::kMessage},
           ParameterCase{"clock,off", Mode::kRefused}, ParameterCase{"offclock", Mode::kRefused},
           ParameterCase{"off message", Mode::kRefused},
           ParameterCase{"message,clock", Mode::kRefused}),
    [](const ::testing::TestParamInfo<ParameterCase>& case_info) {
      // The index, which keeps names unique, and the parameters: "11_clock_off".
      std::string name = std::to_string(case_info.index) + "_";
      for (const char* c = case_info.param.parameters; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
      }
      return name;
    });

TEST_F(Lifecycle, NullParameterStringCountsAsEmpty) {
  bool ok = false;
  EXPECT_EQ(Init(16, 2, nullptr, &ok), nullptr);
  EXPECT_TRUE(ok);
  Recorder_Clear();
  Close();
  EXPECT_EQ(WithoutClockTime(SentPackets(true)), DonePackets(Mode::kClock));
}

TEST_F(Lifecycle, NullSuccessFlagIsNeverWritten) {
  EXPECT_STREQ(Init(20, 2, "", nullptr), kInvalidScreenSize);
  EXPECT_STREQ(Init(16, 2, "clock off", nullptr), kInconsistent);
  EXPECT_EQ(Init(16, 2, "", nullptr), nullptr);
}

TEST_F(Lifecycle, SuccessfulStartInitialisesThePanelAndResetsIt) {
  Open();
  const std::vector<Record> records = Records();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[0].kind, kRecordLoad);
  EXPECT_EQ(records[1].kind, kRecordInit);
  EXPECT_EQ(records[1].first, 24u);
  EXPECT_EQ(records[1].second, 0x8888u);
  EXPECT_EQ(SentPackets(true), StartPackets(10)) << Hex(SentPackets(true));
  EXPECT_EQ(CountRecords(kRecordOther), 0u);
}

TEST_F(Lifecycle, MissingLibraryIsReportedAndDoneSendsNothing) {
  SelectVendor("no_such_variant");
  bool ok = true;
  EXPECT_STREQ(Init(16, 2, "", &ok), kNotFound);
  EXPECT_FALSE(ok);
  EXPECT_GE(Close().count(), 450);
  EXPECT_TRUE(Records().empty());
}

TEST_F(Lifecycle, LibraryWithoutSendDataIsRefusedAndKeptUntilDone) {
  SelectVendor("no_senddata");
  bool ok = true;
  EXPECT_STREQ(Init(16, 2, "", &ok), kFunctionsMissing);
  EXPECT_FALSE(ok);
  EXPECT_EQ(CountRecords(kRecordLoad), 1u);
  EXPECT_EQ(CountRecords(kRecordInit), 0u);
  EXPECT_TRUE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
  Close();
  // Without a packet sender nothing is sent, but the library is uninitialised
  // and released.
  EXPECT_EQ(CountRecords(kRecordSendData), 0u);
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(CountRecords(kRecordUnload), 1u);
}

TEST_F(Lifecycle, LibraryWithoutInitIsRefusedAndClosedByDone) {
  SelectVendor("no_init");
  bool ok = true;
  EXPECT_STREQ(Init(16, 2, "message", &ok), kFunctionsMissing);
  EXPECT_FALSE(ok);
  EXPECT_EQ(CountRecords(kRecordSendData), 0u);
  EXPECT_TRUE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
  Recorder_Clear();
  Close();
  // The library was found with a packet sender, so Done closes it as usual.
  EXPECT_EQ(SentPackets(true), DonePackets(Mode::kMessage));
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(CountRecords(kRecordUnload), 1u);
}

TEST_F(Lifecycle, DisplayNotFoundWhenInitAnswersFalseInItsLowByte) {
  SelectVendor("init_false");
  bool ok = true;
  EXPECT_STREQ(Init(16, 1, "message", &ok), kNoDisplay);
  EXPECT_FALSE(ok);
  EXPECT_EQ(CountRecords(kRecordInit), 1u);
  EXPECT_EQ(CountRecords(kRecordSendData), 0u);
  EXPECT_EQ(CountRecords(kRecordUninit), 0u);
  EXPECT_TRUE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
  Recorder_Clear();
  Close();
  EXPECT_EQ(SentPackets(true), DonePackets(Mode::kMessage));
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(CountRecords(kRecordUnload), 1u);
}

TEST_F(Lifecycle, MinimalLibraryIsAcceptedAndLeftLoadedByDone) {
  SelectVendor("minimal");
  Open("message");
  Recorder_Clear();
  Close();
  EXPECT_EQ(SentPackets(true), DonePackets(Mode::kMessage));
  EXPECT_EQ(CountRecords(kRecordUnload), 0u);
  EXPECT_TRUE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
  // Nothing reaches the library after Done, even though it stays loaded.
  Recorder_Clear();
  api_.Write("late");
  api_.SetContrast(200);
  EXPECT_TRUE(Records().empty());
}

TEST_F(Lifecycle, DoneReleasesTheLibraryAfterItsLastPacket) {
  Open("message");
  Recorder_Clear();
  Close();
  const std::vector<Record> records = Records();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[records.size() - 2].kind, kRecordUninit);
  EXPECT_EQ(records.back().kind, kRecordUnload);
  EXPECT_FALSE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
}

TEST_F(Lifecycle, DoneWithoutStartSendsNothingAndStillPauses) {
  const auto took = Close();
  EXPECT_GE(took.count(), 450);
  EXPECT_LT(took.count(), 10000);
  EXPECT_TRUE(Records().empty());
}

TEST_F(Lifecycle, DoneTakesAboutOneRefreshPeriod) {
  Open();
  const auto took = Close();
  EXPECT_GE(took.count(), 450);
  // Generous: a loaded machine may be slow, but Done must not wait for a
  // second refresh period plus more.
  EXPECT_LT(took.count(), 5000);
}

TEST_F(Lifecycle, ClockPacketCarriesTheLocalTime) {
  // Date and time as one comparable value, the year taken modulo 256 as the
  // packet carries it.
  auto key = [](int year, int month, int day, int hour, int minute, int second) {
    return ((((static_cast<long long>(year % 256) * 13 + month) * 32 + day) * 24 + hour) * 60 +
            minute) *
               60 +
           second;
  };
  for (const Mode mode : {Mode::kClock, Mode::kOff}) {
    Open(mode == Mode::kClock ? "clock" : "off");
    Recorder_Clear();
    const platform::LocalTime before = platform::GetLocalTime();
    Close();
    const platform::LocalTime after = platform::GetLocalTime();
    std::vector<PacketBytes> packets = SentPackets(true);
    ASSERT_EQ(packets.size(), 11u) << Hex(packets);
    const PacketBytes clock = packets[9];
    EXPECT_EQ(clock[7], 0x50);
    EXPECT_EQ(clock[0], mode == Mode::kClock ? 0x80 : 0x08);
    // Done reads the clock while it runs, so the time lies between these two
    // readings.
    const long long sent = key(clock[1], clock[2], clock[3], clock[4], clock[5], clock[6]);
    EXPECT_LE(key(before.year, before.month, before.day, before.hour, before.minute, before.second),
              sent)
        << Hex(clock);
    EXPECT_LE(sent, key(after.year, after.month, after.day, after.hour, after.minute, after.second))
        << Hex(clock);
  }
}

TEST_F(Lifecycle, SecondStartClosesTheFirst) {
  Open("message");
  Open("message");
  // The first start was closed as Done would: uninitialised and released.
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(CountRecords(kRecordInit), 2u);
  Close();
  EXPECT_EQ(CountRecords(kRecordLoad), CountRecords(kRecordUnload));
  EXPECT_FALSE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
}

TEST_F(Lifecycle, StartAfterAFailedStartKeepsOneLibraryReference) {
  Recorder_SetInitAnswer(0);
  bool ok = true;
  EXPECT_STREQ(Init(16, 2, "", &ok), kNoDisplay);
  Recorder_SetInitAnswer(1);
  Open("message");
  Close();
  EXPECT_FALSE(platform::IsLibraryLoaded(platform::kVendorLibraryName));
}

TEST_F(Lifecycle, NothingReachesTheLibraryBeforeStartOrAfterDone) {
  api_.Write("before");
  api_.SetContrast(80);
  api_.SetFan(2, 7);
  EXPECT_TRUE(Records().empty());
  Open("message");
  Close();
  Recorder_Clear();
  api_.Write("after");
  api_.SetContrast(80);
  api_.Done();
  EXPECT_TRUE(Records().empty());
}

TEST_F(Lifecycle, BrightnessIsAcceptedAndIgnored) {
  Open();
  Recorder_Clear();
  for (const int value : {0, 1, 128, 255}) {
    api_.SetBrightness(static_cast<std::uint8_t>(value));
  }
  EXPECT_TRUE(SentPackets(true).empty());
}

struct ContrastCase {
  std::uint8_t host;
  std::uint8_t level;
};

class Contrast : public PluginTest, public ::testing::WithParamInterface<ContrastCase> {};

TEST_P(Contrast, HostValueIsDividedByEightAndKeptForLaterResets) {
  const ContrastCase param = GetParam();
  Open("message");
  Recorder_Clear();
  api_.SetContrast(param.host);
  EXPECT_EQ(SentPackets(true), std::vector<PacketBytes>{Packet(0x03, {param.level})});
  Close();
  // The next start's reset sequence sends the stored level.
  Recorder_Clear();
  Open("message");
  EXPECT_EQ(SentPackets(true), StartPackets(param.level));
}

INSTANTIATE_TEST_SUITE_P(Levels, Contrast,
                         Values(ContrastCase{255, 31}, ContrastCase{128, 16}, ContrastCase{8, 1},
                                ContrastCase{7, 0}, ContrastCase{0, 0}),
                         [](const ::testing::TestParamInfo<ContrastCase>& case_info) {
                           return "host" + std::to_string(case_info.param.host);
                         });

TEST_F(Lifecycle, ContrastBeforeStartIsStoredAndSentByTheReset) {
  api_.SetContrast(100);
  EXPECT_TRUE(Records().empty());
  Open();
  EXPECT_EQ(SentPackets(true), StartPackets(12));
  Recorder_Clear();
  Close();
  EXPECT_EQ(WithoutClockTime(SentPackets(true)), DonePackets(Mode::kClock, 12));
}

TEST_F(Lifecycle, EveryLoadStartsWithContrastTen) {
  api_.SetContrast(255);
  UnloadPlugin();
  LoadPlugin();
  Open();
  EXPECT_EQ(SentPackets(true), StartPackets(10));
}

class CallingConvention : public PluginTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CallingConvention, VendorLibraryWorksWithEitherConvention) {
  SelectVendor(GetParam());
  // Many calls in a row: a stack that drifts by the arguments' size on each
  // call would soon break the host's frame.
  Open("message");
  for (int i = 0; i < 50; ++i) {
    api_.SetContrast(static_cast<std::uint8_t>(8 * i));
  }
  Close();
  const std::vector<Record> records = Records();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(CountRecords(kRecordInit), 1u);
  EXPECT_EQ(CountRecords(kRecordUninit), 1u);
  EXPECT_EQ(SentPackets(true).size(), 10u + 50u + 2u);
  EXPECT_EQ(SentPackets(true)[10 + 49], Packet(0x03, {49 % 32}));
}

INSTANTIATE_TEST_SUITE_P(Conventions, CallingConvention, Values("full_stdcall", "full_cdecl"));

#if defined(_WIN32)
// Only the Windows DLL carries the decorated "@N" names; the native build's
// library exports plain C names alone.
TEST_F(Lifecycle, DecoratedNamesLeadToTheSameRoutines) {
  const PluginApi decorated = ResolveEntryPoints(plugin_, true);
  EXPECT_EQ(decorated.Init, api_.Init);
  EXPECT_EQ(decorated.Done, api_.Done);
  EXPECT_EQ(decorated.DriverName, api_.DriverName);
  EXPECT_EQ(decorated.Usage, api_.Usage);
  EXPECT_EQ(decorated.DefaultParameters, api_.DefaultParameters);
  EXPECT_EQ(decorated.SetPosition, api_.SetPosition);
  EXPECT_EQ(decorated.Write, api_.Write);
  EXPECT_EQ(decorated.SetBrightness, api_.SetBrightness);
  EXPECT_EQ(decorated.CustomChar, api_.CustomChar);
  EXPECT_EQ(decorated.CustomCharIndex, api_.CustomCharIndex);
  EXPECT_EQ(decorated.SetContrast, api_.SetContrast);
  EXPECT_EQ(decorated.SetFan, api_.SetFan);
}
#endif

}  // namespace
}  // namespace testing_support
