// A vendor library that does nothing: each function returns at once, so that
// what the benchmarks measure through it is the plug-in's own cost plus the
// bare cost of calling into a library.
#if defined(_WIN32)
#define VENDOR_EXPORT __declspec(dllexport)
#else
#define VENDOR_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

VENDOR_EXPORT int iMONVFD_Init(int /*first*/, int /*second*/) {
  return 1;
}

VENDOR_EXPORT void iMONVFD_Uninit() {}

VENDOR_EXPORT int iMONLCD_SendData(const unsigned char* /*packet*/) {
  return 1;
}

}  // extern "C"
