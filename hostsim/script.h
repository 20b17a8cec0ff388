// The host simulator's script language: one command per line, arguments
// separated by blanks, strings in double quotes with escapes for any byte
// (\xHH, \\, \", \n, \t), '#' to the end of the line a comment. The whole
// script is checked before anything runs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hostsim {

enum class Op {
  kInit,         // init WIDTH HEIGHT [PARAMETERS]
  kDone,         // done
  kPosition,     // pos COLUMN ROW            (1-based, as the host counts)
  kWrite,        // write TEXT
  kCustom,       // custom INDEX B0,B1,...,B7 (eight pattern rows in hex)
  kCustomIndex,  // customindex INDEX
  kContrast,     // contrast 0..255
  kBrightness,   // brightness 0..255
  kFan,          // fan ACTION NUMBER         (ACTION: off, on, blink or 0..255)
  kWait,         // wait MILLISECONDS
  kSnapshot,     // snapshot FILE.png | FILE.txt
  kShow,         // show
  kLog,          // log
  kEcho,         // echo TEXT
  kName,         // name      (the plug-in's display name)
  kUsage,        // usage
  kDefaults,     // defaults  (the default parameter string)
};

struct Command {
  Op op = Op::kShow;
  std::string name;                    // the command word as written
  int line = 0;                        // 1-based line number in its source
  std::string source;                  // the line without its comment, for messages and headers
  std::vector<std::uint32_t> numbers;  // numeric arguments in order
  std::string text;                    // the string argument, escapes resolved
  std::array<std::uint8_t, 8> pattern{};
};

struct ParseError {
  int line = 0;
  std::string message;
};

// Parses a whole script, which may start with a UTF-8 byte-order mark; false
// with `*error` set at the first faulty line.
bool ParseScript(const std::string& script, std::vector<Command>* commands, ParseError* error);

// Parses one line. A blank or comment-only line sets `*has_command` false.
// False with `*error` set (without the line number) when the line is faulty.
bool ParseLine(const std::string& line, int line_number, Command* command, bool* has_command,
               std::string* error);

// The commands, one a line, with their arguments: for --help.
const char* ScriptHelp();

}  // namespace hostsim
