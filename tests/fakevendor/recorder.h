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

// Room for `count` records: until the record holds that many, adding one
// allocates nothing (for tests that count the process's heap allocations).
RECORDER_API void Recorder_Reserve(std::size_t count);

// A stalled transfer: the next iMONLCD_SendData of a test vendor library, on
// whichever thread, does not return (nor record its packet) until the stall is
// released. Recorder_Stalled tells whether a call is held now.
RECORDER_API void Recorder_StallNextSend();
RECORDER_API bool Recorder_Stalled();
RECORDER_API void Recorder_ReleaseStall();
// A panel that stops answering: every iMONLCD_SendData from now on, on any
// thread, is held until Recorder_ReleaseStall, which lets them all go on.
RECORDER_API void Recorder_StallEverySend();

// A slow transfer: every iMONLCD_SendData takes `milliseconds` before it
// records its packet and returns (0, the initial value, for none).
RECORDER_API void Recorder_SetSendDelay(std::uint32_t milliseconds);

// The most iMONLCD_SendData calls that were in progress at the same moment,
// on different threads, since the last Recorder_Clear.
RECORDER_API std::size_t Recorder_MostSendsAtOnce();

// Called by the test vendor libraries' iMONLCD_SendData on entry, where a
// stall or the delay holds it, and on return.
RECORDER_API void Recorder_SendBegins();
RECORDER_API void Recorder_SendEnds();

// What the test vendor libraries' iMONVFD_Init answers (initially 1).
RECORDER_API void Recorder_SetInitAnswer(std::uint32_t answer);
// A vendor initialisation that fails once: of the iMONVFD_Init calls from now
// on, the `call`-th (counting from 1) answers 0; those before and after it
// answer as Recorder_SetInitAnswer says. 0 cancels it.
RECORDER_API void Recorder_FailInitCall(std::uint32_t call);
// Called by the test vendor libraries' iMONVFD_Init: the answer for this call.
// It first calls the hook set by Recorder_SetInitHook, if any.
RECORDER_API std::uint32_t Recorder_AnswerInit();
// A function of the test's that every iMONVFD_Init answering through
// Recorder_AnswerInit calls while it runs, before it answers; null for none.
RECORDER_API void Recorder_SetInitHook(void (*hook)());

}  // extern "C"
