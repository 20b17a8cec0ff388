// Speaker configuration values and the icon segments they light.
#include "icons/speakers.h"

#include "platform/platform.h"

namespace icons {

std::uint64_t SpeakerMaskFor(std::uint32_t config) {
  // Bits 16..23 hold the speaker geometry, which the icons do not show.
  switch (config & 0xFFFFu) {
    case 0:  // direct output
      return 0x0200;
    case 1:  // headphones
    case 4:  // stereo
      return 0x4001;
    case 2:  // mono
      return 0x8000;
    case 3:  // quad
      return 0x6801;
    case 5:  // surround
      return 0xE801;
    case 6:  // 5.1
    case 9:  // 5.1 with side speakers: the same six segments as 5.1
      return 0xF801;
    case 7:  // 7.1
    case 8:  // 7.1 surround
      return 0xFD01;
    default:
      return 0;
  }
}

std::uint64_t GetSoundConfig() {
  std::uint32_t config = 0;
  if (!platform::ReadSpeakerConfig(&config)) {
    return 0;
  }
  return SpeakerMaskFor(config);
}

}  // namespace icons
