// Panel control: the packet sender, the reset sequence, contrast and the pixel
// transfer.
#include "panel/panel.h"

#include <array>
#include <cstddef>

#include "plugin/vendor.h"
#include "text/frame.h"
#include "text/raster.h"

namespace panel {
namespace {

// The contrast level last set, 0..31. Lives as long as the module; neither a
// start nor an end of the plug-in resets it.
std::uint8_t CurrentContrast = 10;

constexpr std::size_t kPixelPackets = kPixelsLast - kPixelsFirst + 1;
constexpr std::size_t kBytesPerPacket = 7;
static_assert(kPixelPackets == 28);
static_assert(kPixelPackets * kBytesPerPacket >= text::kPixelBufferSize);

}  // namespace

void SendData(Packet packet, std::uint32_t run) {
  const std::array<std::uint8_t, 8> bytes = PacketBytes(packet);
  plugin::VendorSendData(bytes.data(), run);
}

void ClearDisplay() {
  const Packet sequence[] = {
      MakePacket(kModeAndClock, {kModeReset}),   // panel mode reset, no clock
      MakePacket(kCommand51),                    //
      MakePacket(kContrast, {CurrentContrast}),  // the stored contrast level
      MakePacket(kCommand02),                    //
      MakePacket(kIcons),                        // all icon segments off
      MakePacket(kCommand10),                    //
      MakePacket(kCommand11),                    //
      MakePacket(kCommand12),                    //
  };
  for (const Packet packet : sequence) {
    SendData(packet);
  }
  // The panel's picture changes only with the next pixel transfer.
  text::ClearFrameBuffer();
  text::ClearPixelBuffer();
}

void UpdateDisplay() {
  // The packets run through the buffer as one run of bytes, without regard to
  // its two bands; the last packet is padded with zeros.
  for (std::size_t k = 0; k < kPixelPackets; ++k) {
    std::array<std::uint8_t, kBytesPerPacket> data{};
    for (std::size_t j = 0; j < kBytesPerPacket; ++j) {
      const std::size_t index = kBytesPerPacket * k + j;
      if (index < text::kPixelBufferSize) {
        data[j] = text::PixelBuffer[index];
      }
    }
    SendData(MakePacket(static_cast<std::uint8_t>(kPixelsFirst + k), data));
  }
}

void SetContrast(std::uint8_t contrast) {
  CurrentContrast = static_cast<std::uint8_t>(contrast >> 3);
  SendData(MakePacket(kContrast, {CurrentContrast}));
}

}  // namespace panel
