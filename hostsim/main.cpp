// hostsim: runs a script of host calls against a display plug-in and shows the
// emulated panel. See cli.cpp for the options and script.cpp for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "hostsim/cli.h"
#include "platform/host.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // A terminal that does not tell its width is taken as 80 columns wide.
  constexpr int kUsualColumns = 80;
  int columns = 0;
  if (platform::PrepareTerminalOutput()) {
    columns = platform::TerminalColumns();
    columns = columns > 0 ? columns : kUsualColumns;
  }
  return hostsim::HostsimMain(arguments, std::cout, std::cerr, static_cast<std::size_t>(columns));
}
