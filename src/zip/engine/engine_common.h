// The frame of every library call: validates nothing itself, but turns the engine's
// exceptions into results and kind-4 messages, so no exception ever leaves the library.
#pragma once

#include <new>

#include "zip/engine/session.h"
#include "zip/engine/zip_format.h"

namespace orv::zip::engine {

template <typename Body>
int32_t guarded_call(void* caller, ZE_CallbackFn callback, bool is_zip, Body&& body) noexcept {
  try {
    Session session(caller, callback, is_zip);
    // The message goes to the caller's callback; when even that fails (no memory, the caller
    // stopping), the result code below still tells the caller what happened.
    auto report = [&](int32_t code, const std::string& text) {
      try {
        session.message(code, text);
      } catch (const std::exception&) {
      }
    };
    try {
      return body(session);
    } catch (const StopRequested& s) {
      return s.result();
    } catch (const EngineError& e) {
      report(e.code(), e.what());
      return e.result();
    } catch (const FormatError& e) {
      report(ZE_MSG_FORMAT, e.what());
      return ZE_INVALID;
    } catch (const std::bad_alloc&) {
      report(ZE_MSG_IO, "Not enough memory");
      return ZE_NO_MEMORY;
    } catch (const std::exception& e) {
      report(ZE_MSG_IO, e.what());
      return ZE_IO_ERROR;
    }
  } catch (const StopRequested& s) {
    return s.result();  // stopped at the abort-handle callback
  } catch (const std::exception&) {
    // No session to send a message through (it could not be made): the result alone.
    return ZE_NO_MEMORY;
  }
}

}  // namespace orv::zip::engine
