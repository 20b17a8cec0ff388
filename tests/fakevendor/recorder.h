// The call recorder shared by the test vendor libraries and the tests. It lives
// in a library of its own, so the record outlasts the vendor library that wrote
// it: tests read it after the plug-in has released the vendor library.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(VESTRIX_RECORDER_BUILD)
#define RECORDER_API __declspec(dllexport)
#else
#define RECORDER_API __declspec(dllimport)
#endif
#else
#define RECORDER_API __attribute__((visibility("default")))
#endif

extern "C" {

enum RecordKind : std::uint32_t {
  kRecordLoad = 1,      // the vendor library was loaded into the process
  kRecordUnload = 2,    // ... and unloaded
  kRecordInit = 3,      // iMONVFD_Init(first, second)
  kRecordSendData = 4,  // iMONLCD_SendData(bytes)
  kRecordUninit = 5,    // iMONVFD_Uninit()
  kRecordOther = 6,     // one of the functions the plug-in never calls
};

struct Record {
  std::uint32_t kind;
  std::uint32_t first;    // Init's first argument
  std::uint32_t second;   // Init's second argument
  std::uint8_t bytes[8];  // SendData's packet, in memory order
  std::uint32_t thread;   // a number for the calling thread, equal for equal threads
};

RECORDER_API void Recorder_Add(const Record* record);
RECORDER_API std::size_t Recorder_Count();
// Copies record `index` into `*record`; false when there is no such record.
RECORDER_API bool Recorder_Get(std::size_t index, Record* record);
RECORDER_API void Recorder_Clear();
// The number that records carry for the calling thread.
RECORDER_API std::uint32_t Recorder_CurrentThread();

// A stalled transfer: the next iMONLCD_SendData of a test vendor library, on
// whichever thread, does not return (nor record its packet) until the stall is
// released. Recorder_Stalled tells whether a call is held now.
RECORDER_API void Recorder_StallNextSend();
RECORDER_API bool Recorder_Stalled();
RECORDER_API void Recorder_ReleaseStall();
// Called by the test vendor libraries' iMONLCD_SendData on entry.
RECORDER_API void Recorder_StallPoint();

// What the next test vendor library's iMONVFD_Init answers (initially 1).
RECORDER_API void Recorder_SetInitAnswer(std::uint32_t answer);
RECORDER_API std::uint32_t Recorder_InitAnswer();

}  // extern "C"
