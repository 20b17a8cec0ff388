// A stand-in for the vendor library built for the other width of Windows than
// the test programs, so that their loader cannot load it: 64-bit for the
// 32-bit build and 32-bit for the 64-bit one. Compiled with the other MinGW
// compiler (tests/CMakeLists.txt).
#include "plugin/vendor_functions.h"

extern "C" {

VENDOR_EXPORT int VENDOR_CALL iMONVFD_Init(int /*first*/, int /*second*/) {
  return 1;
}

VENDOR_EXPORT int VENDOR_CALL iMONLCD_SendData(const unsigned char* /*packet*/) {
  return 1;
}

}  // extern "C"
