// The host simulator's command line.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace hostsim {

// Runs hostsim with its command-line arguments (without the program name).
// `terminal_columns` is the width of the terminal that `out` is, or 0 when it
// is none: in a terminal waits are live by default and the panel is drawn to
// fit. Returns the exit status: 0 done, 1 a faulty or failing script, 2 a
// faulty command line.
int HostsimMain(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                std::size_t terminal_columns);

}  // namespace hostsim
