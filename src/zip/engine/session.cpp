#include "zip/engine/session.h"

#include <cstring>
#include <map>
#include <mutex>

namespace orv::zip::engine {

namespace {
std::mutex g_registry_mutex;
std::map<int32_t, std::atomic<bool>*> g_registry;
int32_t g_next_handle = 1;
}  // namespace

Session::Session(void* caller, ZE_CallbackFn callback, bool is_zip)
    : caller_(caller), callback_(callback), is_zip_(is_zip) {
  {
    std::lock_guard<std::mutex> lock(g_registry_mutex);
    handle_ = g_next_handle++;
    if (g_next_handle <= 0) g_next_handle = 1;
    g_registry[handle_] = &abort_;
  }
  ZE_CallbackRecord r = make(ZE_CB_ABORT_HANDLE);
  r.Arg1 = handle_;
  call(r);
}

Session::~Session() {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  g_registry.erase(handle_);
}

bool Session::abort(int32_t handle) {
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  auto it = g_registry.find(handle);
  if (it == g_registry.end()) return false;
  it->second->store(true);
  return true;
}

void Session::check_abort() const {
  if (abort_.load()) throw StopRequested(ZE_ABORTED);
}

ZE_CallbackRecord Session::make(int32_t kind) const {
  ZE_CallbackRecord r;
  std::memset(&r, 0, sizeof r);
  r.Caller = caller_;
  r.Version = 179;
  r.IsOperationZip = is_zip_ ? 1 : 0;
  r.ActionCode = kind;
  r.Written = written_;
  return r;
}

int32_t Session::call(ZE_CallbackRecord& r) {
  check_abort();
  if (callback_ == nullptr) return 0;
  const int32_t kind = r.ActionCode;
  const int32_t answer = callback_(caller_, &r);
  if (answer == 10106) throw StopRequested(ZE_HANDLER_FAULT);
  if (answer != 0) throw StopRequested(ZE_USER_CANCELLED);
  check_abort();
  return r.ActionCode == kind ? 0 : r.ActionCode;
}

void Session::tick() {
  ZE_CallbackRecord r = make(ZE_CB_TICK);
  call(r);
}

void Session::new_file(const std::string& name, int64_t size) {
  ZE_CallbackRecord r = make(ZE_CB_NEW_FILE);
  r.MsgP = name.c_str();
  r.FileSize = size;
  call(r);
}

void Session::progress(int64_t increment) {
  ZE_CallbackRecord r = make(ZE_CB_PROGRESS);
  r.FileSize = increment;
  call(r);
}

void Session::end_of_batch() {
  ZE_CallbackRecord r = make(ZE_CB_END_OF_BATCH);
  call(r);
}

void Session::totals(int64_t files, int64_t bytes) {
  ZE_CallbackRecord r = make(ZE_CB_TOTAL_FILES);
  r.Arg1 = static_cast<int32_t>(files);
  r.FileSize = files;
  call(r);
  r = make(ZE_CB_TOTAL_SIZE);
  r.FileSize = bytes;
  call(r);
}

void Session::message(int32_t code, const std::string& text) {
  ZE_CallbackRecord r = make(ZE_CB_MESSAGE);
  r.Arg1 = code;
  r.MsgP = text.c_str();
  call(r);
}

void Session::skipped(const std::string& name, int32_t code, int32_t skip_type) {
  ZE_CallbackRecord r = make(ZE_CB_SKIPPED);
  r.Arg1 = code;
  r.MsgP = name.c_str();
  r.Arg2 = skip_type;
  call(r);
}

}  // namespace orv::zip::engine
