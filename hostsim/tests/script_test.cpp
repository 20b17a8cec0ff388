// The script language: what each line turns into, and the message for each
// kind of faulty line.
#include "hostsim/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hostsim {
namespace {

struct GoodLine {
  const char* line;
  Op op;
  std::vector<std::uint32_t> numbers;
  std::string text;
};

void PrintTo(const GoodLine& c, std::ostream* out) {
  *out << c.line;
}

class ParsesLine : public ::testing::TestWithParam<GoodLine> {};

TEST_P(ParsesLine, IntoItsCommandAndArguments) {
  Command command;
  bool has_command = false;
  std::string error;
  ASSERT_TRUE(ParseLine(GetParam().line, 7, &command, &has_command, &error)) << error;
  ASSERT_TRUE(has_command);
  EXPECT_EQ(command.op, GetParam().op);
  EXPECT_EQ(command.numbers, GetParam().numbers);
  EXPECT_EQ(command.text, GetParam().text);
  EXPECT_EQ(command.line, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Script, ParsesLine,
    ::testing::Values(
        GoodLine{"init 16 2 \"clock audio\"", Op::kInit, {16, 2}, "clock audio"},
        GoodLine{"init 16 1", Op::kInit, {16, 1}, ""},
        GoodLine{"  pos 1 2   # second row", Op::kPosition, {1, 2}, ""},
        GoodLine{"position 0x10 2", Op::kPosition, {16, 2}, ""},
        GoodLine{"write \"Caf\\x96 \\\"ok\\\" \\\\\"", Op::kWrite, {}, "Caf\x96 \"ok\" \\"},
        GoodLine{"write Hello#not-a-comment", Op::kWrite, {}, "Hello#not-a-comment"},
        GoodLine{"write \"# inside quotes\"", Op::kWrite, {}, "# inside quotes"},
        GoodLine{"write \"\"", Op::kWrite, {}, ""}, GoodLine{"fan 2 51", Op::kFan, {2, 51}, ""},
        GoodLine{"fan blink 7", Op::kFan, {3, 7}, ""},
        GoodLine{"fan off 50", Op::kFan, {1, 50}, ""},
        GoodLine{"contrast 255", Op::kContrast, {255}, ""},
        GoodLine{"brightness 5", Op::kBrightness, {5}, ""},
        GoodLine{"wait 1500", Op::kWait, {1500}, ""},
        GoodLine{"snapshot out/step1.PNG", Op::kSnapshot, {}, "out/step1.PNG"},
        GoodLine{"snapshot \"step one.txt\"", Op::kSnapshot, {}, "step one.txt"},
        GoodLine{"customindex 1", Op::kCustomIndex, {1}, ""}, GoodLine{"done", Op::kDone, {}, ""},
        GoodLine{"echo \"tab\\there\\n\"", Op::kEcho, {}, "tab\there\n"}));

TEST(Script, CustomPatternIsEightHexRows) {
  Command command;
  bool has_command = false;
  std::string error;
  ASSERT_TRUE(ParseLine("custom 1 1f,11,0x11,1,11,11,1F,00", 1, &command, &has_command, &error))
      << error;
  EXPECT_EQ(command.op, Op::kCustom);
  EXPECT_EQ(command.numbers, std::vector<std::uint32_t>{1});
  const std::array<std::uint8_t, 8> expected = {0x1f, 0x11, 0x11, 0x01, 0x11, 0x11, 0x1f, 0x00};
  EXPECT_EQ(command.pattern, expected);
}

TEST(Script, BlankAndCommentLinesHoldNoCommand) {
  for (const char* line : {"", "   ", "# a comment", "\t# indented comment", "\r"}) {
    Command command;
    bool has_command = true;
    std::string error;
    EXPECT_TRUE(ParseLine(line, 1, &command, &has_command, &error)) << line;
    EXPECT_FALSE(has_command) << line;
  }
}

TEST(Script, SourceKeepsTheLineWithoutItsComment) {
  Command command;
  bool has_command = false;
  std::string error;
  ASSERT_TRUE(ParseLine("  write \"a # b\"   # note", 1, &command, &has_command, &error));
  EXPECT_EQ(command.source, "write \"a # b\"");
}

struct BadLine {
  const char* line;
  const char* message;
};

void PrintTo(const BadLine& c, std::ostream* out) {
  *out << c.line;
}

class RejectsLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(RejectsLine, WithAMessageThatSaysWhy) {
  Command command;
  bool has_command = false;
  std::string error;
  EXPECT_FALSE(ParseLine(GetParam().line, 1, &command, &has_command, &error));
  EXPECT_EQ(error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Script, RejectsLine,
    ::testing::Values(
        BadLine{"wirte \"Hello\"", "unknown command 'wirte' (hostsim --help lists the commands)"},
        BadLine{"\"write\" x", "unknown command 'write' (hostsim --help lists the commands)"},
        BadLine{"pos 1", "'pos' takes 2 arguments (pos COLUMN ROW), got 1"},
        BadLine{"done now", "'done' takes no arguments (done), got 1"},
        BadLine{"init 16", "'init' takes 2 or 3 arguments (init WIDTH HEIGHT [PARAMETERS]), got 1"},
        BadLine{"write", "'write' takes 1 argument (write TEXT), got 0"},
        BadLine{"pos 1 x", "'pos': row 'x' is not a number"},
        BadLine{"contrast 256", "'contrast': level '256' is out of range 0..255"},
        BadLine{"contrast -1", "'contrast': level '-1' is not a number"},
        BadLine{"wait 600001", "'wait': milliseconds '600001' is out of range 0..600000"},
        BadLine{"fan blnk 7", "'fan': action 'blnk' is not off, on, blink or a number 0..255"},
        BadLine{"write \"Hello", "the string has no closing quote"},
        BadLine{"write \"a\"b", "a blank must follow the closing quote"},
        BadLine{"write a\"b\"", "a quote inside a word; put the whole argument in quotes"},
        BadLine{"write \"\\x8\"", "\\x needs two hex digits, as in \\x8d"},
        BadLine{"write \"\\x00\"", "\\x00 cannot be written: byte 0 ends the text"},
        BadLine{"write \"\\q\"", "unknown escape \\q (use \\xHH, \\\\, \\\", \\n or \\t)"},
        BadLine{"write \"\\", "a backslash ends the line; write \\\\ for a backslash"},
        BadLine{"custom 1 1f,11,11",
                "'custom': the pattern needs 8 rows in hex separated by commas, got 3"},
        BadLine{"custom 1 1f,11,11,zz,11,11,1f,00",
                "'custom': pattern row 4 'zz' is not a hex byte"},
        BadLine{"custom 1 1f,11,11,,11,11,1f,00", "'custom': pattern row 4 '' is not a hex byte"},
        BadLine{"custom 1 1f,11,11,123,11,11,1f,00",
                "'custom': pattern row 4 '123' is not a hex byte"},
        BadLine{"snapshot panel.jpg",
                "'snapshot': the file name 'panel.jpg' must end in .png or .txt"},
        BadLine{"snapshot .png", "'snapshot': the file name '.png' must end in .png or .txt"}));

TEST(Script, ReportsTheLineOfTheFirstFault) {
  const std::string script =
      "# demo\n"
      "init 16 2\n"
      "\n"
      "write \"ok\"\n"
      "pos 1 2 3\n"
      "wirte x\n";
  std::vector<Command> commands;
  ParseError error;
  EXPECT_FALSE(ParseScript(script, &commands, &error));
  EXPECT_EQ(error.line, 5);
  EXPECT_EQ(error.message, "'pos' takes 2 arguments (pos COLUMN ROW), got 3");
}

// A script saved on Windows may start with a UTF-8 byte-order mark and end its
// lines in CR LF.
TEST(Script, NumbersCommandsByTheirLines) {
  std::vector<Command> commands;
  ParseError error;
  ASSERT_TRUE(ParseScript("\xEF\xBB\xBFinit 16 2\n\n# c\nwrite x\r\ndone", &commands, &error))
      << error.message;
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].line, 1);
  EXPECT_EQ(commands[1].line, 4);
  EXPECT_EQ(commands[1].text, "x");
  EXPECT_EQ(commands[2].line, 5);
}

}  // namespace
}  // namespace hostsim
