// Tokenising and checking script lines.
#include "hostsim/script.h"

#include <cctype>
#include <cstdlib>

namespace hostsim {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// Argument kinds: 'b' byte 0..255, 's' string, 'S' optional string, 'p' custom
// character pattern, 'a' icon action, 'm' milliseconds, 'f' snapshot file.
struct Form {
  const char* name;
  Op op;
  const char* arguments;
  const char* usage;
  const char* help;
};

constexpr Form kForms[] = {
    {"init", Op::kInit, "bbS", "init WIDTH HEIGHT [PARAMETERS]",
     "open the plug-in (16 2 or 16 1) with a start-up parameter string"},
    {"done", Op::kDone, "", "done", "close the plug-in"},
    {"pos", Op::kPosition, "bb", "pos COLUMN ROW", "place the cursor, counted from 1"},
    {"position", Op::kPosition, "bb", "position COLUMN ROW", "the same as pos"},
    {"write", Op::kWrite, "s", "write TEXT", "write at the cursor"},
    {"custom", Op::kCustom, "bp", "custom INDEX B0,...,B7",
     "define custom character INDEX (1..8) from eight rows in hex"},
    {"customindex", Op::kCustomIndex, "b", "customindex INDEX",
     "print the character code of custom character INDEX"},
    {"contrast", Op::kContrast, "b", "contrast LEVEL", "set the contrast, 0..255"},
    {"brightness", Op::kBrightness, "b", "brightness LEVEL", "set the brightness, 0..255"},
    {"fan", Op::kFan, "ab", "fan ACTION NUMBER",
     "icon command: ACTION off, on, blink (or 0..255) on icon NUMBER"},
    {"wait", Op::kWait, "m", "wait MILLISECONDS", "let time pass (icons animate)"},
    {"snapshot", Op::kSnapshot, "f", "snapshot FILE",
     "save the panel as FILE.png (picture) or FILE.txt (text art)"},
    {"show", Op::kShow, "", "show", "print the panel"},
    {"log", Op::kLog, "", "log", "print the packets received since the last log"},
    {"echo", Op::kEcho, "s", "echo TEXT", "print TEXT"},
    {"name", Op::kName, "", "name", "print the plug-in's display name"},
    {"usage", Op::kUsage, "", "usage", "print the plug-in's usage text"},
    {"defaults", Op::kDefaults, "", "defaults", "print the plug-in's default parameters"},
};

constexpr std::uint32_t kMaxWaitMs = 600000;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Resolves one escape starting at line[*at] == '\\'; advances *at past it.
bool Escape(const std::string& line, std::size_t* at, std::string* out, std::string* error) {
  const std::size_t start = *at;
  if (start + 1 >= line.size()) {
    *error = "a backslash ends the line; write \\\\ for a backslash";
    return false;
  }
  const char kind = line[start + 1];
  *at = start + 2;
  switch (kind) {
    case '\\':
    case '"':
      *out += kind;
      return true;
    case 'n':
      *out += '\n';
      return true;
    case 't':
      *out += '\t';
      return true;
    case 'x': {
      const int high = start + 2 < line.size() ? HexValue(line[start + 2]) : -1;
      const int low = start + 3 < line.size() ? HexValue(line[start + 3]) : -1;
      if (high < 0 || low < 0) {
        *error = "\\x needs two hex digits, as in \\x8d";
        return false;
      }
      if (high == 0 && low == 0) {
        *error = "\\x00 cannot be written: byte 0 ends the text";
        return false;
      }
      *out += static_cast<char>(high * 16 + low);
      *at = start + 4;
      return true;
    }
    default:
      *error = std::string("unknown escape \\") + kind + " (use \\xHH, \\\\, \\\", \\n or \\t)";
      return false;
  }
}

// Splits a line into tokens; `*source` receives the line without its comment.
bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* source,
              std::string* error) {
  std::size_t at = 0;
  std::size_t end_of_code = 0;
  while (true) {
    while (at < line.size() && IsBlank(line[at])) {
      ++at;
    }
    if (at >= line.size() || line[at] == '#') {
      break;
    }
    Token token;
    if (line[at] == '"') {
      token.quoted = true;
      ++at;
      bool closed = false;
      while (at < line.size()) {
        if (line[at] == '"') {
          closed = true;
          ++at;
          break;
        }
        if (line[at] == '\\') {
          if (!Escape(line, &at, &token.text, error)) {
            return false;
          }
        } else {
          token.text += line[at++];
        }
      }
      if (!closed) {
        *error = "the string has no closing quote";
        return false;
      }
      if (at < line.size() && !IsBlank(line[at]) && line[at] != '#') {
        *error = "a blank must follow the closing quote";
        return false;
      }
    } else {
      while (at < line.size() && !IsBlank(line[at])) {
        if (line[at] == '"') {
          *error = "a quote inside a word; put the whole argument in quotes";
          return false;
        }
        if (line[at] == '\\') {
          if (!Escape(line, &at, &token.text, error)) {
            return false;
          }
        } else {
          token.text += line[at++];
        }
      }
    }
    end_of_code = at;
    tokens->push_back(token);
  }
  *source = line.substr(0, end_of_code);
  const std::size_t first = source->find_first_not_of(" \t");
  *source = first == std::string::npos ? std::string() : source->substr(first);
  return true;
}

bool ParseNumber(const std::string& text, std::uint32_t max, std::uint32_t* value) {
  if (text.empty()) {
    return false;
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  std::uint64_t result = 0;
  for (const char c : digits) {
    const int digit = hex ? HexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) {
      return false;
    }
    result = result * (hex ? 16u : 10u) + static_cast<std::uint64_t>(digit);
    if (result > max) {
      return false;
    }
  }
  *value = static_cast<std::uint32_t>(result);
  return !digits.empty();
}

bool IsNumeral(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0 && c != 'x' && c != 'X') {
      return false;
    }
  }
  return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

bool NumberArgument(const std::string& command, const Token& token, std::uint32_t max,
                    const std::string& what, std::uint32_t* value, std::string* error) {
  if (ParseNumber(token.text, max, value)) {
    return true;
  }
  if (IsNumeral(token.text)) {
    *error = "'" + command + "': " + what + " '" + token.text + "' is out of range 0.." +
             std::to_string(max);
  } else {
    *error = "'" + command + "': " + what + " '" + token.text + "' is not a number";
  }
  return false;
}

bool PatternArgument(const std::string& command, const std::string& text,
                     std::array<std::uint8_t, 8>* pattern, std::string* error) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  if (parts.size() != pattern->size()) {
    *error = "'" + command + "': the pattern needs 8 rows in hex separated by commas, got " +
             std::to_string(parts.size());
    return false;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
      part = part.substr(2);
    }
    const int high = part.size() == 2 ? HexValue(part[0]) : 0;
    const int low = part.empty() || part.size() > 2 ? -1 : HexValue(part.back());
    if (high < 0 || low < 0) {
      *error = "'" + command + "': pattern row " + std::to_string(i + 1) + " '" + parts[i] +
               "' is not a hex byte";
      return false;
    }
    (*pattern)[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const std::string tail(suffix);
  if (text.size() <= tail.size()) {
    return false;
  }
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = text[text.size() - tail.size() + i];
    if (std::tolower(static_cast<unsigned char>(c)) != tail[i]) {
      return false;
    }
  }
  return true;
}

std::string CountText(std::size_t required, std::size_t optional) {
  const std::string count = std::to_string(required);
  if (optional == 0) {
    return (required == 0 ? "no" : count) + (required == 1 ? " argument" : " arguments");
  }
  return count + " or " + std::to_string(required + optional) + " arguments";
}

// The name of argument `index` as the usage text gives it, e.g. "row".
std::string ArgumentName(const Form& form, std::size_t index) {
  std::string usage = form.usage;
  std::size_t start = 0;
  for (std::size_t word = 0; word <= index; ++word) {
    start = usage.find(' ', start) + 1;
  }
  std::string name = usage.substr(start, usage.find(' ', start) - start);
  std::string lower;
  for (const char c : name) {
    if (c != '[' && c != ']') {
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return lower;
}

}  // namespace

bool ParseLine(const std::string& line, int line_number, Command* command, bool* has_command,
               std::string* error) {
  std::vector<Token> tokens;
  std::string source;
  *has_command = false;
  if (!Tokenize(line, &tokens, &source, error)) {
    return false;
  }
  if (tokens.empty()) {
    return true;
  }
  const Token& word = tokens.front();
  const Form* form = nullptr;
  for (const Form& candidate : kForms) {
    if (!word.quoted && word.text == candidate.name) {
      form = &candidate;
    }
  }
  if (form == nullptr) {
    *error = "unknown command '" + word.text + "' (hostsim --help lists the commands)";
    return false;
  }

  const std::string arguments = form->arguments;
  const std::size_t optional = arguments.find('S') != std::string::npos ? 1 : 0;
  const std::size_t required = arguments.size() - optional;
  const std::size_t given = tokens.size() - 1;
  if (given < required || given > required + optional) {
    *error = "'" + word.text + "' takes " + CountText(required, optional) + " (" + form->usage +
             "), got " + std::to_string(given);
    return false;
  }

  Command result;
  result.op = form->op;
  result.name = word.text;
  result.line = line_number;
  result.source = source;
  const std::string& name = word.text;
  for (std::size_t i = 0; i < given; ++i) {
    const Token& token = tokens[i + 1];
    std::uint32_t value = 0;
    switch (arguments[i]) {
      case 'b':
        if (!NumberArgument(name, token, 255, ArgumentName(*form, i), &value, error)) {
          return false;
        }
        result.numbers.push_back(value);
        break;
      case 'm':
        if (!NumberArgument(name, token, kMaxWaitMs, ArgumentName(*form, i), &value, error)) {
          return false;
        }
        result.numbers.push_back(value);
        break;
      case 'a':
        if (token.text == "off" || token.text == "on" || token.text == "blink") {
          value = token.text == "off" ? 1 : (token.text == "on" ? 2 : 3);
        } else if (!ParseNumber(token.text, 255, &value)) {
          *error = "'" + name + "': action '" + token.text +
                   "' is not off, on, blink or a number 0..255";
          return false;
        }
        result.numbers.push_back(value);
        break;
      case 'p':
        if (!PatternArgument(name, token.text, &result.pattern, error)) {
          return false;
        }
        break;
      case 'f':
        if (!EndsWith(token.text, ".png") && !EndsWith(token.text, ".txt")) {
          *error = "'" + name + "': the file name '" + token.text + "' must end in .png or .txt";
          return false;
        }
        result.text = token.text;
        break;
      default:  // 's' and 'S'
        result.text = token.text;
        break;
    }
  }
  *command = result;
  *has_command = true;
  return true;
}

bool ParseScript(const std::string& script, std::vector<Command>* commands, ParseError* error) {
  int line_number = 0;
  // Editors on Windows may start a UTF-8 file with a byte-order mark.
  const std::string mark = "\xEF\xBB\xBF";
  std::size_t start = script.rfind(mark, 0) == 0 ? mark.size() : 0;
  while (start <= script.size()) {
    std::size_t end = script.find('\n', start);
    if (end == std::string::npos) {
      end = script.size();
    }
    ++line_number;
    Command command;
    bool has_command = false;
    std::string message;
    if (!ParseLine(script.substr(start, end - start), line_number, &command, &has_command,
                   &message)) {
      error->line = line_number;
      error->message = message;
      return false;
    }
    if (has_command) {
      commands->push_back(command);
    }
    start = end + 1;
  }
  return true;
}

const char* ScriptHelp() {
  static const std::string text = [] {
    // Each command's usage, then its help, wrapped to fit 80 columns.
    constexpr std::size_t kHelpColumn = 34;
    constexpr std::size_t kWidth = 79;
    std::string help;
    for (const Form& form : kForms) {
      std::string line = "  " + std::string(form.usage);
      line.resize(line.size() < kHelpColumn ? kHelpColumn : line.size() + 1, ' ');
      const std::string words = form.help;
      std::size_t at = 0;
      while (at < words.size()) {
        std::size_t end = words.find(' ', at);
        end = end == std::string::npos ? words.size() : end;
        if (line.size() > kHelpColumn && line.size() + (end - at) > kWidth) {
          help += line + "\n";
          line = std::string(kHelpColumn, ' ');
        } else if (line.size() > kHelpColumn && line.back() != ' ') {
          line += ' ';
        }
        line += words.substr(at, end - at);
        at = end + 1;
      }
      help += line + "\n";
    }
    help +=
        "Strings go in double quotes; \\xHH writes any byte (accented letters, small\n"
        "digits), \\\\ a backslash, \\\" a quote. '#' starts a comment. A script may\n"
        "start with a UTF-8 byte-order mark.\n"
        "Snapshots go into the directory of -o. In text art (FILE.txt, --art) the clock\n"
        "that 'done' gave the panel reads \"the local time at 'done'\" when it is that\n"
        "time, and the panel's clock is drawn at a fixed time, which that line names,\n"
        "so that the art of one run compares equal to that of another.\n";
    return help;
  }();
  return text.c_str();
}

}  // namespace hostsim
