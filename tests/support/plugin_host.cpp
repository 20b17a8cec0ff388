// Test host: loading the plug-in, choosing the test vendor library, reading the
// recorder.
#include "tests/support/plugin_host.h"

#include <cstdio>

namespace testing_support {
PluginApi ResolveEntryPoints(platform::Library* plugin, bool decorated) {
  PluginApi api;
  plugin::ResolveEntryPoints(plugin, &api, decorated);
  return api;
}

std::string PluginPath() {
  return VESTRIX_TEST_PLUGIN_PATH;
}

std::string VendorDirectory(const std::string& variant) {
  return std::string(VESTRIX_TEST_VENDOR_ROOT) + "/" + variant;
}

std::string UnloadHookPath() {
  return VESTRIX_TEST_UNLOAD_HOOK_PATH;
}

void SelectVendor(const std::string& variant) {
  ForgetVendor();
  platform::SetLibraryDirectory(VendorDirectory(variant).c_str());
}

void ForgetVendor() {
  platform::UnloadLibraryCompletely(platform::kVendorLibraryName);
  platform::SetLibraryDirectory(nullptr);
}

std::vector<Record> Records() {
  std::vector<Record> records;
  Record record{};
  for (std::size_t i = 0; Recorder_Get(i, &record); ++i) {
    records.push_back(record);
  }
  return records;
}

std::vector<PacketBytes> SentPackets(bool host_thread_only) {
  const std::uint32_t self = Recorder_CurrentThread();
  std::vector<PacketBytes> packets;
  for (const Record& record : Records()) {
    if (record.kind != kRecordSendData || (host_thread_only && record.thread != self)) {
      continue;
    }
    PacketBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = record.bytes[i];
    }
    packets.push_back(bytes);
  }
  return packets;
}

std::size_t CountRecords(RecordKind kind) {
  std::size_t count = 0;
  for (const Record& record : Records()) {
    count += record.kind == kind ? 1 : 0;
  }
  return count;
}

PacketBytes Packet(std::uint8_t command, std::array<std::uint8_t, 7> data) {
  PacketBytes bytes{};
  for (std::size_t i = 0; i < data.size(); ++i) {
    bytes[i] = data[i];
  }
  bytes[7] = command;
  return bytes;
}

std::vector<PacketBytes> WithoutClockTime(std::vector<PacketBytes> packets) {
  for (PacketBytes& packet : packets) {
    if (packet[7] == 0x50 && packet[0] != 0x40) {
      packet = Packet(0x50, {packet[0]});
    }
  }
  return packets;
}

std::string Hex(const PacketBytes& bytes) {
  std::string text;
  char part[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(part, sizeof part, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += part;
  }
  return text;
}

std::string Hex(const std::vector<PacketBytes>& packets) {
  std::string text;
  for (const PacketBytes& packet : packets) {
    text += Hex(packet) + "\n";
  }
  return text;
}

std::uint64_t Value(const PacketBytes& bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

std::uint64_t Value(const Record& record) {
  PacketBytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = record.bytes[i];
  }
  return Value(bytes);
}

bool LastPicture(const std::vector<PacketBytes>& packets, Picture* picture) {
  constexpr std::size_t kRun = 28;
  for (std::size_t end = packets.size(); end >= kRun; --end) {
    bool run = true;
    for (std::size_t k = 0; k < kRun && run; ++k) {
      run = packets[end - kRun + k][7] == 0x20 + k;
    }
    if (!run) {
      continue;
    }
    picture->fill(0);
    for (std::size_t k = 0; k < kRun; ++k) {
      for (std::size_t j = 0; j < 7 && 7 * k + j < picture->size(); ++j) {
        (*picture)[7 * k + j] = packets[end - kRun + k][j];
      }
    }
    return true;
  }
  return false;
}

std::string PictureArt(const Picture& picture) {
  std::string art;
  for (std::size_t y = 0; y < 16; ++y) {
    for (std::size_t x = 0; x < 96; ++x) {
      const std::uint8_t byte = picture[96 * (y / 8) + x];
      art += (byte & (0x80u >> (y % 8))) != 0 ? '#' : '.';
    }
    art += '\n';
  }
  return art;
}

std::vector<PacketBytes> ResetSequence(std::uint8_t contrast) {
  return {Packet(0x50, {0x40}), Packet(0x51), Packet(0x03, {contrast}),
          Packet(0x02),         Packet(0x01), Packet(0x10),
          Packet(0x11),         Packet(0x12)};
}

}  // namespace testing_support
