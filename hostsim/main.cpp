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
  const bool terminal = platform::PrepareTerminalOutput();
  return hostsim::HostsimMain(arguments, std::cout, std::cerr, terminal);
}
