// hostsim's command line run in-process against the real plug-in and the
// emulator: the calling order it enforces, the failures it reports with their
// line, and what it prints and saves.
#include "hostsim/cli.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/model.h"
#include "emulator/render.h"
#include "emulator/state_file.h"
#include "hostsim/session.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

Outcome Hostsim(std::vector<std::string> arguments) {
  std::ostringstream out;
  std::ostringstream err;
  Outcome outcome;
  outcome.status = HostsimMain(arguments, out, err, 0);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

// hostsim -q -e LINE ... for the given lines.
Outcome RunLines(const std::vector<std::string>& lines, std::vector<std::string> options = {}) {
  options.push_back("-q");
  for (const std::string& line : lines) {
    options.push_back("-e");
    options.push_back(line);
  }
  return Hostsim(options);
}

struct FailingScript {
  const char* name;
  std::vector<std::string> lines;
  std::vector<std::string> options;
  std::string message;  // the whole of standard error
};

void PrintTo(const FailingScript& c, std::ostream* out) {
  *out << c.name;
}

class Fails : public ::testing::TestWithParam<FailingScript> {};

TEST_P(Fails, AtTheLineWithAClearMessage) {
  const Outcome outcome = RunLines(GetParam().lines, GetParam().options);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, GetParam().message + "\n");
}

const std::string kEmulator = VESTRIX_TEST_EMULATOR_PATH;
const std::string kPlugin = VESTRIX_TEST_PLUGIN_PATH;

INSTANTIATE_TEST_SUITE_P(
    Hostsim, Fails,
    ::testing::Values(
        FailingScript{"unknown command",
                      {"init 16 2", "wirte \"x\""},
                      {},
                      "-e:2: unknown command 'wirte' (hostsim --help lists the commands)"},
        FailingScript{"missing argument",
                      {"init 16 2", "fan 2"},
                      {},
                      "-e:2: 'fan' takes 2 arguments (fan ACTION NUMBER), got 1"},
        FailingScript{"write before init",
                      {"echo hi", "write \"Hello\""},
                      {},
                      "-e:2: 'write' before 'init': the plug-in is not open"},
        FailingScript{"done before init",
                      {"done"},
                      {},
                      "-e:1: 'done' before 'init': the plug-in is not open"},
        FailingScript{"write after done",
                      {"init 16 2 message", "done", "write x"},
                      {},
                      "-e:3: 'write' after 'done': the plug-in is closed"},
        FailingScript{"init twice",
                      {"init 16 2 message", "init 16 2"},
                      {},
                      "-e:2: 'init' while the plug-in is open: call 'done' first"},
        FailingScript{"refused start",
                      {"init 20 2"},
                      {},
                      "-e:1: the plug-in refused to start: VESTRIX.DLL Invalid Screen size"},
        FailingScript{"refused parameters",
                      {"init 16 2 \"clock off\""},
                      {},
                      "-e:1: the plug-in refused to start: VESTRIX.DLL Exception: Inconsistent "
                      "parameters. More than one shutdown parameter specified!"}),

    [](const ::testing::TestParamInfo<FailingScript>& test) {
      std::string name = test.param.name;
      for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
      }
      return name;
    });

TEST(Hostsim, CommandLineFaultsExitWithTwo) {
  EXPECT_EQ(Hostsim({}).status, 2);
  EXPECT_EQ(Hostsim({"--frobnicate", "x.vxs"}).status, 2);
  EXPECT_EQ(Hostsim({"a.vxs", "b.vxs"}).status, 2);
  EXPECT_EQ(Hostsim({"-e", "show", "a.vxs"}).status, 2);
  const Outcome missing_value = Hostsim({"-p"});
  EXPECT_EQ(missing_value.status, 2);
  EXPECT_EQ(missing_value.err, "hostsim: -p needs a value\n");
  const Outcome help = Hostsim({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("custom INDEX B0,...,B7"), std::string::npos);
  // The help fits a terminal of 80 columns (the last line names a path).
  std::istringstream lines(help.out.substr(0, help.out.rfind("Snapshots without -o")));
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 79u) << line;
  }
}

// A file or directory named by an option that will not do: the message names
// the option and its value, not a script line, and ends in the system's reason
// where the system gives one.
struct OptionFaultCase {
  const char* name;
  std::vector<std::string> options;  // before the script line "init 16 2 message"
  std::string message;               // the start of standard error
  bool system_reason;                // the system's words follow `message`
  bool at_start;                     // refused before the script runs
};

void PrintTo(const OptionFaultCase& c, std::ostream* out) {
  *out << c.name;
}

class OptionFaults : public ::testing::TestWithParam<OptionFaultCase> {};

TEST_P(OptionFaults, BlameTheOptionAndExitWithTwo) {
  const Outcome outcome =
      RunLines({"echo first", "init 16 2 message", "snapshot x.png"}, GetParam().options);
  EXPECT_EQ(outcome.status, 2);
  const std::string start = "hostsim: " + GetParam().message;
  ASSERT_EQ(outcome.err.rfind(start, 0), 0u) << outcome.err;
  ASSERT_EQ(outcome.err.back(), '\n');
  const std::string reason =
      outcome.err.substr(start.size(), outcome.err.size() - 1 - start.size());
  EXPECT_EQ(reason.empty(), !GetParam().system_reason) << outcome.err;
  // A file or directory for the output is refused at once, not at the first
  // snapshot, which a script may not have; the libraries when first needed.
  EXPECT_EQ(outcome.out.find("first"), GetParam().at_start ? std::string::npos : 0u) << outcome.out;
}

// A plain file where a directory is wanted.
const std::string kAFile = VESTRIX_TEST_SOURCE_DIR "/LICENSE";
const std::string kNoDirectory = VESTRIX_TEST_SOURCE_DIR "/no/such/dir/";

INSTANTIATE_TEST_SUITE_P(
    Hostsim, OptionFaults,
    ::testing::Values(
        OptionFaultCase{"plug-in missing",
                        {"-p", "no/such/plugin.dll"},
                        "-p 'no/such/plugin.dll': cannot load the plug-in: ",
                        true,
                        false},
        OptionFaultCase{"not a plug-in",
                        {"-p", kEmulator},
                        "-p '" + kEmulator + "': the plug-in lacks the entry point DISPLAYDLL_Init",
                        false,
                        false},
        OptionFaultCase{"emulator missing",
                        {"-m", kNoDirectory + fs::path(kEmulator).filename().string()},
                        "-m '" + kNoDirectory + fs::path(kEmulator).filename().string() +
                            "': cannot load the panel emulator: ",
                        true,
                        false},
        OptionFaultCase{"emulator misnamed",
                        {"-m", kPlugin},
                        "-m '" + kPlugin + "': the panel emulator must be named " +
                            fs::path(kEmulator).filename().string() +
                            " for the plug-in to find it, not '" +
                            fs::path(kPlugin).filename().string() + "'",
                        false,
                        false},
        OptionFaultCase{"snapshot directory is a file",
                        {"-o", kAFile},
                        "-o '" + kAFile + "': cannot make the directory: ",
                        true,
                        true},
        OptionFaultCase{
            "panel state not such a file",
            {"--panel-state", kAFile},
            "--panel-state '" + kAFile + "': not a panel state file (usbpanel --state writes one)",
            false,
            false},
        OptionFaultCase{
            "art directory is a file",
            {"-o", (fs::temp_directory_path() / "vestrix_hostsim_art").string(), "--art", kAFile},
            "--art '" + kAFile + "': cannot make the directory: ",
            true,
            true}),
    [](const ::testing::TestParamInfo<OptionFaultCase>& test) {
      std::string name = test.param.name;
      for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
      }
      return name;
    });

TEST(Hostsim, UnreadableScriptFailsWithTheSystemsReason) {
  const Outcome missing = Hostsim({"no/such/script.vxs"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "hostsim: cannot read the script 'no/such/script.vxs': " +
                             std::string(std::strerror(ENOENT)) + "\n");
  const Outcome directory = Hostsim({VESTRIX_TEST_SOURCE_DIR});
  EXPECT_EQ(directory.status, 1);
  EXPECT_EQ(directory.err, "hostsim: cannot read the script '" VESTRIX_TEST_SOURCE_DIR "': " +
                               std::string(std::strerror(EISDIR)) + "\n");
}

TEST(Hostsim, UnwritableSnapshotFailsAtItsLineWithTheSystemsReason) {
  const fs::path directory = fs::temp_directory_path() / "vestrix_hostsim_unwritable";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory / "taken.png");  // a directory where the file goes
  std::ofstream(directory / "file") << "x";         // a file where a directory goes
  const Outcome taken =
      RunLines({"init 16 2 message", "snapshot taken.png"}, {"-o", directory.string()});
  EXPECT_EQ(taken.status, 1);
  const std::string write = "-e:2: cannot write '" + (directory / "taken.png").string() + "': ";
  EXPECT_EQ(taken.err.rfind(write, 0), 0u) << taken.err;
  EXPECT_GT(taken.err.size(), write.size() + 1) << "no reason given: " << taken.err;

  const Outcome blocked =
      RunLines({"init 16 2 message", "echo x", "snapshot file/x.txt"}, {"-o", directory.string()});
  EXPECT_EQ(blocked.status, 1);
  const std::string make =
      "-e:3: cannot make the directory '" + (directory / "file").string() + "': ";
  EXPECT_EQ(blocked.err.rfind(make, 0), 0u) << blocked.err;
  EXPECT_GT(blocked.err.size(), make.size() + 1) << "no reason given: " << blocked.err;
  fs::remove_all(directory, ignored);
}

TEST(Hostsim, SnapshotsGoToTheBuildTreeByDefault) {
  const fs::path name = "vestrix_hostsim_default_directory.txt";
  const fs::path expected = fs::path(DefaultOutputDirectory()) / name;
  std::error_code ignored;
  fs::remove(expected, ignored);
  fs::remove(fs::current_path() / name, ignored);
  const Outcome outcome = RunLines({"init 16 2 message", "snapshot " + name.string(), "done"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(fs::exists(expected)) << expected.string();
  EXPECT_FALSE(fs::exists(fs::current_path() / name));
  EXPECT_EQ(fs::path(DefaultOutputDirectory()).parent_path(),
            fs::path(VESTRIX_TEST_PLUGIN_PATH).parent_path());
  fs::remove(expected, ignored);
}

TEST(Hostsim, SyntaxIsCheckedBeforeAnythingRuns) {
  const fs::path directory = fs::temp_directory_path() / "vestrix_hostsim_syntax";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  const Outcome outcome = RunLines({"snapshot first.png", "pos 1"}, {"-o", directory.string()});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "-e:2: 'pos' takes 2 arguments (pos COLUMN ROW), got 1\n");
  EXPECT_FALSE(fs::exists(directory / "first.png"));
}

TEST(Hostsim, PrintsTheLogAndTheFixedTexts) {
  const Outcome outcome = RunLines(
      {"name", "defaults", "init 16 2 message", "customindex 1", "write \"A\"", "log", "done"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Vestrix LCD Display DLL\n\"\"\n"), std::string::npos);
  EXPECT_NE(outcome.out.find("custom character 1 is code 8 (\\x08)"), std::string::npos);
  EXPECT_NE(outcome.out.find("call iMONVFD_Init(24, 34952)"), std::string::npos);
  EXPECT_NE(outcome.out.find("mode 0x40 (reset), no date"), std::string::npos);
  EXPECT_NE(outcome.out.find("pixels 0x2D bytes 91..97"), std::string::npos);
  // The log as asked for by 'log': up to the write, not Done's packets.
  EXPECT_EQ(outcome.out.find("event 0x51\n", outcome.out.find("pixels 0x3B")), std::string::npos);
}

TEST(Hostsim, PrintsThePanelAfterEachStep) {
  const Outcome outcome = Hostsim({"--ascii", "-e", "init 16 2 message", "-e", "pos 1 1", "-e",
                                   "write \"\\x7f\"", "-e", "done"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("[1] init 16 2 message\n+----"), std::string::npos);
  // Setting the cursor changes nothing on the panel: no new picture.
  EXPECT_NE(outcome.out.find("[2] pos 1 1\n[3] write"), std::string::npos);
  EXPECT_NE(outcome.out.find("showing text   contrast 10 of 31 (Lumidor 80-87)"),
            std::string::npos);
}

TEST(Hostsim, LeftOpenThePlugInIsClosedAtTheEnd) {
  const Outcome outcome = Hostsim({"--log", "-e", "init 16 2 off"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("[end] the script left the plug-in open: done"), std::string::npos);
  EXPECT_NE(outcome.out.find("switched off, its clock set to "), std::string::npos);
  EXPECT_NE(outcome.out.find("call iMONVFD_Uninit()"), std::string::npos);
}

TEST(Hostsim, SavesPngAndTextSnapshots) {
  const fs::path directory = fs::temp_directory_path() / "vestrix_hostsim_snapshots";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  const Outcome outcome =
      RunLines({"init 16 2 message", "pos 1 1", "write \"\\x7f\"", "snapshot panel.png",
                "snapshot sub/panel.txt", "done"},
               {"-o", directory.string(), "--art", (directory / "art").string()});
  ASSERT_EQ(outcome.status, 0) << outcome.err;

  char signature[8] = {};
  std::ifstream(directory / "panel.png", std::ios::binary).read(signature, sizeof signature);
  EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n");

  std::stringstream text;
  text << std::ifstream(directory / "sub" / "panel.txt").rdbuf();
  EXPECT_NE(text.str().find("# panel after line 5: snapshot sub/panel.txt\n"
                            "contrast 10 of 31 (Lumidor 80-87)\nmode 0x40 (showing text)\n"),
            std::string::npos);
  EXPECT_NE(text.str().find("\nicons " + std::string(56, '.') + "\nring still\npixels\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(directory / "art" / "panel.txt"));
  fs::remove_all(directory, ignored);
}

// A panel that lives in another process (the emulated panel on USB) and
// publishes its state: snapshots show that panel, not the emulator's model.
TEST(Hostsim, ShowsThePanelOfAStateFile) {
  const fs::path directory = fs::temp_directory_path() / "vestrix_hostsim_state";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  emulator::PanelModel model;
  const std::uint8_t contrast[8] = {7, 0, 0, 0, 0, 0, 0, 0x03};
  const std::uint8_t pixels[8] = {0x80, 0, 0, 0, 0, 0, 0, 0x20};  // the top left pixel
  model.ApplyPacket(contrast, 1);
  model.ApplyPacket(pixels, 1);
  const std::string state = (directory / "panel.state").string();
  std::string why;
  ASSERT_TRUE(emulator::WriteStateFile(state, model.State(), &why)) << why;

  const Outcome outcome = RunLines({"init 16 2 message", "snapshot panel.txt", "done"},
                                   {"--panel-state", state, "-o", directory.string()});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::stringstream text;
  text << std::ifstream(directory / "panel.txt").rdbuf();
  EXPECT_EQ(text.str(),
            emulator::RenderSnapshotText(model.State(), "panel after line 2: snapshot panel.txt"));
  fs::remove_all(directory, ignored);
}

}  // namespace
}  // namespace hostsim
