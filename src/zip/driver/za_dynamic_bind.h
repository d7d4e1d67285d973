// TZADynamicBind: finds, loads and releases the zip engine library and calls it.
//
// Locating: with DLLDirectory set (a trailing separator dropped) the library is
// DLLDirectory/libZipEngine179.so, a DLLDirectory starting with "." being relative to the
// executable's folder; when that file does not exist, or DLLDirectory is empty, the bare name
// is loaded through the dynamic loader's search order. The six entry points are looked up in
// order; ZE_Version must be 179..300. A library that cannot be loaded fails with 10650, a
// wrong one with 10651 (EZipArchiver, the library's name in the text).
//
// The library stays loaded while a reason holds: a call running, an operation running, or
// Dll_Load. Threading: the thread that runs the operations; Abort may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "zip/driver/za_core.h"
#include "zip/engine/ze_api.h"

namespace orv::zip {

inline constexpr const char* kZipEngineLibraryName = "libZipEngine179.so";
inline constexpr int kZipEngineMinVersion = 179;
inline constexpr int kZipEngineMaxVersion = 300;

enum class ZALoadReason { Call = 1, Operation = 2, Keep = 4 };

class TZADynamicBind : public TZACore {
 public:
  TZADynamicBind() = default;
  ~TZADynamicBind() override;

  std::string DLLDirectory;

  // The path that the loader tries first (DLLDirectory's file), or the bare name.
  std::string LibraryPath() const;

  // Takes a hold for `reason`, loading the library on the first hold. Throws EZipArchiver
  // 10650/10651. Release drops the hold and unloads when none is left.
  void Load(ZALoadReason reason);
  void Release(ZALoadReason reason);
  bool Loaded() const { return handle_ != nullptr; }
  int LibraryVersion() const { return version_; }
  int LibraryPrivVersion() const { return priv_version_; }
  const std::string& LibraryName() const { return name_; }

  // Calls ZE_ZipExec / ZE_UnzExec under a call hold. Returns the library's result.
  int32_t CallZipExec(ZE_ZipCommand& command);
  int32_t CallUnzExec(ZE_UnzipCommand& command);

  // Asks a running call to stop (ZE_Abort with the handle from callback kind 18).
  void AbortCall();
  void SetAbortHandle(int32_t handle) { abort_handle_ = handle; }

  // Message number for a negative library result: 10120, 10118, 10123, 10121, 10122 or 10124.
  static int MessageForResult(int32_t result);

 private:
  void Unload();

  void* handle_ = nullptr;
  unsigned holds_ = 0;
  int version_ = 0;
  int priv_version_ = 0;
  std::string name_;
  ZE_UnzExecFn unz_exec_ = nullptr;
  ZE_ZipExecFn zip_exec_ = nullptr;
  ZE_AbortFn abort_ = nullptr;
  std::atomic<int32_t> abort_handle_{0};
  std::atomic<bool> in_call_{false};
};

}  // namespace orv::zip
