// usbpanel: plugs an emulated iMON LCD into this machine's kernel over
// USB/IP, so that the kernel's imon driver serves it as a real panel, prints
// every packet it receives and takes commands on standard input.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "emulator/render.h"
#include "usbpanel/panel.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kPlugBound{30000};  // the driver binds in about a second, slower emulated

const char kUsage[] =
    "usage: usbpanel [--product 0038|ffdc] [--control] [--state FILE] [--quiet]\n"
    "                [-- COMMAND [ARGUMENT...]]\n"
    "Plugs an emulated iMON LCD into this machine's kernel over USB/IP (needs root\n"
    "and the kernel modules vhci-hcd and imon), so that the imon driver makes its\n"
    "display device, /dev/lcd0 for the first; prints every packet the device\n"
    "receives, the driver's own and the host's, and what it means. With a COMMAND\n"
    "it runs that once the device is there, with VESTRIX_PANEL_DEVICE naming it,\n"
    "then unplugs the panel and exits with the command's status; without one it\n"
    "takes the commands below on standard input.\n"
    "\n"
    "  --product 0038|ffdc  the product ID (default 0038); ffdc tells the driver\n"
    "                       it is an LCD in its first report\n"
    "  --control            no interrupt OUT endpoint: the driver sends every packet\n"
    "                       as a SET_REPORT control transfer\n"
    "  --state FILE         write the panel's state into FILE after every packet,\n"
    "                       for hostsim --panel-state FILE\n"
    "  --quiet              do not print the packets\n"
    "\n"
    "Commands on standard input, one a line:\n"
    "  stall            refuse the next packet with a stall\n"
    "  hang             answer no packet from now on\n"
    "  answer           answer again, first the packets left waiting\n"
    "  unplug [N]       unplug the panel now, or after taking N more packets\n"
    "  plug             plug it in again\n"
    "  snapshot FILE    save the panel as a PNG picture, or as text art (FILE.txt)\n"
    "  show             print the panel\n"
    "  packets          print every packet received so far\n"
    "  quit             unplug the panel and end; so does the end of the input\n";

// Runs `command` with VESTRIX_PANEL_DEVICE set to `device`; its exit status.
int RunProgram(char** command, const std::string& device) {
  setenv("VESTRIX_PANEL_DEVICE", device.c_str(), 1);
  pid_t child = 0;
  if (posix_spawnp(&child, command[0], nullptr, nullptr, command, environ) != 0) {
    std::fprintf(stderr, "usbpanel: cannot start %s\n", command[0]);
    return 127;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool SaveSnapshot(const usbpanel::Panel& panel, const std::string& file, std::string* why) {
  const VxPanelState state = panel.State();
  std::string contents;
  if (EndsWith(file, ".txt")) {
    contents = emulator::RenderSnapshotText(state, "panel on USB: snapshot " + file);
  } else {
    const std::vector<std::uint8_t> png = emulator::EncodePng(emulator::RenderImage(state));
    contents.assign(png.begin(), png.end());
  }
  std::ofstream out(file, std::ios::binary);
  out << contents;
  if (!out.flush()) {
    *why = "cannot write " + file;
    return false;
  }
  return true;
}

// Runs one command line; false at quit.
bool RunCommand(usbpanel::Panel& panel, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  std::string argument;
  words >> command >> argument;
  std::string why;
  if (command.empty() || command[0] == '#') {
  } else if (command == "stall") {
    panel.StallNext();
  } else if (command == "hang") {
    panel.SetHanging(true);
  } else if (command == "answer") {
    panel.SetHanging(false);
  } else if (command == "unplug" && argument.empty()) {
    if (!panel.Unplug(kPlugBound, &why)) {
      std::printf("usbpanel: %s\n", why.c_str());
    }
  } else if (command == "unplug" && argument.find_first_not_of("0123456789") == std::string::npos) {
    panel.UnplugAfter(std::stoull(argument));
  } else if (command == "plug") {
    if (!panel.Plug(kPlugBound, &why)) {
      std::printf("usbpanel: cannot plug the panel in: %s\n", why.c_str());
    }
  } else if (command == "snapshot" && !argument.empty()) {
    std::printf("usbpanel: %s\n",
                SaveSnapshot(panel, argument, &why) ? argument.c_str() : why.c_str());
  } else if (command == "show") {
    std::printf("%s", emulator::RenderTerminal(panel.State(), emulator::TerminalStyle{}).c_str());
  } else if (command == "packets") {
    for (const usbpanel::Packet& packet : panel.Packets()) {
      std::printf("%s\n", usbpanel::DescribeRecord(packet).c_str());
    }
  } else if (command == "quit") {
    return false;
  } else {
    std::printf("usbpanel: unknown command '%s'\n", line.c_str());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  usbpanel::Shape shape;
  std::string state_path;
  bool quiet = false;
  char** command = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool has_value = i + 1 < argc;
    if (option == "--" && has_value) {
      command = argv + i + 1;
      break;
    }
    if (option == "--product" && has_value &&
        (std::string(argv[i + 1]) == "0038" || std::string(argv[i + 1]) == "ffdc")) {
      shape.product =
          std::string(argv[++i]) == "ffdc" ? usbpanel::kProductShared : usbpanel::kProductLcd;
    } else if (option == "--control") {
      shape.out_endpoint = false;
    } else if (option == "--state" && has_value) {
      state_path = argv[++i];
    } else if (option == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "%s", kUsage);
      return option == "--help" || option == "-h" ? 0 : 2;
    }
  }
  usbpanel::Panel panel(shape);
  panel.PublishStateTo(state_path);
  panel.SetObserver([quiet](const std::string& line) {
    if (!quiet || line.find(" host ") == std::string::npos) {
      std::printf("%s\n", line.c_str());
    }
  });
  std::string why;
  if (!panel.Plug(kPlugBound, &why)) {
    std::fprintf(stderr, "usbpanel: cannot plug the panel in: %s\n", why.c_str());
    return 1;
  }
  int status = 0;
  if (command != nullptr) {
    status = RunProgram(command, panel.DevicePath());
  } else {
    std::string line;
    while (std::getline(std::cin, line) && RunCommand(panel, line)) {
    }
  }
  panel.Unplug(kPlugBound, &why);
  return status;
}
