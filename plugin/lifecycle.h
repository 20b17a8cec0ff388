// The start and the end of the plug-in's operation. Host thread.
#pragma once

#include <cstdint>

namespace plugin {

// Opens the plug-in; null on success, else the failure message. `ok` may be null.
const char* Init(std::uint8_t width, std::uint8_t height, const char* parameters, bool* ok);

// Leaves the panel in the shutdown mode, stops the icon thread, releases the
// vendor library. When a packet has not come back from the library within
// Done's bounds (the panel has stopped answering), Done sends none of its own
// and leaves the library loaded, so that it returns in bounded time.
void Done();

}  // namespace plugin
