// Command-line options of the host simulator, reading the script, and running it.
#include "hostsim/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "emulator/render.h"
#include "hostsim/script.h"
#include "hostsim/session.h"

namespace hostsim {
namespace {

constexpr int kExitScript = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: hostsim [OPTIONS] SCRIPT\n"
    "       hostsim [OPTIONS] -e LINE [-e LINE ...]\n"
    "Loads a display plug-in and the panel emulator, runs the script's host calls\n"
    "and shows what the plug-in puts on the emulated panel. A SCRIPT of - is read\n"
    "from standard input.\n"
    "\n"
    "Options:\n"
    "  -p, --plugin PATH     the plug-in to load (default: the build's)\n"
    "  -m, --emulator PATH   the panel emulator library (default: the build's), or\n"
    "                        a vendor library such as the bridge to a real panel\n"
    "                        (bridge/libsg_vfd.so, bridge/sg_vfd.dll): the plug-in\n"
    "                        then drives that panel, and no panel, log or\n"
    "                        snapshot is shown\n"
    "  -e, --execute LINE    run LINE as a script line; may be repeated\n"
    "  -o, --output DIR      directory for snapshot files, made when missing\n"
    "                        (default: snapshots/ in this hostsim's build directory)\n"
    "      --art DIR         also save every snapshot as text art DIR/NAME.txt\n"
    "      --panel-state FILE  show the panel whose state FILE holds, as the\n"
    "                        emulated panel on USB writes it (usbpanel --state\n"
    "                        FILE), for a vendor library that drives that panel\n"
    "                        (-m the bridge); snapshots and pictures come from it,\n"
    "                        the log stays empty\n"
    "  -l, --log             print every call the panel receives\n"
    "  -q, --quiet           print only what the script asks for (show, log, echo)\n"
    "      --ascii           draw the panel with # and . instead of block characters\n"
    "      --live            redraw the panel while waiting (default in a terminal)\n"
    "      --no-live         print the panel once after each wait\n"
    "  -h, --help            print this help\n"
    "In a terminal the panel is drawn to fit its width: in quadrant blocks, two\n"
    "pixels a column, where the full picture (98 columns) is too wide; where even\n"
    "that (63 columns) or, with --ascii, the full picture does not fit, the log\n"
    "(--log) is printed instead of the panel, and 'show' still prints it.\n"
    "\n"
    "Exit status: 0 when the script has run; 1 when the script cannot be read or a\n"
    "command fails (FILE:LINE: says which); 2 for a faulty command line or an\n"
    "option that names a file or directory that will not do (the message names\n"
    "the option).\n"
    "\n"
    "Script commands, one a line:\n";

// Reads the whole file; false with the system's reason in `*reason`.
bool ReadFile(const std::string& path, std::string* contents, std::string* reason) {
  std::error_code failure;
  if (std::filesystem::is_directory(path, failure)) {
    *reason = std::strerror(EISDIR);
    return false;
  }
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *reason = std::strerror(errno != 0 ? errno : ENOENT);
    return false;
  }
  char buffer[4096];
  std::size_t length = 0;
  while ((length = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    contents->append(buffer, length);
  }
  const bool failed = std::ferror(file) != 0;
  const int cause = errno;
  std::fclose(file);
  if (failed) {
    *reason = std::strerror(cause != 0 ? cause : EIO);
    return false;
  }
  return true;
}

}  // namespace

int HostsimMain(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                std::size_t terminal_columns) {
  Options options;
  options.live = terminal_columns != 0;
  options.columns = terminal_columns;
  std::vector<std::string> lines;
  std::string script_path;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= arguments.size()) {
        err << "hostsim: " << argument << " needs a value\n";
        return false;
      }
      *target = arguments[++i];
      return true;
    };
    bool ok = true;
    if (argument == "-h" || argument == "--help") {
      out << kUsage << ScriptHelp() << "Snapshots without -o go into " << DefaultOutputDirectory()
          << "\n";
      return 0;
    } else if (argument == "-p" || argument == "--plugin") {
      ok = value(&options.plugin_path);
    } else if (argument == "-m" || argument == "--emulator") {
      ok = value(&options.emulator_path);
    } else if (argument == "-o" || argument == "--output") {
      ok = value(&options.output_directory);
    } else if (argument == "--art") {
      ok = value(&options.art_directory);
    } else if (argument == "--panel-state") {
      ok = value(&options.panel_state_path);
    } else if (argument == "-e" || argument == "--execute") {
      std::string line;
      ok = value(&line);
      lines.push_back(line);
    } else if (argument == "-l" || argument == "--log") {
      options.log = true;
    } else if (argument == "-q" || argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--ascii") {
      options.ascii = true;
    } else if (argument == "--live") {
      options.live = true;
    } else if (argument == "--no-live") {
      options.live = false;
    } else if (!argument.empty() && argument[0] == '-' && argument != "-") {
      err << "hostsim: unknown option " << argument << " (hostsim --help lists them)\n";
      return kExitUsage;
    } else if (script_path.empty()) {
      script_path = argument;
    } else {
      err << "hostsim: more than one script: " << script_path << " and " << argument << "\n";
      return kExitUsage;
    }
    if (!ok) {
      return kExitUsage;
    }
  }

  std::string script;
  std::string script_name;
  if (!lines.empty() && !script_path.empty()) {
    err << "hostsim: give a script file or -e lines, not both\n";
    return kExitUsage;
  }
  if (!lines.empty()) {
    script_name = "-e";
    for (const std::string& line : lines) {
      script += line + "\n";
    }
  } else if (script_path.empty()) {
    err << "hostsim: no script given (hostsim --help)\n";
    return kExitUsage;
  } else {
    script_name = script_path == "-" ? "stdin" : script_path;
    if (script_path == "-") {
      std::ostringstream buffer;
      buffer << std::cin.rdbuf();
      script = buffer.str();
    } else if (std::string reason; !ReadFile(script_path, &script, &reason)) {
      err << "hostsim: cannot read the script '" << script_path << "': " << reason << "\n";
      return kExitScript;
    }
  }

  emulator::TerminalStyle style;
  style.ascii = options.ascii;
  style.columns = options.columns;
  if (!options.quiet && !emulator::TerminalFits(style)) {
    // Lines wider than the terminal wrap, and a live redraw would then go
    // back too few lines and leave parts of earlier pictures behind.
    options.panels = false;
    options.log = true;
    out << "hostsim: the terminal is " << options.columns << " columns wide and the panel needs "
        << (options.ascii ? emulator::kTerminalFullColumns : emulator::kTerminalCompactColumns)
        << (options.ascii ? " with --ascii" : "")
        << ": printing the log of the panel's calls instead of the panel\n";
  }

  std::vector<Command> commands;
  ParseError error;
  if (!ParseScript(script, &commands, &error)) {
    err << script_name << ":" << error.line << ": " << error.message << "\n";
    return kExitScript;
  }
  return RunScript(commands, script_name, options, out, err);
}

}  // namespace hostsim
