// The USB/IP protocol as the kernel's virtual host controller (vhci_hcd)
// speaks it to a device once it is attached: it submits transfers (URBs) and
// unlinks them, the device answers each. Every message starts with a header
// of 48 bytes whose fields are 32-bit numbers in network byte order; an OUT
// submission carries its data behind it, and so does the answer to an IN.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbpanel {

inline constexpr std::size_t kHeaderSize = 48;

inline constexpr std::uint32_t kCommandSubmit = 1;
inline constexpr std::uint32_t kCommandUnlink = 2;
inline constexpr std::uint32_t kReplySubmit = 3;
inline constexpr std::uint32_t kReplyUnlink = 4;

inline constexpr std::uint32_t kDirectionOut = 0;
inline constexpr std::uint32_t kDirectionIn = 1;

// Transfer status values, as the kernel's negative error numbers.
inline constexpr std::int32_t kStatusOk = 0;
inline constexpr std::int32_t kStatusStall = -32;      // -EPIPE: the endpoint refused it
inline constexpr std::int32_t kStatusUnlinked = -104;  // -ECONNRESET: taken back before its answer

// A message from the kernel: a submission or an unlink.
struct Request {
  std::uint32_t command = 0;
  std::uint32_t seqnum = 0;
  std::uint32_t direction = 0;
  std::uint32_t endpoint = 0;
  std::uint32_t length = 0;             // a submission's transfer length
  std::uint32_t unlink_seqnum = 0;      // the submission an unlink takes back
  std::array<std::uint8_t, 8> setup{};  // a control submission's setup packet
};

// The request in a header of kHeaderSize bytes.
Request ParseRequest(const std::uint8_t* header);

// The answer to submission `seqnum`: its status, the length transferred and,
// for an IN transfer, the data.
std::vector<std::uint8_t> SubmitReply(std::uint32_t seqnum, std::int32_t status,
                                      std::uint32_t actual_length,
                                      const std::vector<std::uint8_t>& data = {});

// The answer to unlink `seqnum`.
std::vector<std::uint8_t> UnlinkReply(std::uint32_t seqnum, std::int32_t status);

// A 32-bit number in network byte order at `bytes`, and back.
std::uint32_t ReadBig32(const std::uint8_t* bytes);
void WriteBig32(std::uint8_t* bytes, std::uint32_t value);

}  // namespace usbpanel
