// One running library call: the callback channel to the driver, the abort handle, and the
// engine's failure type. Everything here runs on the calling thread except abort_requested().
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "zip/engine/ze_api.h"

namespace orv::zip::engine {

// A failure that ends the call with a negative ZE_Result. The text goes to the driver as a
// kind-4 message (code) before the call returns.
class EngineError : public std::runtime_error {
 public:
  EngineError(int32_t result, int32_t code, const std::string& text)
      : std::runtime_error(text), result_(result), code_(code) {}
  int32_t result() const { return result_; }
  int32_t code() const { return code_; }

 private:
  int32_t result_;
  int32_t code_;
};

// Thrown when the driver or ZE_Abort asks to stop.
class StopRequested : public std::exception {
 public:
  explicit StopRequested(int32_t result) : result_(result) {}
  int32_t result() const { return result_; }
  const char* what() const noexcept override { return "stop requested"; }

 private:
  int32_t result_;
};

class Session {
 public:
  Session(void* caller, ZE_CallbackFn callback, bool is_zip);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Sends one callback and returns the driver's reply (ActionCode after the call, or 0 when
  // unchanged). Throws StopRequested when the driver or ZE_Abort asked to stop.
  int32_t call(ZE_CallbackRecord& record);
  ZE_CallbackRecord make(int32_t kind) const;

  void tick();
  void new_file(const std::string& name, int64_t size);
  void progress(int64_t increment);
  void end_of_batch();
  void totals(int64_t files, int64_t bytes);
  void message(int32_t code, const std::string& text);
  // kind 11: a file skipped; no reply.
  void skipped(const std::string& name, int32_t code, int32_t skip_type);

  void set_written(int64_t written) { written_ = written; }
  void check_abort() const;  // throws StopRequested(ZE_ABORTED)

  // Registry used by ZE_Abort.
  static bool abort(int32_t handle);

 private:
  void* caller_;
  ZE_CallbackFn callback_;
  bool is_zip_;
  int32_t handle_;
  std::atomic<bool> abort_{false};
  int64_t written_ = 0;
};

}  // namespace orv::zip::engine
