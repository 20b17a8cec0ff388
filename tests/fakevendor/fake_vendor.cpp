// A stand-in for the panel vendor's library that records every call. Built in
// several variants, chosen by macros:
//   FAKE_VENDOR_STDCALL      functions use __stdcall (else __cdecl) on 32-bit x86
//   FAKE_VENDOR_MINIMAL      only iMONVFD_Init and iMONLCD_SendData
//   FAKE_VENDOR_NO_SENDDATA  every function but iMONLCD_SendData
//   FAKE_VENDOR_INIT_FALSE   iMONVFD_Init answers false
//   FAKE_VENDOR_NO_INIT      every function but iMONVFD_Init
//   FAKE_VENDOR_NO_UNINIT    every function but iMONVFD_Uninit
// Without FAKE_VENDOR_INIT_FALSE, iMONVFD_Init answers what the recorder says,
// and iMONLCD_SendData stalls or takes its time as the recorder says.
#include <cstring>

// A __cdecl build on 32-bit x86; the header's convention otherwise.
#if defined(__i386__) && !defined(FAKE_VENDOR_STDCALL)
#define VENDOR_CALL __attribute__((cdecl))
#endif

#include "plugin/vendor_functions.h"
#include "tests/fakevendor/recorder.h"

namespace {

void Add(std::uint32_t kind, std::uint32_t first = 0, std::uint32_t second = 0,
         const unsigned char* bytes = nullptr) {
  Record record{};
  record.kind = kind;
  record.first = first;
  record.second = second;
  if (bytes != nullptr) {
    std::memcpy(record.bytes, bytes, sizeof record.bytes);
  }
  Recorder_Add(&record);
}

// Records the library's arrival in and departure from the process.
struct LoadWitness {
  LoadWitness() { Add(kRecordLoad); }
  ~LoadWitness() { Add(kRecordUnload); }
  LoadWitness(const LoadWitness&) = delete;
  LoadWitness& operator=(const LoadWitness&) = delete;
};
const LoadWitness g_witness;

}  // namespace

extern "C" {

#if !defined(FAKE_VENDOR_NO_INIT)
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int first, int second) {
  Add(kRecordInit, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(second));
#if defined(FAKE_VENDOR_INIT_FALSE)
  // Only the low byte is a truth value: this answer is false although non-zero.
  return 0x100;
#else
  return static_cast<int>(Recorder_AnswerInit());
#endif
}
#endif

#if !defined(FAKE_VENDOR_MINIMAL) && !defined(FAKE_VENDOR_NO_UNINIT)
VENDOR_EXPORT int VENDOR_CALL iMONVFD_Uninit() {
  Add(kRecordUninit);
  return 1;
}
#endif

#if !defined(FAKE_VENDOR_MINIMAL)
VENDOR_EXPORT int VENDOR_CALL iMONVFD_IsInited() {
  Add(kRecordOther);
  return 1;
}
VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetText(const char* /*first_line*/,
                                              const char* /*second_line*/) {
  Add(kRecordOther);
  return 1;
}
VENDOR_EXPORT int VENDOR_CALL iMONVFD_SetEQ(const int* /*bands*/) {
  Add(kRecordOther);
  return 1;
}
#endif

#if !defined(FAKE_VENDOR_NO_SENDDATA)
VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* packet) {
  Recorder_SendBegins();
  Add(kRecordSendData, 0, 0, packet);
  Recorder_SendEnds();
  return 1;
}
#endif

}  // extern "C"
