// ZE_Version, ZE_PrivVersion, ZE_Abort and ZE_Path.
#include <dlfcn.h>

#include <string>

#include "zip/engine/session.h"

namespace {
constexpr int32_t kVersion = 179;
constexpr int32_t kPrivVersion = 1790301;  // 1.79.03.01
}  // namespace

#define ZE_EXPORT extern "C" __attribute__((visibility("default")))

ZE_EXPORT int32_t ZE_Version(void) { return kVersion; }

ZE_EXPORT int32_t ZE_PrivVersion(void) { return kPrivVersion; }

ZE_EXPORT int32_t ZE_Abort(int32_t handle) { return orv::zip::engine::Session::abort(handle) ? 0 : -1; }

ZE_EXPORT const char* ZE_Path(void) {
  static const std::string path = [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ZE_Version), &info) != 0 && info.dli_fname != nullptr) return std::string(info.dli_fname);
    return std::string("libZipEngine179.so");
  }();
  return path.c_str();
}
