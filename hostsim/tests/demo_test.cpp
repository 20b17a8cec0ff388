// The demo script end to end: the real plug-in drives the panel emulator, and
// at every snapshot the panel must match demo/expected/NAME.txt, the picture
// rows drawn as '#' and '.'; and the same for the panel page's test cases,
// web/tests/page.vxs and web/tests/expected/. Lines starting with "#" are not
// compared. The clock that 'done' gives the panel is the local time of that
// moment, which the text art writes as "the local time at 'done'", drawing the
// panel's clock at a fixed time, so that it is compared too.
//
// After a deliberate change of what the panel shows (fonts, demo script),
// regenerate the expected pictures from the source directory with
//   build/native/hostsim/hostsim -q -o build/demo --art demo/expected demo/demo.vxs
// and review the change with git diff demo/expected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/script.h"
#include "hostsim/session.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = VESTRIX_TEST_SOURCE_DIR;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

// The lines that are compared: no comments, no carriage returns.
std::vector<std::string> Comparable(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.rfind("#", 0) == 0) {
      continue;
    }
    lines.push_back(line);
  }
  return lines;
}

// Expected and actual side by side where they differ.
std::string Differences(const std::vector<std::string>& expected,
                        const std::vector<std::string>& actual) {
  std::string report;
  for (std::size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
    const std::string want = i < expected.size() ? expected[i] : "(none)";
    const std::string got = i < actual.size() ? actual[i] : "(none)";
    if (want != got) {
      report += "  expected: " + want + "\n  actual:   " + got + "\n";
    }
  }
  return report;
}

// Runs the script `script_name` (relative to the source directory) and
// compares the panel at each snapshot NAME with `expected_dir`/NAME.txt. Returns the names
// in the order compared; the script's output goes to `*out`.
std::vector<std::string> RunComparing(const fs::path& script_name, const fs::path& expected_dir,
                                      std::string* out) {
  const std::string script = ReadFile(kSource / script_name);
  std::vector<Command> commands;
  ParseError error;
  if (script.empty() || !ParseScript(script, &commands, &error)) {
    ADD_FAILURE() << "cannot read or parse " << script_name.string() << ": " << error.line << ": "
                  << error.message;
    return {};
  }

  std::vector<std::string> compared;
  auto compare = [&](const Command& command, const VxPanelState& /*state*/,
                     const std::string& text) {
    const std::string name = fs::path(command.text).stem().string();
    compared.push_back(name);
    const fs::path expected_path = kSource / expected_dir / (name + ".txt");
    const std::string expected = ReadFile(expected_path);
    if (expected.empty()) {
      ADD_FAILURE() << "no expected picture " << expected_path.string()
                    << "; regenerate as described in " << script_name.string();
      return;
    }
    const std::vector<std::string> want = Comparable(expected);
    const std::vector<std::string> got = Comparable(text);
    EXPECT_EQ(want, got) << script_name.string() << " line " << command.line << " (" << name
                         << "):\n"
                         << Differences(want, got);
  };

  Options options;
  options.quiet = true;
  std::ostringstream output;
  std::ostringstream err;
  EXPECT_EQ(RunScript(commands, script_name.string(), options, output, err, compare), 0)
      << err.str();
  *out = output.str();
  return compared;
}

TEST(Demo, PanelMatchesTheExpectedPicturesAtEverySnapshot) {
  std::string out;
  const std::vector<std::string> compared =
      RunComparing(fs::path("demo") / "demo.vxs", fs::path("demo") / "expected", &out);
  const std::vector<std::string> expected_names = {"two-lines", "custom", "icons", "low-contrast",
                                                   "off",       "large",  "clock"};
  EXPECT_EQ(compared, expected_names);
  // The custom character codes the plug-in reports, as the demo writes them.
  EXPECT_NE(out.find("custom character 1 is code 8 (\\x08)"), std::string::npos);
  EXPECT_NE(out.find("custom character 2 is code 1 (\\x01)"), std::string::npos);
}

// The screens of the panel page's browser tests: the page's picture of each
// must be this text art, so the art must be what the plug-in and the emulator
// make of the page's calls here too. Every expected file is one of them.
TEST(Demo, PanelPageCasesMatchTheirExpectedPictures) {
  std::string out;
  const fs::path expected_dir = fs::path("web") / "tests" / "expected";
  std::vector<std::string> compared =
      RunComparing(fs::path("web") / "tests" / "page.vxs", expected_dir, &out);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(kSource / expected_dir)) {
    files.push_back(entry.path().stem().string());
  }
  std::sort(files.begin(), files.end());
  std::sort(compared.begin(), compared.end());
  EXPECT_EQ(compared, files);
}

}  // namespace
}  // namespace hostsim
