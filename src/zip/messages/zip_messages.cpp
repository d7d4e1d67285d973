// Look-up and formatting of the archiver's messages (see zip_messages.h).
#include "zip_messages.h"

#include <mutex>
#include <optional>

#include "builtin_record.h"

namespace orv::zip {
namespace {

struct BuiltinTable {
  MessageMap messages;
  std::string status;
};

const BuiltinTable& Builtin() {
  static BuiltinTable table;
  static std::once_flag once;
  std::call_once(once, [] {
    RecordDecodeResult decoded = DecodeMessageRecord(BuiltinZipMessageRecord());
    if (decoded.ok) table.messages = std::move(decoded.messages);
    else table.status = decoded.error;
  });
  return table;
}

struct Overrides {
  std::mutex lock;
  std::optional<MessageMap> language;
  ZipTextHook hook;
};

Overrides& TheOverrides() {
  static Overrides o;
  return o;
}

std::string Lookup(const MessageMap& table, int ident) {
  const auto it = table.find(ident);
  return it == table.end() ? std::string() : Utf16ToUtf8(it->second);
}

std::string ArgAsText(const ZipMessageArg& arg) {
  if (const auto* s = std::get_if<std::string>(&arg)) return *s;
  return std::to_string(std::get<long long>(arg));
}

bool PickLanguage(std::span<const std::uint8_t> resource,
                  const std::function<bool(const MessageRecord&)>& match) {
  std::size_t at = 0;
  while (at < resource.size()) {
    const auto rec = ReadMessageRecord(resource.subspan(at));
    if (!rec) return false;
    if (match(*rec)) {
      RecordDecodeResult decoded = DecodeMessageBlock(rec->block);
      if (!decoded.ok) return false;
      auto& o = TheOverrides();
      std::lock_guard guard(o.lock);
      o.language = std::move(decoded.messages);
      return true;
    }
    at += rec->record_size;
  }
  return false;
}

}  // namespace

std::span<const std::uint8_t> BuiltinZipMessageRecord() {
  return {kBuiltinZipMessageRecord, kBuiltinZipMessageRecordSize};
}

std::string BuiltinZipStr(int ident) { return Lookup(Builtin().messages, ident); }
std::size_t BuiltinZipMessageCount() { return Builtin().messages.size(); }
std::string BuiltinZipMessagesStatus() { return Builtin().status; }

std::string LoadZipStr(int ident) {
  std::string text;
  ZipTextHook hook;
  {
    auto& o = TheOverrides();
    std::lock_guard guard(o.lock);
    if (o.language) text = Lookup(*o.language, ident);
    hook = o.hook;
  }
  if (text.empty()) text = BuiltinZipStr(ident);
  if (hook) text = hook(ident, text);
  if (text.empty()) text = "Resource missing for " + std::to_string(ident);
  return ExpandLineFeeds(text);
}

std::string FmtLoadZipStr(int ident, std::span<const ZipMessageArg> args) {
  return FormatZipMessage(LoadZipStr(ident), args);
}

std::string FmtLoadZipStr(int ident, std::initializer_list<ZipMessageArg> args) {
  return FmtLoadZipStr(ident, std::span<const ZipMessageArg>(args.begin(), args.size()));
}

std::string FormatZipMessage(std::string_view pattern, std::span<const ZipMessageArg> args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out.push_back(c);
      continue;
    }
    const char spec = pattern[i + 1];
    if (spec == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (spec != 's' && spec != 'd' && spec != 'u' && spec != 'x') {
      out.push_back(c);
      continue;
    }
    ++i;
    if (next >= args.size()) {  // no argument left: keep the specifier visible
      out.push_back('%');
      out.push_back(spec);
      continue;
    }
    const ZipMessageArg& arg = args[next++];
    if (spec == 'x' && std::holds_alternative<long long>(arg)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      unsigned long long v = static_cast<unsigned long long>(std::get<long long>(arg));
      std::string hex;
      do {
        hex.insert(hex.begin(), kHex[v & 0xF]);
        v >>= 4;
      } while (v);
      out += hex;
    } else {
      out += ArgAsText(arg);
    }
  }
  return out;
}

std::string ExpandLineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

void SetZipTextHook(ZipTextHook hook) {
  auto& o = TheOverrides();
  std::lock_guard guard(o.lock);
  o.hook = std::move(hook);
}

bool SetZipLanguage(std::span<const std::uint8_t> resource, std::string_view name) {
  return PickLanguage(resource, [name](const MessageRecord& r) { return r.name == name; });
}

bool SetZipLanguage(std::span<const std::uint8_t> resource, std::uint16_t language_id) {
  return PickLanguage(resource, [language_id](const MessageRecord& r) { return r.language_id == language_id; });
}

void ClearZipLanguage() {
  auto& o = TheOverrides();
  std::lock_guard guard(o.lock);
  o.language.reset();
}

EZipArchiver::EZipArchiver(int ident, bool display)
    : std::runtime_error(LoadZipStr(ident)), ident_(ident), display_(display) {}

EZipArchiver::EZipArchiver(int ident, std::initializer_list<ZipMessageArg> args, bool display)
    : std::runtime_error(FmtLoadZipStr(ident, args)), ident_(ident), display_(display) {}

EZipArchiver::EZipArchiver(int ident, std::string text, bool display)
    : std::runtime_error(text), ident_(ident), display_(display) {}

}  // namespace orv::zip
