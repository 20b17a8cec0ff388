// Reading and writing the USB/IP headers.
#include "usbpanel/usbip.h"

#include <algorithm>

namespace usbpanel {
namespace {

// Offsets of the header's fields: the basic part common to all four messages,
// then the part of each.
constexpr std::size_t kCommandField = 0x00;
constexpr std::size_t kSeqnumField = 0x04;
constexpr std::size_t kDirectionField = 0x0C;
constexpr std::size_t kEndpointField = 0x10;
constexpr std::size_t kLengthField = 0x18;        // submission: transfer_buffer_length
constexpr std::size_t kUnlinkSeqnumField = 0x14;  // unlink: the submission's seqnum
constexpr std::size_t kSetupField = 0x28;         // submission: the setup packet
constexpr std::size_t kStatusField = 0x14;        // both answers
constexpr std::size_t kActualLengthField = 0x18;  // submission answer
constexpr std::size_t kPacketCountField = 0x20;   // submission answer: no isochronous packets
constexpr std::uint32_t kNotIsochronous = 0xFFFFFFFF;

std::vector<std::uint8_t> Header(std::uint32_t command, std::uint32_t seqnum, std::int32_t status) {
  std::vector<std::uint8_t> header(kHeaderSize, 0);
  WriteBig32(&header[kCommandField], command);
  WriteBig32(&header[kSeqnumField], seqnum);
  WriteBig32(&header[kStatusField], static_cast<std::uint32_t>(status));
  return header;
}

}  // namespace

std::uint32_t ReadBig32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

void WriteBig32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

Request ParseRequest(const std::uint8_t* header) {
  Request request;
  request.command = ReadBig32(header + kCommandField);
  request.seqnum = ReadBig32(header + kSeqnumField);
  request.direction = ReadBig32(header + kDirectionField);
  request.endpoint = ReadBig32(header + kEndpointField);
  if (request.command == kCommandSubmit) {
    request.length = ReadBig32(header + kLengthField);
    std::copy_n(header + kSetupField, request.setup.size(), request.setup.begin());
  } else if (request.command == kCommandUnlink) {
    request.unlink_seqnum = ReadBig32(header + kUnlinkSeqnumField);
  }
  return request;
}

std::vector<std::uint8_t> SubmitReply(std::uint32_t seqnum, std::int32_t status,
                                      std::uint32_t actual_length,
                                      const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> reply = Header(kReplySubmit, seqnum, status);
  WriteBig32(&reply[kActualLengthField], actual_length);
  WriteBig32(&reply[kPacketCountField], kNotIsochronous);
  reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

std::vector<std::uint8_t> UnlinkReply(std::uint32_t seqnum, std::int32_t status) {
  return Header(kReplyUnlink, seqnum, status);
}

}  // namespace usbpanel
