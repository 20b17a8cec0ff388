// Running a script against a real plug-in: the plug-in and the panel emulator
// are loaded by path, the plug-in's entry points are called in the order a host
// keeps, and the emulated panel is printed, logged and saved as the script goes.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/panel_api.h"
#include "hostsim/script.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"

namespace hostsim {

// The plug-in and the emulator of the build that made this host simulator, and
// the directory in its build tree where snapshots go unless -o names another.
std::string DefaultPluginPath();
std::string DefaultEmulatorPath();
std::string DefaultOutputDirectory();

struct Options {
  std::string plugin_path = DefaultPluginPath();
  std::string emulator_path = DefaultEmulatorPath();
  std::string output_directory = DefaultOutputDirectory();  // snapshot files go here
  std::string art_directory;  // every snapshot also as text art NAME.txt here; empty: none
  // The panel as the state file at this path shows it (written by usbpanel
  // --state), instead of the emulator's model; for a vendor library, such as
  // the bridge, that drives the emulated panel on USB. Empty: the emulator's.
  std::string panel_state_path;
  bool log = false;         // print every call the panel receives
  bool quiet = false;       // no step headers and no panel after each step
  bool ascii = false;       // '#' and '.' instead of block characters
  bool live = false;        // redraw the panel while waiting, as the icons change
  std::size_t columns = 0;  // the terminal's width, which the panel is drawn to fit; 0: any
  bool panels = true;       // print the panel after each step (and live); false: only 'show'
};

// Receives each snapshot instead of files being written (tests compare them):
// the panel state and the text art that a .txt snapshot would hold. For
// snapshots taken while the plug-in is open the state holds the three icon
// packets that followed the snapshot command.
using SnapshotHook =
    std::function<void(const Command&, const VxPanelState&, const std::string& text)>;

// Who is to blame when a command cannot run: the script line, an option that
// names a file or directory that will not do (-p, -m, -o, --art), or the build,
// when no option was given and the build's own file will not do.
enum class Fault { kLine, kOption, kBuild };

class Session {
 public:
  Session(Options options, std::ostream& out);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void SetSnapshotHook(SnapshotHook hook) { hook_ = std::move(hook); }

  // Makes the directories that -o and --art name, when given, before the
  // script runs; false with `*error` naming the option when one will not do.
  bool PrepareOutput(std::string* error);

  // Runs one command; false with `*error` set when it cannot. The message of
  // a fault of an option or of the build names the option and path itself.
  bool Run(const Command& command, std::string* error);

  // Who is to blame for the last failed Run.
  Fault LastFault() const { return fault_; }

  // Closes a plug-in the script left open (as a host does before unloading
  // it), prints the final panel unless `quietly`, and unloads both libraries.
  void Finish(bool quietly);

 private:
  enum class Phase { kClosed, kOpen, kDone };

  struct PanelReader {
    decltype(&VxPanel_ApiVersion) ApiVersion = nullptr;
    decltype(&VxPanel_GetState) GetState = nullptr;
    decltype(&VxPanel_GetLogEntry) GetLogEntry = nullptr;
    decltype(&VxPanel_Reset) Reset = nullptr;
  };

  bool Load(std::string* error);
  bool LoadEmulator(std::string* error);
  bool LoadPlugin(std::string* error);
  bool CheckOrder(const Command& command, std::string* error) const;
  bool Call(const Command& command, std::string* error);
  bool Snapshot(const Command& command, std::string* error);
  void Wait(std::uint32_t milliseconds);

  // Sets `*error` to a fault of the file or directory that `option` names (or
  // of the build's own, when `path` is the option's default) and returns false.
  bool OptionFault(const char* option, const std::string& path, bool given, const std::string& what,
                   std::string* error);
  // Makes the snapshot or art directory; a failure is the option's.
  bool MakeOptionDirectory(const char* option, const std::string& directory, bool given,
                           std::string* error);
  // The text art of a snapshot. The clock the plug-in gave the panel at the
  // last 'done' reads "the local time at 'done'" when it is that time, and the
  // panel's clock is then drawn at a fixed time, so that the art of a run
  // compares equal to that of any other run.
  std::string SnapshotText(const VxPanelState& state, const std::string& comment) const;

  // False when the library in the emulator's place is a vendor library
  // without the panel model, such as the bridge to a real panel, and no
  // panel state file was given either.
  bool HasPanel() const { return HasEmulator() || !options_.panel_state_path.empty(); }
  // True when the panel shown is the emulator library's model, which also
  // sees the library's own calls and keeps their log.
  bool HasEmulator() const { return panel_.GetState != nullptr; }
  VxPanelState ReadState() const;
  // The state once a panel elsewhere (panel_state_path) has taken what was
  // sent to it: when it has not changed for one poll, at most two seconds.
  VxPanelState ReadSettledState() const;
  // The state once three new icon packets have arrived (the plug-in open), or
  // with only the last icon packet counted (closed), so that blinking and
  // turning segments are told apart from steady ones.
  VxPanelState SampleIcons() const;
  void PrintPanel(const VxPanelState& state, bool redraw);
  void PrintPanelIfChanged();
  void PrintLog();
  void Print(const std::string& text);

  Options options_;
  std::ostream& out_;
  SnapshotHook hook_;
  platform::Library* plugin_ = nullptr;
  platform::Library* emulator_ = nullptr;
  plugin::EntryPoints api_;
  PanelReader panel_;
  Phase phase_ = Phase::kClosed;
  bool finished_ = false;
  Fault fault_ = Fault::kLine;

  // The local time, as the panel's clock shows it, just before and just after
  // the last 'done'; empty before the first.
  std::string done_from_;
  std::string done_to_;

  VxPanelState shown_{};  // the state last printed
  bool shown_any_ = false;
  std::size_t panel_lines_ = 0;  // lines of the last panel printed ...
  bool panel_is_last_ = false;   // ... if nothing was printed after it
  std::uint64_t log_next_ = 0;   // the next log entry to print
};

// Runs a whole script. Returns 0; or after the first command that fails 1,
// with "NAME:LINE: message" written to `err`; or, when an option is to blame,
// 2 with "hostsim: message" (1 when the build's own file is). The plug-in is
// closed either way.
int RunScript(const std::vector<Command>& commands, const std::string& script_name,
              const Options& options, std::ostream& out, std::ostream& err, SnapshotHook hook = {});

}  // namespace hostsim
