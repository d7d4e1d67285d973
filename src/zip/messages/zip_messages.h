// The archiver's own messages: look-up, formatting and the error type that carries a number.
//
// 189 English texts, numbered, are compiled into the program as one compressed record (made at
// build time by tools/zipmsgc from messages.txt) and expanded by the decoder on first use.
// Look-up order for message n: a language table chosen with SetZipLanguage (when any), then
// the built-in table, then the text hook (when installed) may replace the text; still empty
// gives "Resource missing for n". Every line feed of the result becomes CR LF.
//
// Threading: the look-up functions may be called from any thread (the built-in table is
// expanded once under std::call_once; language and hook are guarded by a mutex). Errors:
// look-up never fails (missing texts give the "Resource missing" text); a built-in record that
// does not decode leaves the built-in table empty (BuiltinZipMessagesStatus tells why).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "message_codec.h"
#include "message_ids.h"

namespace orv::zip {

// One argument of a formatted message: %s takes text, %d a number.
using ZipMessageArg = std::variant<std::string, long long>;

// Text of message `ident` by the look-up order above, line feeds expanded to CR LF.
std::string LoadZipStr(int ident);
// LoadZipStr formatted with `args`: %s, %d (also %u, %x), %% are understood; surplus arguments
// are ignored; a specifier without its argument stays as written.
std::string FmtLoadZipStr(int ident, std::span<const ZipMessageArg> args);
std::string FmtLoadZipStr(int ident, std::initializer_list<ZipMessageArg> args);
// The formatter alone (no look-up, no line-feed expansion).
std::string FormatZipMessage(std::string_view pattern, std::span<const ZipMessageArg> args);
// "\n" -> "\r\n" (an existing "\r\n" stays as it is).
std::string ExpandLineFeeds(std::string_view text);

// The plain built-in text of `ident` (no hook, no expansion); empty when the table lacks it.
std::string BuiltinZipStr(int ident);
// Number of built-in texts, and why the record failed to decode ("" when it decoded).
std::size_t BuiltinZipMessageCount();
std::string BuiltinZipMessagesStatus();
// The compressed record as linked into the program.
std::span<const std::uint8_t> BuiltinZipMessageRecord();

// Text hook: may replace the text of `ident` (gets the text found so far, returns the text).
using ZipTextHook = std::function<std::string(int ident, const std::string& text)>;
void SetZipTextHook(ZipTextHook hook);  // empty function removes it

// Language tables: a resource of several records back to back; choose one by name ("US") or
// by language id. Returns false (and keeps the current choice) when none matches or it does
// not decode. ClearZipLanguage goes back to the built-in table alone.
[[nodiscard]] bool SetZipLanguage(std::span<const std::uint8_t> resource, std::string_view name);
[[nodiscard]] bool SetZipLanguage(std::span<const std::uint8_t> resource, std::uint16_t language_id);
void ClearZipLanguage();

// The archiver's error: a message number, its formatted text, and whether it is to be shown.
class EZipArchiver : public std::runtime_error {
 public:
  explicit EZipArchiver(int ident, bool display = true);
  EZipArchiver(int ident, std::initializer_list<ZipMessageArg> args, bool display = true);
  // An error whose text is given (number kept for OnMessage).
  EZipArchiver(int ident, std::string text, bool display);

  int Ident() const noexcept { return ident_; }
  bool DisplayMsg() const noexcept { return display_; }

 private:
  int ident_;
  bool display_;
};

}  // namespace orv::zip
