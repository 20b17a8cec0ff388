// The host simulator's command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace hostsim {

// Runs hostsim with its command-line arguments (without the program name).
// `terminal` says whether `out` is a terminal, which makes waits live by
// default. Returns the exit status: 0 done, 1 a faulty or failing script, 2 a
// faulty command line.
int HostsimMain(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                bool terminal);

}  // namespace hostsim
