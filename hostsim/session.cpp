// The host simulator's run of a script: loading, the calling order, output.
#include "hostsim/session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "emulator/decode.h"
#include "emulator/render.h"
#include "emulator/state_file.h"
#include "panel/packet.h"
#include "platform/host.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kPollMs = 40;
constexpr std::uint32_t kIconSamples = 3;
// The time at which the text art draws the panel's clock when it shows the
// local time of the last 'done': 2000-01-01 12:34:56 (year as its low 8 bits).
constexpr std::uint8_t kArtClock[6] = {2000 % 256, 1, 1, 12, 34, 56};
// Three refresh cycles of the plug-in's icon thread, with room for a slow host.
constexpr std::chrono::milliseconds kSampleTimeout{4000};
// How long a panel elsewhere may take to show what the script has sent.
constexpr std::chrono::milliseconds kSettleTimeout{2000};

bool SameVisibleState(const VxPanelState& a, const VxPanelState& b) {
  return std::memcmp(a.picture, b.picture, sizeof a.picture) == 0 && a.icons == b.icons &&
         a.contrast == b.contrast && a.mode == b.mode &&
         std::memcmp(a.clock, b.clock, sizeof a.clock) == 0;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::size_t CountLines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Makes `directory` and those above it; false with the system's reason in
// `*reason` when it cannot, or when a file of that name is in the way.
bool MakeDirectory(const fs::path& directory, std::string* reason) {
  std::error_code failure;
  if (directory.empty() || fs::is_directory(directory, failure)) {
    return true;
  }
  fs::create_directories(directory, failure);
  if (failure) {
    *reason = failure.message();
    return false;
  }
  if (!fs::is_directory(directory, failure)) {
    *reason = std::strerror(ENOTDIR);
    return false;
  }
  return true;
}

// Writes `bytes` to the file at `path`, replacing it; false with the message,
// naming the system's reason, in `*error`.
bool WriteFile(const fs::path& path, const void* bytes, std::size_t size, std::string* error) {
  std::string reason;
  if (!MakeDirectory(path.parent_path(), &reason)) {
    *error = "cannot make the directory '" + path.parent_path().string() + "': " + reason;
    return false;
  }
  // The reason of the first step that fails: opening, writing or closing.
  errno = 0;
  int cause = 0;
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) {
    cause = errno;
  } else {
    if (std::fwrite(bytes, 1, size, file) != size) {
      cause = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(file) != 0 && cause == 0) {
      cause = errno != 0 ? errno : EIO;
    }
  }
  if (file == nullptr || cause != 0) {
    *error = "cannot write '" + path.string() +
             "': " + (cause != 0 ? std::strerror(cause) : "the system gave no reason");
    return false;
  }
  return true;
}

// The local time as the panel's clock shows it, "YYYY-MM-DD hh:mm:ss", read
// as the plug-in reads it.
std::string LocalClock() {
  const platform::LocalTime now = platform::GetLocalTime();
  const std::uint8_t clock[6] = {static_cast<std::uint8_t>(now.year & 0xff),
                                 now.month,
                                 now.day,
                                 now.hour,
                                 now.minute,
                                 now.second};
  return emulator::FormatClock(clock);
}

bool NeedsOpenPlugin(Op op) {
  switch (op) {
    case Op::kPosition:
    case Op::kWrite:
    case Op::kCustom:
    case Op::kCustomIndex:
    case Op::kContrast:
    case Op::kBrightness:
    case Op::kFan:
    case Op::kDone:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string DefaultPluginPath() {
  return VESTRIX_HOSTSIM_DEFAULT_PLUGIN;
}

std::string DefaultEmulatorPath() {
  return VESTRIX_HOSTSIM_DEFAULT_EMULATOR;
}

std::string DefaultOutputDirectory() {
  return VESTRIX_HOSTSIM_DEFAULT_OUTPUT;
}

Session::Session(Options options, std::ostream& out) : options_(std::move(options)), out_(out) {}

Session::~Session() {
  Finish(true);
}

bool Session::OptionFault(const char* option, const std::string& path, bool given,
                          const std::string& what, std::string* error) {
  fault_ = given ? Fault::kOption : Fault::kBuild;
  *error = given ? std::string(option) + " '" + path + "': " + what
                 : "'" + path + "', this build's own (" + option + " names another): " + what;
  return false;
}

bool Session::MakeOptionDirectory(const char* option, const std::string& directory, bool given,
                                  std::string* error) {
  std::string reason;
  if (MakeDirectory(directory, &reason)) {
    return true;
  }
  return OptionFault(option, directory, given, "cannot make the directory: " + reason, error);
}

bool Session::PrepareOutput(std::string* error) {
  const std::string& output = options_.output_directory;
  if (output != DefaultOutputDirectory() && !MakeOptionDirectory("-o", output, true, error)) {
    return false;
  }
  return options_.art_directory.empty() ||
         MakeOptionDirectory("--art", options_.art_directory, true, error);
}

void Session::Print(const std::string& text) {
  out_ << text << std::flush;
  panel_is_last_ = false;
}

bool Session::LoadEmulator(std::string* error) {
  const std::string& name = options_.emulator_path;
  const bool given = name != DefaultEmulatorPath();
  const fs::path path(name);
  // The plug-in asks for the vendor library by its plain file name, so the
  // emulator only stands in for it under that name.
  if (Lower(path.filename().string()) != Lower(platform::kVendorLibraryName)) {
    return OptionFault("-m", name, given,
                       "the panel emulator must be named " +
                           std::string(platform::kVendorLibraryName) +
                           " for the plug-in to find it, not '" + path.filename().string() + "'",
                       error);
  }
  std::error_code failure;
  const fs::path absolute = fs::absolute(path, failure);
  emulator_ = platform::OpenLibrary(absolute.string().c_str());
  if (emulator_ == nullptr) {
    char reason[512];
    platform::DescribeLoadFailure(reason, sizeof reason);
    return OptionFault("-m", name, given, std::string("cannot load the panel emulator: ") + reason,
                       error);
  }
  // The plug-in's search for the vendor library starts in this library's
  // directory.
  platform::SetLibraryDirectory(absolute.parent_path().string().c_str());
  if (!options_.panel_state_path.empty()) {
    // The panel lives elsewhere and publishes its state: the library's own
    // model, if it has one, is not the panel shown.
    VxPanelState state{};
    if (!emulator::ReadStateFile(options_.panel_state_path, &state)) {
      fault_ = Fault::kOption;
      *error = "--panel-state '" + options_.panel_state_path +
               "': not a panel state file (usbpanel --state writes one)";
      return false;
    }
    return true;
  }
  if (!platform::Resolve(emulator_, "VxPanel_ApiVersion", &panel_.ApiVersion)) {
    // A vendor library, such as the bridge to a real panel: the plug-in drives
    // the panel through it, and there is no model of the panel to show.
    Print("hostsim: '" + options_.emulator_path +
          "' is not the panel emulator: the plug-in drives the panel it serves; no panel, "
          "log or snapshot is shown here\n");
    return true;
  }
  if (!platform::Resolve(emulator_, "VxPanel_GetState", &panel_.GetState) ||
      !platform::Resolve(emulator_, "VxPanel_GetLogEntry", &panel_.GetLogEntry) ||
      !platform::Resolve(emulator_, "VxPanel_Reset", &panel_.Reset)) {
    return OptionFault("-m", name, given,
                       "the panel emulator lacks some of the VxPanel_* functions", error);
  }
  if (panel_.ApiVersion() != kVxPanelApiVersion) {
    return OptionFault("-m", name, given,
                       "the panel emulator has interface version " +
                           std::to_string(panel_.ApiVersion()) + ", this host simulator needs " +
                           std::to_string(kVxPanelApiVersion),
                       error);
  }
  panel_.Reset();
  return true;
}

bool Session::LoadPlugin(std::string* error) {
  const std::string& name = options_.plugin_path;
  const bool given = name != DefaultPluginPath();
  std::error_code failure;
  const fs::path absolute = fs::absolute(fs::path(name), failure);
  plugin_ = platform::OpenLibrary(absolute.string().c_str());
  if (plugin_ == nullptr) {
    char reason[512];
    platform::DescribeLoadFailure(reason, sizeof reason);
    return OptionFault("-p", name, given, std::string("cannot load the plug-in: ") + reason, error);
  }
  if (const char* missing = plugin::ResolveEntryPoints(plugin_, &api_); missing != nullptr) {
    platform::CloseLibrary(plugin_);
    plugin_ = nullptr;
    return OptionFault("-p", name, given,
                       std::string("the plug-in lacks the entry point ") + missing, error);
  }
  return true;
}

bool Session::Load(std::string* error) {
  if (emulator_ == nullptr && !LoadEmulator(error)) {
    return false;
  }
  return plugin_ != nullptr || LoadPlugin(error);
}

bool Session::CheckOrder(const Command& command, std::string* error) const {
  const std::string quoted = "'" + command.name + "'";
  if (command.op == Op::kInit) {
    // After 'done' a host may start the plug-in again, as when the user
    // changes the display settings; while it is open it may not.
    if (phase_ == Phase::kOpen) {
      *error = "'init' while the plug-in is open: call 'done' first";
      return false;
    }
    return true;
  }
  if (!NeedsOpenPlugin(command.op)) {
    return true;
  }
  if (phase_ == Phase::kClosed) {
    *error = quoted + " before 'init': the plug-in is not open";
    return false;
  }
  if (phase_ == Phase::kDone) {
    *error = quoted + " after 'done': the plug-in is closed";
    return false;
  }
  return true;
}

VxPanelState Session::ReadState() const {
  VxPanelState state{};
  if (!options_.panel_state_path.empty()) {
    emulator::ReadStateFile(options_.panel_state_path, &state);
  } else if (panel_.GetState != nullptr) {
    panel_.GetState(&state, sizeof state);
  }
  return state;
}

VxPanelState Session::ReadSettledState() const {
  VxPanelState state = ReadState();
  if (options_.panel_state_path.empty()) {
    return state;
  }
  // The packets reach a panel elsewhere through its device, each after the
  // one before: what the script has sent is there once nothing changes for a
  // while.
  const auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
  for (;;) {
    platform::SleepMilliseconds(kPollMs);
    const VxPanelState again = ReadState();
    if (again.sequence == state.sequence || std::chrono::steady_clock::now() > deadline) {
      return again;
    }
    state = again;
  }
}

VxPanelState Session::SampleIcons() const {
  VxPanelState state = ReadState();
  if (!HasPanel()) {
    return state;
  }
  if (phase_ != Phase::kOpen) {
    state.icon_history[0] = state.icons;
    state.icon_history_count = state.icon_history_count > 0 ? 1 : 0;
    return state;
  }
  const std::uint64_t wanted = state.command_counts[panel::kIcons] + kIconSamples;
  const auto deadline = std::chrono::steady_clock::now() + kSampleTimeout;
  while (state.command_counts[panel::kIcons] < wanted &&
         std::chrono::steady_clock::now() < deadline) {
    platform::SleepMilliseconds(kPollMs);
    state = ReadState();
  }
  return state;
}

void Session::PrintPanel(const VxPanelState& state, bool redraw) {
  if (!HasPanel()) {
    return;
  }
  emulator::TerminalStyle style;
  style.ascii = options_.ascii;
  style.columns = options_.columns;
  const std::string picture = emulator::RenderTerminal(state, style);
  if (redraw && panel_is_last_) {
    // Back over the panel printed last, and draw over it.
    out_ << "\x1b[" << panel_lines_ << "A\x1b[J";
  }
  out_ << picture << std::flush;
  panel_lines_ = CountLines(picture);
  panel_is_last_ = true;
  shown_ = state;
  shown_any_ = true;
}

void Session::PrintPanelIfChanged() {
  if (!options_.panels) {
    return;
  }
  const VxPanelState state = ReadSettledState();
  if (!shown_any_ || !SameVisibleState(state, shown_)) {
    PrintPanel(state, false);
  }
}

void Session::PrintLog() {
  if (!HasEmulator()) {
    return;
  }
  const std::uint64_t end = ReadState().sequence;
  std::string lines;
  VxPanelLogEntry entry{};
  for (; log_next_ < end; ++log_next_) {
    if (panel_.GetLogEntry(log_next_, &entry, sizeof entry)) {
      lines += emulator::DescribeEntry(entry) + "\n";
    } else if (log_next_ + kVxPanelLogCapacity < end) {
      lines += "    ... " + std::to_string(end - kVxPanelLogCapacity - log_next_) +
               " earlier entries no longer kept\n";
      log_next_ = end - kVxPanelLogCapacity - 1;
    }
  }
  if (!lines.empty()) {
    Print(lines);
  }
}

void Session::Wait(std::uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (!options_.live || options_.quiet || !options_.panels || !HasPanel()) {
    platform::SleepMilliseconds(milliseconds);
    return;
  }
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    platform::SleepMilliseconds(static_cast<std::uint32_t>(
        std::min<std::chrono::milliseconds::rep>(left.count(), kPollMs)));
    const VxPanelState state = ReadState();
    if (!shown_any_ || !SameVisibleState(state, shown_)) {
      PrintPanel(state, true);
    }
  }
}

std::string Session::SnapshotText(const VxPanelState& state, const std::string& comment) const {
  const std::string clock = emulator::FormatClock(state.clock);
  // The times compare as text: both are "YYYY-MM-DD hh:mm:ss".
  if (done_from_.empty() || !emulator::HasDate(state) || clock < done_from_ || done_to_ < clock) {
    return emulator::RenderSnapshotText(state, comment);
  }
  // The clock packet of a 'done' carries the local time of the run. The
  // panel's own clock is drawn at a fixed time instead, which the clock line
  // names, so that the text is the same in every run.
  VxPanelState shown = state;
  std::copy(std::begin(kArtClock), std::end(kArtClock), shown.clock);
  return emulator::RenderSnapshotText(shown, comment, "the local time at 'done', drawn as");
}

bool Session::Snapshot(const Command& command, std::string* error) {
  if (!HasPanel()) {
    if (!options_.quiet) {
      Print("no snapshot " + command.text + ": no panel emulator\n");
    }
    return true;
  }
  const fs::path file(command.text);
  const bool text = Lower(file.extension().string()) == ".txt";
  const bool needs_art = hook_ || text || !options_.art_directory.empty();
  const VxPanelState state = needs_art ? SampleIcons() : ReadState();
  const std::string comment =
      "panel after line " + std::to_string(command.line) + ": " + command.source;
  const std::string art = needs_art ? SnapshotText(state, comment) : std::string();
  if (hook_) {
    hook_(command, state, art);
    return true;
  }
  // A snapshot named by an absolute path goes there; any other goes into the
  // snapshot directory, which is made first.
  fs::path target = file;
  if (!file.is_absolute()) {
    const std::string& directory = options_.output_directory;
    if (!MakeOptionDirectory("-o", directory, directory != DefaultOutputDirectory(), error)) {
      return false;
    }
    target = fs::path(directory) / file;
  }
  if (text) {
    if (!WriteFile(target, art.data(), art.size(), error)) {
      return false;
    }
  } else {
    const std::vector<std::uint8_t> png = emulator::EncodePng(emulator::RenderImage(state));
    if (png.empty()) {
      *error = "cannot encode the picture";
      return false;
    }
    if (!WriteFile(target, png.data(), png.size(), error)) {
      return false;
    }
  }
  if (!options_.art_directory.empty()) {
    if (!MakeOptionDirectory("--art", options_.art_directory, true, error)) {
      return false;
    }
    fs::path name = file.filename();
    name.replace_extension(".txt");
    if (!WriteFile(fs::path(options_.art_directory) / name, art.data(), art.size(), error)) {
      return false;
    }
  }
  if (!options_.quiet) {
    Print("saved " + target.string() + "\n");
  }
  return true;
}

bool Session::Call(const Command& command, std::string* error) {
  const auto byte = [&command](std::size_t index) {
    return static_cast<std::uint8_t>(command.numbers[index]);
  };
  switch (command.op) {
    case Op::kInit: {
      const std::uint32_t inits_before = ReadState().init_calls;
      bool ok = false;
      const char* message = api_.Init(byte(0), byte(1), command.text.c_str(), &ok);
      if (message != nullptr || !ok) {
        *error = "the plug-in refused to start: " +
                 std::string(message != nullptr ? message : "(no message)");
        return false;
      }
      phase_ = Phase::kOpen;
      if (HasEmulator() && ReadState().init_calls == inits_before) {
        *error =
            "the plug-in started, but not with the panel emulator: another vendor library was "
            "found first";
        return false;
      }
      return true;
    }
    case Op::kDone:
      // The plug-in reads the local time for the panel's clock in between.
      done_from_ = LocalClock();
      api_.Done();
      done_to_ = LocalClock();
      phase_ = Phase::kDone;
      return true;
    case Op::kPosition:
      api_.SetPosition(byte(0), byte(1));
      return true;
    case Op::kWrite:
      api_.Write(command.text.c_str());
      return true;
    case Op::kCustom:
      api_.CustomChar(byte(0), command.pattern.data());
      return true;
    case Op::kCustomIndex: {
      const unsigned code = api_.CustomCharIndex(byte(0));
      char text[80];
      std::snprintf(text, sizeof text, "custom character %u is code %u (\\x%02x)\n",
                    command.numbers[0], code, code);
      Print(text);
      return true;
    }
    case Op::kContrast:
      api_.SetContrast(byte(0));
      return true;
    case Op::kBrightness:
      api_.SetBrightness(byte(0));
      return true;
    case Op::kFan:
      api_.SetFan(byte(0), byte(1));
      return true;
    case Op::kWait:
      Wait(command.numbers[0]);
      return true;
    case Op::kSnapshot:
      return Snapshot(command, error);
    case Op::kShow:
      PrintPanel(ReadSettledState(), false);
      return true;
    case Op::kLog:
      PrintLog();
      return true;
    case Op::kEcho:
      Print(command.text + "\n");
      return true;
    case Op::kName:
      Print(std::string(api_.DriverName()) + "\n");
      return true;
    case Op::kUsage:
      Print(std::string(api_.Usage()) + "\n");
      return true;
    case Op::kDefaults:
      Print(std::string(1, '"').append(api_.DefaultParameters()).append("\"\n"));
      return true;
  }
  return true;
}

bool Session::Run(const Command& command, std::string* error) {
  fault_ = Fault::kLine;
  if (!CheckOrder(command, error)) {
    return false;
  }
  if (command.op != Op::kEcho && !Load(error)) {
    return false;
  }
  const bool step_output = !options_.quiet && command.op != Op::kShow && command.op != Op::kLog;
  if (step_output) {
    std::string header = "[";
    header.append(std::to_string(command.line)).append("] ").append(command.source);
    Print(header + "\n");
  }
  const bool ok = Call(command, error);
  if (options_.log && command.op != Op::kLog) {
    PrintLog();
  }
  if (ok && step_output && command.op != Op::kEcho && command.op != Op::kSnapshot) {
    PrintPanelIfChanged();
  }
  return ok;
}

void Session::Finish(bool quietly) {
  if (finished_) {
    return;
  }
  finished_ = true;
  if (phase_ == Phase::kOpen) {
    if (!quietly && !options_.quiet) {
      Print("[end] the script left the plug-in open: done\n");
    }
    api_.Done();
    phase_ = Phase::kDone;
    if (!quietly && options_.log) {
      PrintLog();
    }
  }
  if (!quietly && !options_.quiet && plugin_ != nullptr) {
    PrintPanelIfChanged();
  }
  // The plug-in goes first: it may still hold its own reference to the emulator.
  platform::CloseLibrary(plugin_);
  plugin_ = nullptr;
  if (emulator_ != nullptr) {
    platform::SetLibraryDirectory(nullptr);
    platform::CloseLibrary(emulator_);
    emulator_ = nullptr;
  }
}

int RunScript(const std::vector<Command>& commands, const std::string& script_name,
              const Options& options, std::ostream& out, std::ostream& err, SnapshotHook hook) {
  Session session(options, out);
  session.SetSnapshotHook(std::move(hook));
  std::string error;
  if (!session.PrepareOutput(&error)) {
    err << "hostsim: " << error << std::endl;
    return 2;
  }
  for (const Command& command : commands) {
    if (!session.Run(command, &error)) {
      out << std::flush;
      switch (session.LastFault()) {
        case Fault::kLine:
          err << script_name << ":" << command.line << ": " << error << std::endl;
          break;
        case Fault::kOption:
        case Fault::kBuild:
          err << "hostsim: " << error << std::endl;
          break;
      }
      session.Finish(true);
      return session.LastFault() == Fault::kOption ? 2 : 1;
    }
  }
  session.Finish(false);
  return 0;
}

}  // namespace hostsim
