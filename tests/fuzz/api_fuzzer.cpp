// API-sequence fuzzer: each input is a sequence of calls of the twelve entry
// points with arbitrary arguments, steps of the icon refresh cycle and changes
// of the speaker layout, run against the linked plug-in code and the in-memory
// vendor library. The icon thread is held, so the fuzzer steps the refresh
// cycle itself, and pauses return at once. After every call a small model of
// the plug-in says what the call must have sent and answered; the first
// difference ends the process (as do the sanitizers).
//
// Input: one operation after another, each an operation byte (taken modulo
// 15) and its argument bytes; reading past the end gives zeros.
//   0 Init flags, answer, [width, height], parameters
//       flags: bits 0-1 the size (16x2; 16x1; width and height follow; 16 and
//       a height that follows), bit 2 no success flag, bit 3 no library, bit 4
//       no iMONVFD_Init, bit 5 no iMONLCD_SendData, bit 6 no iMONVFD_Uninit,
//       bit 7 the thread start fails; answer: what iMONVFD_Init returns, with
//       bit 7 moving the value into the second byte (false in the low byte)
//   1 Done; 2 DriverName; 3 Usage; 4 DefaultParameters
//   5 SetPosition x, y; 6 Write text; 7 SetBrightness value
//   8 CustomChar index, 0xFF for a null pattern (else any byte), 8 rows
//   9 CustomCharIndex index; 10 SetContrast value; 11 SetFan action, number
//   12 refresh cycles n: 1 + n % 4 cycles, run only while the plug-in is open
//   13 speaker layout: readable when even, then 3 bytes of the value
//   14 nothing
// A text is a length byte (255 null, 254 a length of 256 + 16 * the next
// byte) and that many bytes; a parameter string is a token count (255 null,
// else taken modulo 16) and the tokens, bytes 0..7 standing for the words in
// Input::Parameters and any other byte for itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "icons/icons.h"
#include "icons/masks.h"
#include "platform/test_seams.h"
#include "plugin/api.h"
#include "plugin/texts.h"
#include "tests/fuzz/memory_vendor.h"
#include "text/raster.h"

namespace fuzz {
namespace {

// Entry-point calls made for the inputs (not those of the reset before each),
// by entry point, numbered as their operations.
constexpr const char* kEntryPoints[] = {
    "Init",  "Done",          "DriverName", "Usage",           "DefaultParameters", "SetPosition",
    "Write", "SetBrightness", "CustomChar", "CustomCharIndex", "SetContrast",       "SetFan"};
unsigned long long Calls[std::size(kEntryPoints)] = {};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  // A text of arbitrary bytes, or null; `*text` holds it with its terminator.
  const char* Text(std::string* text) {
    const std::uint8_t length = Byte();
    if (length == 255) {
      return nullptr;
    }
    const std::size_t n = length == 254 ? 256 + 16 * std::size_t{Byte()} : length;
    text->clear();
    for (std::size_t i = 0; i < n; ++i) {
      text->push_back(static_cast<char>(Done() ? 'x' : Byte()));
    }
    return text->c_str();
  }

  // A parameter string of keywords, words that hold them, and other bytes.
  const char* Parameters(std::string* text) {
    static const char* const kWords[] = {"clock",  "message", "off",         "audio",
                                         "offset", "CLOCK",   "clock,audio", " "};
    const std::uint8_t tokens = Byte();
    if (tokens == 255) {
      return nullptr;
    }
    text->clear();
    for (int i = 0; i < tokens % 16; ++i) {
      const std::uint8_t token = Byte();
      if (token < 8) {
        *text += kWords[token];
      } else {
        text->push_back(static_cast<char>(token));
      }
    }
    return text->c_str();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// What the plug-in has said and done so far, as the model sees it.
struct Model {
  bool open = false;          // a start succeeded and no Done since
  bool bound = false;         // the plug-in holds bindings into the library
  bool send_bound = false;    // ... iMONLCD_SendData among them
  bool uninit_bound = false;  // ... and iMONVFD_Uninit
  bool clock_on_exit = false;
  bool off_on_exit = false;
  std::uint8_t contrast = 10;
};
Model M;

constexpr PacketBytes Packet(std::uint8_t command, std::uint8_t first = 0) {
  return {first, 0, 0, 0, 0, 0, 0, command};
}

// The packets that must have been sent since the last check.
void Expect(const PacketBytes* expected, std::size_t n, const char* what) {
  std::size_t count = 0;
  const PacketBytes* sent = TakePackets(&count);
  bool same = count == n;
  for (std::size_t i = 0; same && i < n; ++i) {
    same = sent[i] == expected[i];
  }
  if (!same) {
    std::fprintf(stderr, "%s: %zu packets sent, %zu expected\n", what, count, n);
    for (std::size_t i = 0; i < count; ++i) {
      std::fprintf(stderr, "  %02x %02x %02x %02x %02x %02x %02x %02x\n", sent[i][0], sent[i][1],
                   sent[i][2], sent[i][3], sent[i][4], sent[i][5], sent[i][6], sent[i][7]);
    }
    Fail(what);
  }
}

// Appends the reset sequence to `out`.
PacketBytes* ResetSequence(PacketBytes* out) {
  const PacketBytes sequence[] = {Packet(0x50, 0x40), Packet(0x51), Packet(0x03, M.contrast),
                                  Packet(0x02),       Packet(0x01), Packet(0x10),
                                  Packet(0x11),       Packet(0x12)};
  for (const PacketBytes& p : sequence) {
    *out++ = p;
  }
  return out;
}

// Appends what a Done sends to `out`, for the plug-in as `m` describes it.
PacketBytes* DonePackets(const Model& m, PacketBytes* out) {
  if (!m.bound || !m.send_bound) {
    return out;
  }
  const bool reset = m.clock_on_exit || m.off_on_exit;
  if (reset) {
    out = ResetSequence(out);
  }
  *out++ = Packet(0x01);
  if (reset) {
    *out++ = {m.clock_on_exit ? std::uint8_t{0x80} : std::uint8_t{0x08},
              static_cast<std::uint8_t>(kFuzzTime.year % 256),
              kFuzzTime.month,
              kFuzzTime.day,
              kFuzzTime.hour,
              kFuzzTime.minute,
              kFuzzTime.second,
              0x50};
  }
  *out++ = Packet(0x51);
  return out;
}

void CallInit(Input& in) {
  const std::uint8_t flags = in.Byte();
  const std::uint8_t answer = in.Byte();
  std::uint8_t width = 16;
  std::uint8_t height = (flags & 3) == 1 ? 1 : 2;
  if ((flags & 3) == 2) {
    width = in.Byte();
  }
  if ((flags & 3) >= 2) {
    height = in.Byte();
  }
  std::string text;
  const char* parameters = in.Parameters(&text);
  VendorShape shape;
  shape.present = (flags & 8) == 0;
  shape.has_init = (flags & 16) == 0;
  shape.has_send = (flags & 32) == 0;
  shape.has_uninit = (flags & 64) == 0;
  shape.init_answer = (answer & 0x80) != 0 ? std::uint32_t{answer & 0x7Fu} << 8 : answer;
  SetVendorShape(shape);

  // The failure table: the first check that fails gives the message.
  const char* const p = parameters != nullptr ? parameters : "";
  const bool clock = std::strstr(p, "clock") != nullptr;
  const bool message = std::strstr(p, "message") != nullptr;
  const bool off = std::strstr(p, "off") != nullptr;
  const bool size_ok = width == 16 && (height == 1 || height == 2);
  const bool keywords_ok = int{clock} + int{message} + int{off} <= 1;
  const bool calls_init =
      size_ok && keywords_ok && shape.present && shape.has_init && shape.has_send;
  const bool thread_fails = (flags & 128) != 0;
  const char* expected = !size_ok                          ? plugin::kMessageInvalidScreenSize
                         : !keywords_ok                    ? plugin::kMessageInconsistentParameters
                         : !shape.present                  ? plugin::kMessageLibraryNotFound
                         : !calls_init                     ? plugin::kMessageFunctionsNotFound
                         : (shape.init_answer & 0xFF) == 0 ? plugin::kMessageDisplayNotFound
                         : thread_fails                    ? plugin::kMessageIconThread
                                                           : nullptr;
  if (expected == plugin::kMessageIconThread) {
    platform::seam::FailNextThreadStart();
  }

  const bool was_open = M.open;
  const int init_calls = InitCalls();
  // A start while open first closes the plug-in as a Done does.
  PacketBytes expected_packets[34];
  PacketBytes* end = was_open ? DonePackets(M, expected_packets) : expected_packets;
  bool ok = expected != nullptr;  // the opposite of what the plug-in must write
  const char* result = DISPLAYDLL_Init(width, height, parameters, (flags & 4) != 0 ? nullptr : &ok);
  ++Calls[0];
  if (result != expected) {
    std::fprintf(stderr, "Init %ux%u \"%s\": \"%s\", expected \"%s\"\n", width, height, p,
                 result != nullptr ? result : "(null)", expected != nullptr ? expected : "(null)");
    Fail("Init's answer disagrees with the failure table");
  }
  if ((flags & 4) == 0 && ok != (expected == nullptr)) {
    Fail("Init's success flag disagrees with its answer");
  }
  if (InitCalls() - init_calls != (calls_init ? 1 : 0)) {
    Fail("iMONVFD_Init called other than once when the start gets that far");
  }

  // What the start left behind (module state the next calls depend on).
  if (!size_ok) {
    M.bound = M.bound && !was_open;
  } else if (!keywords_ok) {
    M.bound = M.bound && !was_open;
    M.off_on_exit = false;
  } else {
    M.clock_on_exit = !message && !off;
    M.off_on_exit = off;
    const bool binds = shape.present && expected != plugin::kMessageIconThread;
    M.bound = binds;
    M.send_bound = binds && shape.has_send;
    M.uninit_bound = binds && shape.has_uninit;
  }
  M.open = expected == nullptr;
  if (!M.bound) {
    EndBinding();
  }

  // A start that gets past iMONVFD_Init resets the panel and sends the empty
  // icon packet twice; when its thread cannot start, a Done follows.
  if (expected == nullptr || expected == plugin::kMessageIconThread) {
    end = ResetSequence(end);
    *end++ = Packet(0x01);
    *end++ = Packet(0x01);
  }
  if (expected == plugin::kMessageIconThread) {
    Model closing = M;
    closing.bound = closing.send_bound = true;
    end = DonePackets(closing, end);
  }
  Expect(expected_packets, static_cast<std::size_t>(end - expected_packets), "Init's packets");
}

void CallDone() {
  const int uninit_calls = UninitCalls();
  DISPLAYDLL_Done();
  ++Calls[1];
  PacketBytes expected[12];
  const PacketBytes* end = DonePackets(M, expected);
  Expect(expected, static_cast<std::size_t>(end - expected), "Done's packets");
  const bool uninit = M.bound && M.uninit_bound;
  if (UninitCalls() - uninit_calls != (uninit ? 1 : 0)) {
    Fail("iMONVFD_Uninit not called exactly once by a Done that holds it");
  }
  if (uninit && References() != 0) {
    Fail("Done left the library loaded after iMONVFD_Uninit");
  }
  M.open = M.bound = false;
  EndBinding();
}

void CallWrite(Input& in) {
  std::string text;
  const char* argument = in.Text(&text);
  AllowPixels(true);
  DISPLAYDLL_Write(argument);
  AllowPixels(false);
  ++Calls[6];
  // Exactly its pixel transfer: 0x20..0x3B with the picture's bytes in order.
  PacketBytes expected[28] = {};
  if (M.bound && M.send_bound) {
    for (std::size_t k = 0; k < 28; ++k) {
      expected[k][7] = static_cast<std::uint8_t>(0x20 + k);
      for (std::size_t j = 0; j < 7 && 7 * k + j < text::kPixelBufferSize; ++j) {
        expected[k][j] = text::PixelBuffer[7 * k + j];
      }
    }
  }
  Expect(expected, M.bound && M.send_bound ? 28 : 0, "Write's pixel transfer");
}

void CallTexts(std::uint8_t which) {
  const char* text = which == 0   ? DISPLAYDLL_DriverName()
                     : which == 1 ? DISPLAYDLL_Usage()
                                  : DISPLAYDLL_DefaultParameters();
  ++Calls[2 + which];
  const std::size_t lengths[] = {23, 118, 0};
  if (text == nullptr || std::strlen(text) != lengths[which]) {
    Fail("a fixed text changed");
  }
}

void RunOperation(Input& in) {
  const std::uint8_t op = in.Byte() % 15;
  switch (op) {
    case 0:
      CallInit(in);
      return;
    case 1:
      CallDone();
      return;
    case 2:
    case 3:
    case 4:
      CallTexts(static_cast<std::uint8_t>(op - 2));
      break;
    case 5: {
      const std::uint8_t x = in.Byte();
      DISPLAYDLL_SetPosition(x, in.Byte());
      ++Calls[op];
      break;
    }
    case 6:
      CallWrite(in);
      return;
    case 7:
      DISPLAYDLL_SetBrightness(in.Byte());
      ++Calls[op];
      break;
    case 8: {
      const std::uint8_t index = in.Byte();
      std::uint8_t pattern[8];
      const bool null_pattern = in.Byte() == 0xFF;
      for (std::uint8_t& row : pattern) {
        row = in.Byte();
      }
      DISPLAYDLL_CustomChar(index, null_pattern ? nullptr : pattern);
      ++Calls[op];
      break;
    }
    case 9: {
      const std::uint8_t index = in.Byte();
      const std::uint8_t code = DISPLAYDLL_CustomCharIndex(index);
      ++Calls[op];
      const auto before = static_cast<std::uint8_t>(index - 1);
      if (code != (before == 0 ? 8 : before)) {
        Fail("CustomCharIndex gave the wrong character code");
      }
      break;
    }
    case 10: {
      const std::uint8_t contrast = in.Byte();
      DISPLAYDLL_SetContrast(contrast);
      ++Calls[op];
      M.contrast = static_cast<std::uint8_t>(contrast >> 3);
      const PacketBytes expected = Packet(0x03, M.contrast);
      Expect(&expected, M.bound && M.send_bound ? 1 : 0, "SetContrast's packet");
      return;
    }
    case 11: {
      const std::uint8_t action = in.Byte();
      DISPLAYDLL_SetFan(action, in.Byte());
      ++Calls[op];
      break;
    }
    case 12: {
      // Only a started plug-in has an icon thread whose cycles could run.
      const int cycles = 1 + in.Byte() % 4;
      for (int i = 0; M.open && i < cycles; ++i) {
        icons::RunRefreshCycle();
        std::size_t count = 0;
        const PacketBytes* sent = TakePackets(&count);
        if (count != 1 || sent[0][7] != 0x01) {
          Fail("a refresh cycle sent other than one icon packet");
        }
      }
      return;
    }
    case 13: {
      const bool readable = in.Byte() % 2 == 0;
      std::uint32_t value = 0;
      for (int i = 0; i < 3; ++i) {
        value = value << 8 | in.Byte();
      }
      platform::seam::SetSpeakerConfig(readable, value);
      return;
    }
    default:
      return;  // a no-op, so that inputs can be spliced at any byte
  }
  Expect(nullptr, 0, "an entry point that sends nothing");
}

// Brings the plug-in back to one state before each input, so that an input
// replays alone as it ran: closed, no library held, message mode, contrast 10,
// no blinking segments, no speaker layout.
void Reset() {
  DISPLAYDLL_Done();
  SetVendorShape(VendorShape{false});
  bool ok = false;
  DISPLAYDLL_Init(16, 2, "message", &ok);
  DISPLAYDLL_SetContrast(80);
  std::size_t count = 0;
  TakePackets(&count);
  EndBinding();
  M = Model{};
  if (References() != 0) {
    Fail("a library reference outlived the reset");
  }
  icons::ICON_FLASH = 0;
  platform::seam::SetSpeakerConfig(false, 0);
}

// Writes the calls made, in all and by entry point, to standard error and to
// the file named by VESTRIX_FUZZ_CALLS_FILE: the total on the first line.
void WriteCount() {
  unsigned long long total = 0;
  for (const unsigned long long calls : Calls) {
    total += calls;
  }
  std::FILE* file = nullptr;
  if (const char* path = std::getenv("VESTRIX_FUZZ_CALLS_FILE"); path != nullptr) {
    file = std::fopen(path, "w");
  }
  std::fprintf(stderr, "vestrix fuzz: %llu entry-point calls:", total);
  if (file != nullptr) {
    std::fprintf(file, "%llu\n", total);
  }
  for (std::size_t i = 0; i < std::size(kEntryPoints); ++i) {
    std::fprintf(stderr, " %s %llu", kEntryPoints[i], Calls[i]);
    if (file != nullptr) {
      std::fprintf(file, "%s %llu\n", kEntryPoints[i], Calls[i]);
    }
  }
  std::fprintf(stderr, "\n");
  if (file != nullptr) {
    std::fclose(file);
  }
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool installed = [] {
    platform::seam::HoldThreadStarts(true);
    platform::seam::SkipPauses(true);
    fuzz::InstallMemoryVendor();
    std::atexit(fuzz::WriteCount);
    return true;
  }();
  (void)installed;
  fuzz::Reset();
  fuzz::Input in(data, size);
  while (!in.Done()) {
    fuzz::RunOperation(in);
    if (fuzz::References() > 1) {
      fuzz::Fail("the plug-in holds more than one reference to the library");
    }
  }
  return 0;
}
