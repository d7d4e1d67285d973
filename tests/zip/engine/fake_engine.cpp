// A stand-in for the zip engine library with a chosen version (FAKE_ENGINE_VERSION), or with
// its last entry point missing (FAKE_ENGINE_NO_PATH), for the driver's load checks.
#include <cstdint>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int32_t ZE_UnzExec(void*) { return -5; }
FAKE_EXPORT int32_t ZE_ZipExec(void*) { return -5; }
FAKE_EXPORT int32_t ZE_Version(void) { return FAKE_ENGINE_VERSION; }
FAKE_EXPORT int32_t ZE_PrivVersion(void) { return 0; }
FAKE_EXPORT int32_t ZE_Abort(int32_t) { return 0; }
#ifndef FAKE_ENGINE_NO_PATH
FAKE_EXPORT const char* ZE_Path(void) { return "fake-engine"; }
#endif
