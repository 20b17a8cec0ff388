// Test host: loads a build of the plug-in as the real host does, by path at run
// time, and reads back what reached the test vendor library.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"
#include "plugin/entry_points.h"
#include "tests/fakevendor/recorder.h"

namespace testing_support {

// The entry points of one loaded plug-in, resolved by name.
using PluginApi = plugin::EntryPoints;

// Resolves all twelve entry points under their plain names (or, with
// `decorated`, their "@N" names). Missing ones stay null.
PluginApi ResolveEntryPoints(platform::Library* plugin, bool decorated = false);

// The entry points linked into this executable, for tests that also need the
// plug-in's internals and seams.
PluginApi LinkedEntryPoints();

// Paths of the build under test.
std::string PluginPath();
std::string VendorDirectory(const std::string& variant);
std::string UnloadHookPath();

// Points the library search at test vendor variant `variant` (see
// tests/fakevendor) after unloading any vendor library still in the process.
void SelectVendor(const std::string& variant);
// Removes a vendor library left in the process and restores the default search.
void ForgetVendor();

using PacketBytes = std::array<std::uint8_t, 8>;

// Everything recorded since the last Recorder_Clear.
std::vector<Record> Records();
// The packets sent, in order; `host_thread_only` drops those of other threads
// (the icon thread).
std::vector<PacketBytes> SentPackets(bool host_thread_only = false);
// Number of records of one kind.
std::size_t CountRecords(RecordKind kind);

// A packet from its command byte and data bytes, as the panel receives it.
PacketBytes Packet(std::uint8_t command, std::array<std::uint8_t, 7> data = {});
// `packets` with the date and time of each clock packet (0x50 with a mode
// other than the reset's) left out, which differ from run to run.
std::vector<PacketBytes> WithoutClockTime(std::vector<PacketBytes> packets);

// "00 01 ... 50" for readable test failures.
std::string Hex(const PacketBytes& bytes);
std::string Hex(const std::vector<PacketBytes>& packets);

// Icon packets as 64-bit masks: segment n is bit n, the command byte 0x01 is
// bit 56. The empty icon packet, a segment, and the ring (segments 40..47) as
// one byte.
inline constexpr std::uint64_t kEmpty = 0x0100000000000000ull;
constexpr std::uint64_t Bit(int n) {
  return 1ull << n;
}
constexpr std::uint64_t Ring(std::uint64_t byte) {
  return byte << 40;
}

// A packet as the 64-bit value it was made from: byte 0 lowest, command byte 7.
std::uint64_t Value(const PacketBytes& bytes);
std::uint64_t Value(const Record& record);

using Picture = std::array<std::uint8_t, 192>;

// The picture carried by the last complete run of 28 pixel packets (0x20..0x3B
// in order) among `packets`; false when there is none.
bool LastPicture(const std::vector<PacketBytes>& packets, Picture* picture);

// Pictures as text art, one "#"/"." row of 96 pixels per panel row, for
// readable comparisons.
std::string PictureArt(const Picture& picture);

// The eight packets of the panel reset sequence with contrast level `contrast`.
std::vector<PacketBytes> ResetSequence(std::uint8_t contrast);

}  // namespace testing_support
