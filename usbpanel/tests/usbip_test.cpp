// The emulated panel's side of USB/IP, without the kernel: the test speaks
// for the virtual host controller over a socket pair and checks the answers
// that the imon driver relies on (descriptors, the shared product's first
// report, transfers left pending and unlinked, display packets on both paths)
// and the faults on command. Linux only, like the emulated panel.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include "usbpanel/panel.h"

namespace usbpanel {
namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kSetReportSetup[2] = {0x21090002, 0x01000800};  // 21 09 0200 0001 0008
constexpr std::array<std::uint8_t, 8> kButtonsOn = {0x40, 0, 0, 0, 0, 0, 0, 0x88};
constexpr std::array<std::uint8_t, 8> kRemoteProtocol = {0, 0, 0, 0, 0, 0, 0, 0x86};

struct Answer {
  std::uint32_t command = 0;
  std::uint32_t seqnum = 0;
  std::int32_t status = 0;
  std::vector<std::uint8_t> data;  // of a submission's answer
};

// The controller's end of the connection.
class UsbipTest : public ::testing::Test {
 protected:
  void Connect(Shape shape) {
    panel_.emplace(shape);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    kernel_ = ends[0];
    panel_->Serve(ends[1]);
  }

  void TearDown() override {
    if (kernel_ >= 0) {
      close(kernel_);
      kernel_ = -1;
    }
    panel_.reset();
  }

  // Submits a transfer: `setup` for endpoint 0, `data` for OUT.
  void Submit(std::uint32_t seqnum, std::uint32_t endpoint, std::uint32_t direction,
              std::uint32_t length, std::array<std::uint8_t, 8> setup = {},
              const std::vector<std::uint8_t>& data = {}) {
    std::vector<std::uint8_t> message(kHeaderSize, 0);
    WriteBig32(&message[0x00], kCommandSubmit);
    WriteBig32(&message[0x04], seqnum);
    WriteBig32(&message[0x0C], direction);
    WriteBig32(&message[0x10], endpoint);
    WriteBig32(&message[0x18], length);
    std::copy(setup.begin(), setup.end(), message.begin() + 0x28);
    message.insert(message.end(), data.begin(), data.end());
    ASSERT_EQ(write(kernel_, message.data(), message.size()), std::ssize(message));
  }

  void Unlink(std::uint32_t seqnum, std::uint32_t victim) {
    std::vector<std::uint8_t> message(kHeaderSize, 0);
    WriteBig32(&message[0x00], kCommandUnlink);
    WriteBig32(&message[0x04], seqnum);
    WriteBig32(&message[0x14], victim);
    ASSERT_EQ(write(kernel_, message.data(), message.size()), std::ssize(message));
  }

  // The next answer, or none within `wait`; the answer to an IN transfer
  // carries the data transferred.
  std::optional<Answer> Receive(bool in = false, milliseconds wait = milliseconds(2000)) {
    timeval timeout{static_cast<time_t>(wait.count() / 1000),
                    static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    setsockopt(kernel_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::uint8_t header[kHeaderSize];
    if (recv(kernel_, header, sizeof header, MSG_WAITALL) != std::ssize(header)) {
      return std::nullopt;
    }
    Answer answer{ReadBig32(header),
                  ReadBig32(header + 4),
                  static_cast<std::int32_t>(ReadBig32(header + 0x14)),
                  {}};
    if (answer.command == kReplySubmit && in) {
      answer.data.resize(ReadBig32(header + 0x18));
      if (!answer.data.empty() && recv(kernel_, answer.data.data(), answer.data.size(),
                                       MSG_WAITALL) != std::ssize(answer.data)) {
        return std::nullopt;
      }
    }
    return answer;
  }

  // Sends one display packet as the driver does, on the OUT endpoint or as
  // SET_REPORT, and returns its answer, if any comes.
  std::optional<Answer> SendPacket(std::uint32_t seqnum, const std::array<std::uint8_t, 8>& bytes,
                                   bool control) {
    std::array<std::uint8_t, 8> setup{};
    WriteBig32(setup.data(), kSetReportSetup[0]);
    WriteBig32(setup.data() + 4, kSetReportSetup[1]);
    if (control) {
      Submit(seqnum, 0, kDirectionOut, 8, setup, {bytes.begin(), bytes.end()});
    } else {
      Submit(seqnum, 2, kDirectionOut, 8, {}, {bytes.begin(), bytes.end()});
    }
    return Receive(false, milliseconds(300));
  }

  std::optional<Panel> panel_;
  int kernel_ = -1;
};

struct ControlCase {
  const char* name;
  std::array<std::uint8_t, 8> setup;
  std::int32_t status;
  std::vector<std::uint8_t> prefix;  // of the answer's data
  std::size_t length;
};

TEST_F(UsbipTest, AnswersTheControlRequestsOfEnumerationAndStallsTheRest) {
  Connect(Shape{kProductShared, false});
  const ControlCase cases[] = {
      {"device descriptor, asked for 64",
       {0x80, 6, 0, 1, 0, 0, 64, 0},
       0,
       {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0xC2, 0x15, 0xDC, 0xFF},
       18},
      {"configuration, first 9 bytes", {0x80, 6, 0, 2, 0, 0, 9, 0}, 0, {9, 2, 25, 0, 1, 1}, 9},
      {"configuration without OUT endpoint",
       {0x80, 6, 0, 2, 0, 0, 255, 0},
       0,
       {9, 2, 25, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 0xFF, 0, 0, 0, 7, 5, 0x81, 3, 8, 0, 10},
       25},
      {"status", {0x80, 0, 0, 0, 0, 0, 2, 0}, 0, {0, 0}, 2},
      {"set configuration", {0x00, 9, 1, 0, 0, 0, 0, 0}, 0, {}, 0},
      {"string descriptor", {0x80, 6, 0, 3, 0, 0, 255, 0}, kStatusStall, {}, 0},
      {"unknown vendor request", {0xC0, 1, 0, 0, 0, 0, 4, 0}, kStatusStall, {}, 0},
  };
  std::uint32_t seqnum = 1;
  for (const ControlCase& c : cases) {
    Submit(seqnum, 0, c.setup[0] & 0x80 ? kDirectionIn : kDirectionOut, c.setup[6], c.setup);
    std::optional<Answer> answer = Receive((c.setup[0] & 0x80) != 0);
    ASSERT_TRUE(answer) << c.name;
    EXPECT_EQ(answer->command, kReplySubmit) << c.name;
    EXPECT_EQ(answer->seqnum, seqnum++) << c.name;
    EXPECT_EQ(answer->status, c.status) << c.name;
    EXPECT_EQ(answer->data.size(), c.length) << c.name;
    answer->data.resize(std::min(answer->data.size(), c.prefix.size()));
    EXPECT_EQ(answer->data, c.prefix) << c.name;
  }
}

TEST_F(UsbipTest, SharedProductsFirstReportSaysLcdAndLaterReportsWaitUntilUnlinked) {
  for (const std::uint16_t product : {kProductShared, kProductLcd}) {
    Connect(Shape{product, true});
    Submit(1, 1, kDirectionIn, 8);
    if (product == kProductShared) {
      const std::optional<Answer> report = Receive(true);
      ASSERT_TRUE(report);
      EXPECT_EQ(report->seqnum, 1u);
      ASSERT_EQ(report->data.size(), 8u);
      EXPECT_EQ(report->data[6], 0x9F);
      Submit(2, 1, kDirectionIn, 8);
    }
    const std::uint32_t pending = product == kProductShared ? 2 : 1;
    EXPECT_FALSE(Receive(true, milliseconds(200))) << "a report when no key was pressed";
    Unlink(10, pending);
    Unlink(11, pending);  // no longer pending
    const std::optional<Answer> first = Receive();
    const std::optional<Answer> second = Receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->command, kReplyUnlink);
    EXPECT_EQ(first->seqnum, 10u);
    EXPECT_EQ(first->status, kStatusUnlinked);
    EXPECT_EQ(second->status, kStatusOk);
    TearDown();
  }
}

TEST_F(UsbipTest, RecordsPacketsOnBothPathsAndMisbehavesOnCommand) {
  for (const bool control : {false, true}) {
    Connect(Shape{kProductLcd, !control});
    std::uint32_t seqnum = 1;
    // The driver's two packets while binding, then the host's.
    EXPECT_EQ(SendPacket(seqnum++, kButtonsOn, control)->status, kStatusOk);
    EXPECT_EQ(SendPacket(seqnum++, kRemoteProtocol, control)->status, kStatusOk);
    const std::array<std::uint8_t, 8> contrast = {0x0A, 0xFF, 0, 0, 0, 0, 0, 0x03};
    const std::array<std::uint8_t, 8> stalled = {1, 2, 3, 4, 5, 6, 7, 0x20};
    const std::array<std::uint8_t, 8> late = {0, 0xFF, 0x0A, 0, 0, 0, 0, 0x21};
    EXPECT_EQ(SendPacket(seqnum++, contrast, control)->status, kStatusOk);
    panel_->StallNext();
    EXPECT_EQ(SendPacket(seqnum++, stalled, control)->status, kStatusStall);
    panel_->SetHanging(true);
    const std::uint32_t hung = seqnum;
    EXPECT_FALSE(SendPacket(seqnum++, late, control)) << "a hanging panel answered";
    EXPECT_FALSE(SendPacket(seqnum++, contrast, control)) << "a hanging panel answered";
    Unlink(seqnum++, hung + 1);  // the driver gives up on the second
    EXPECT_EQ(Receive()->status, kStatusUnlinked);
    panel_->SetHanging(false);  // the first is answered after all
    const std::optional<Answer> answered = Receive();
    ASSERT_TRUE(answered) << "control " << control;
    EXPECT_EQ(answered->seqnum, hung);
    EXPECT_EQ(answered->status, kStatusOk);

    const std::vector<Packet> packets = panel_->Packets();
    ASSERT_EQ(packets.size(), 6u);
    const Outcome outcomes[] = {Outcome::kTaken,   Outcome::kTaken, Outcome::kTaken,
                                Outcome::kStalled, Outcome::kTaken, Outcome::kUnanswered};
    for (std::size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(packets[i].origin, i < 2 ? Origin::kDriver : Origin::kHost) << i;
      EXPECT_EQ(packets[i].outcome, outcomes[i]) << DescribeRecord(packets[i]);
      EXPECT_EQ(packets[i].control, control);
    }
    EXPECT_EQ(packets[4].bytes, late);
    // Only what the panel took reaches its model, the driver's packets not.
    const VxPanelState state = panel_->State();
    EXPECT_EQ(state.packets, 2u);
    EXPECT_EQ(state.contrast, 0x0A);
    EXPECT_EQ(state.picture[8], 0xFF);
    EXPECT_EQ(state.picture[9], 0x0A);
    EXPECT_EQ(state.picture[0], 0) << "the stalled packet reached the model";
    TearDown();
  }
}

}  // namespace
}  // namespace usbpanel
