// Running a script against a real plug-in: the plug-in and the panel emulator
// are loaded by path, the plug-in's entry points are called in the order a host
// keeps, and the emulated panel is printed, logged and saved as the script goes.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/panel_api.h"
#include "hostsim/script.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"

namespace hostsim {

// The plug-in and the emulator of the build that made this host simulator.
std::string DefaultPluginPath();
std::string DefaultEmulatorPath();

struct Options {
  std::string plugin_path = DefaultPluginPath();
  std::string emulator_path = DefaultEmulatorPath();
  std::string output_directory;  // snapshot files go here; empty: the current directory
  std::string art_directory;     // every snapshot also as text art NAME.txt here; empty: none
  bool log = false;              // print every call the panel receives
  bool quiet = false;            // no step headers and no panel after each step
  bool ascii = false;            // '#' and '.' instead of block characters
  bool live = false;             // redraw the panel while waiting, as the icons change
};

// Receives each snapshot instead of files being written (tests compare them).
// For snapshots taken while the plug-in is open the state holds the three icon
// packets that followed the snapshot command.
using SnapshotHook = std::function<void(const Command&, const VxPanelState&)>;

class Session {
 public:
  Session(Options options, std::ostream& out);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void SetSnapshotHook(SnapshotHook hook) { hook_ = std::move(hook); }

  // Runs one command; false with `*error` set when it cannot.
  bool Run(const Command& command, std::string* error);

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

  // False when the library in the emulator's place is a vendor library
  // without the panel model, such as the bridge to a real panel.
  bool HasPanel() const { return panel_.GetState != nullptr; }
  VxPanelState ReadState() const;
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

  VxPanelState shown_{};  // the state last printed
  bool shown_any_ = false;
  std::size_t panel_lines_ = 0;  // lines of the last panel printed ...
  bool panel_is_last_ = false;   // ... if nothing was printed after it
  std::uint64_t log_next_ = 0;   // the next log entry to print
};

// Runs a whole script. Returns 0, or 1 after writing "NAME:LINE: message" to
// `err` for the first command that fails; the plug-in is closed either way.
int RunScript(const std::vector<Command>& commands, const std::string& script_name,
              const Options& options, std::ostream& out, std::ostream& err, SnapshotHook hook = {});

}  // namespace hostsim
