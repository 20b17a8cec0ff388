// A vendor library that does nothing: each function returns at once, so that
// what the benchmarks measure through it is the plug-in's own cost plus the
// bare cost of calling into a library.
#include "plugin/vendor_functions.h"

extern "C" {

VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int /*first*/, int /*second*/) {
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONVFD_Uninit() {
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* /*packet*/) {
  return 1;
}

}  // extern "C"
