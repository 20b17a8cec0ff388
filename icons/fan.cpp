// Icon commands: which segments an icon number selects and what each action
// does to them.
#include "icons/fan.h"

#include "icons/masks.h"
#include "platform/platform.h"

namespace icons {
namespace {

constexpr std::uint8_t kActionOff = 1;
constexpr std::uint8_t kActionOn = 2;
constexpr std::uint8_t kActionBlink = 3;
constexpr std::uint8_t kLastIconNumber = 54;

// Starting an animation first clears the ring, all four animation marks and
// bits 60..63, in the picture and in the blink marks alike.
constexpr std::uint64_t kAnimationSetupMask = 0x0F8700FFFFFFFFFFull;

constexpr bool IsAnimation(std::uint8_t number) {
  return number >= 51 && number <= 54;
}

// Readies the masks for a ring animation (icons 51..54) being started or
// stopped: clears the ring, the four animation marks and bits 60..63. Returns
// the action to apply: animations do not blink, so blinking becomes on.
std::uint8_t SetUpAnimation(std::uint8_t action) {
  ICON_STATUS &= kAnimationSetupMask;
  ICON_FLASH &= kAnimationSetupMask;
  return action == kActionBlink ? kActionOn : action;
}

// The segments that icon `number` selects for `action`.
std::uint64_t SelectSegments(std::uint8_t number, std::uint8_t action) {
  switch (number) {
    case 48:
      return 1ull << 55;  // number 48 reaches segment 55
    case 50:
      return kRingMask;
    case 51:
    case 52:
    case 53:
    case 54: {
      const std::uint64_t mark = 1ull << number;
      if (action == kActionOff) {
        return mark;
      }
      // The start pattern: seven ring segments for 51 and 53, one for 52 and 54.
      const bool seven = number == 51 || number == 53;
      return mark | (seven ? 0xFEull << kRingShift : 0x01ull << kRingShift);
    }
    default:
      return 1ull << number;
  }
}

}  // namespace

void SetFan(std::uint8_t action, std::uint8_t number) {
  if (number > kLastIconNumber) {
    return;
  }
  platform::LockIconMutex();
  if (IsAnimation(number)) {
    action = SetUpAnimation(action);
  }
  const std::uint64_t segments = SelectSegments(number, action);
  switch (action) {
    case kActionOff:
      ICON_STATUS &= ~segments;
      ICON_FLASH &= ~segments;
      break;
    case kActionOn:
      ICON_STATUS |= segments;
      ICON_FLASH &= ~segments;
      break;
    case kActionBlink:
      // Join the blinking segments' phase: light the new ones now if those
      // already blinking are in their lit half.
      if ((ICON_FLASH & ICON_STATUS) != 0) {
        ICON_STATUS |= segments;
      }
      ICON_FLASH |= segments;
      break;
    default:
      break;
  }
  platform::UnlockIconMutex();
}

}  // namespace icons
