#include "zip/driver/za_dynamic_bind.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "zip/messages/message_ids.h"

namespace orv::zip {

namespace {

std::string executable_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

}  // namespace

TZADynamicBind::~TZADynamicBind() {
  AbortCall();
  Unload();
}

std::string TZADynamicBind::LibraryPath() const {
  std::string dir = DLLDirectory;
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  if (dir.empty()) return kZipEngineLibraryName;
  if (dir[0] == '.') dir = executable_folder() + "/" + dir;
  const std::string path = dir + "/" + kZipEngineLibraryName;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return kZipEngineLibraryName;
  return path;
}

void TZADynamicBind::Load(ZALoadReason reason) {
  const unsigned bit = static_cast<unsigned>(reason);
  if (handle_ != nullptr) {
    holds_ |= bit;
    return;
  }
  const std::string path = LibraryPath();
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    const char* why = dlerror();
    throw EZipArchiver(msg::DllLoadFailed, {path + (why ? std::string(" (") + why + ")" : std::string())});
  }
  // Each entry point is looked up only when the one before was found.
  void* entries[6] = {};
  const char* const names[6] = {"ZE_UnzExec", "ZE_ZipExec", "ZE_Version", "ZE_PrivVersion", "ZE_Abort", "ZE_Path"};
  bool all = true;
  for (int i = 0; i < 6 && all; ++i) {
    entries[i] = dlsym(h, names[i]);
    all = entries[i] != nullptr;
  }
  int version = 0;
  if (all) {
    version = reinterpret_cast<ZE_VersionFn>(entries[2])();
    priv_version_ = reinterpret_cast<ZE_VersionFn>(entries[3])();
    const char* lib_path = reinterpret_cast<ZE_PathFn>(entries[5])();
    name_ = lib_path ? lib_path : path;
  }
  if (!all || version < kZipEngineMinVersion || version > kZipEngineMaxVersion) {
    dlclose(h);
    throw EZipArchiver(msg::DllOldOrCorrupt, {all ? name_ : path});
  }
  handle_ = h;
  version_ = version;
  unz_exec_ = reinterpret_cast<ZE_UnzExecFn>(entries[0]);
  zip_exec_ = reinterpret_cast<ZE_ZipExecFn>(entries[1]);
  abort_ = reinterpret_cast<ZE_AbortFn>(entries[4]);
  holds_ = bit;
  if (Messenger.Verbose) Messenger.PassMessage(0, FmtLoadZipStr(msg::DllLoaded, {name_}));
}

void TZADynamicBind::Release(ZALoadReason reason) {
  holds_ &= ~static_cast<unsigned>(reason);
  if (holds_ == 0) Unload();
}

void TZADynamicBind::Unload() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
  unz_exec_ = nullptr;
  zip_exec_ = nullptr;
  abort_ = nullptr;
  holds_ = 0;
  if (Messenger.Verbose) Messenger.PassMessage(0, FmtLoadZipStr(msg::DllUnloaded, {name_}));
}

int32_t TZADynamicBind::CallZipExec(ZE_ZipCommand& command) {
  Load(ZALoadReason::Call);
  in_call_ = true;
  abort_handle_ = 0;
  const int32_t r = zip_exec_(&command);
  in_call_ = false;
  Release(ZALoadReason::Call);
  return r;
}

int32_t TZADynamicBind::CallUnzExec(ZE_UnzipCommand& command) {
  Load(ZALoadReason::Call);
  in_call_ = true;
  abort_handle_ = 0;
  const int32_t r = unz_exec_(&command);
  in_call_ = false;
  Release(ZALoadReason::Call);
  return r;
}

void TZADynamicBind::AbortCall() {
  if (in_call_ && abort_ != nullptr && abort_handle_ != 0) abort_(abort_handle_);
}

int TZADynamicBind::MessageForResult(int32_t result) {
  switch (result) {
    case -1: return msg::DllUserCancelled;
    case -2: return msg::DllAborting;
    case -3: return msg::DllHandlerException;
    case -4: return msg::DllNoMemory;
    case -5: return msg::DllInvalidStructure;
    default: return msg::DllCriticalError;
  }
}

}  // namespace orv::zip
