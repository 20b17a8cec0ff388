// Readable descriptions of what the panel received: one line per packet or
// call, for the packet log, and the helpers the renderers share.
#pragma once

#include <cstdint>
#include <string>

#include "emulator/panel_api.h"

namespace emulator {

// What one packet means, e.g. "pixels 0x2D bytes 91..97", "icons: 7 41-47 51",
// "clock 2011-03-14 09:05:07 mode 0x80 (clock)", "unknown command 0x77".
std::string DescribePacket(const std::uint8_t* bytes);

// One log line: sequence number, calling thread, the packet's bytes in hex and
// its meaning; calls other than packets show the function and its arguments.
std::string DescribeEntry(const VxPanelLogEntry& entry);

// Segment numbers with runs folded, e.g. "7 41-47 51"; "none" for no segment.
std::string SegmentList(std::uint64_t segments);

// The full year for the low 8 bits the panel receives: the one year from 1980
// to 2235 with these low bits.
int FullYear(std::uint8_t low_bits);

// "2011-03-14 09:05:07" from the six clock bytes of a 0x50 packet.
std::string FormatClock(const std::uint8_t* clock);

// "0x80 (clock)", "0x40 (reset)", "0x08 (off)", or the bare value.
std::string FormatMode(std::uint8_t mode);

}  // namespace emulator
