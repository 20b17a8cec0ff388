// The state file: a mark, the size of the state, and the state's bytes. The
// state holds only fixed-width integers, laid out alike by every compiler the
// project uses (the assertions below hold in both builds), so its bytes are
// the same in a native and a Windows program on the same machine.
#include "emulator/state_file.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace emulator {
namespace {

constexpr char kMark[8] = {'V', 'X', 'P', 'A', 'N', 'E', 'L', '1'};
constexpr std::size_t kSizeField = sizeof kMark;
constexpr std::size_t kStateField = kSizeField + 4;

static_assert(sizeof(VxPanelState) == 2344);
static_assert(offsetof(VxPanelState, icons) == 192);
static_assert(offsetof(VxPanelState, packets) == 264);
static_assert(offsetof(VxPanelState, sequence) == 2336);

}  // namespace

std::vector<std::uint8_t> EncodeStateFile(const VxPanelState& state) {
  std::vector<std::uint8_t> contents(kStateField + sizeof state);
  std::memcpy(contents.data(), kMark, sizeof kMark);
  const auto size = static_cast<std::uint32_t>(sizeof state);
  for (std::size_t i = 0; i < 4; ++i) {
    contents[kSizeField + i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  std::memcpy(contents.data() + kStateField, &state, sizeof state);
  return contents;
}

bool DecodeStateFile(const std::vector<std::uint8_t>& contents, VxPanelState* state) {
  if (contents.size() != kStateField + sizeof *state ||
      std::memcmp(contents.data(), kMark, sizeof kMark) != 0) {
    return false;
  }
  std::uint32_t size = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    size |= static_cast<std::uint32_t>(contents[kSizeField + i]) << (8 * i);
  }
  if (size != sizeof *state) {
    return false;
  }
  std::memcpy(state, contents.data() + kStateField, sizeof *state);
  return true;
}

bool WriteStateFile(const std::string& path, const VxPanelState& state, std::string* why) {
  const std::vector<std::uint8_t> contents = EncodeStateFile(state);
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *why = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  const int error = errno;
  if (std::fclose(file) != 0 || !written) {
    *why = std::strerror(written ? errno : error);
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *why = std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool ReadStateFile(const std::string& path, VxPanelState* state) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  std::vector<std::uint8_t> contents(kStateField + sizeof *state + 1);
  const std::size_t length = std::fread(contents.data(), 1, contents.size(), file);
  std::fclose(file);
  contents.resize(length);
  return DecodeStateFile(contents, state);
}

}  // namespace emulator
