#include "burner/names.h"

#include <algorithm>
#include <cstdint>

namespace orv::burner {
namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Decodes one UTF-8 sequence at text[i]; returns the code point or -1 for an invalid byte,
// and advances i past what was read.
int32_t NextCodePoint(const std::string& text, size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  int32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return -1;
  }
  if (i + static_cast<size_t>(extra) >= text.size()) {
    ++i;
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static const int32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

bool Valid83Char(char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  if (c >= '0' && c <= '9') return true;
  static const std::string kExtra = "!#$%&'()-@^_`{}~";
  return kExtra.find(c) != std::string::npos;
}

}  // namespace

std::string UpperAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = UpperChar(c);
  return out;
}

bool EqualUpperAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

std::string MakeShortName(const std::string& name) {
  std::string out;
  size_t i = 0;
  int characters = 0;
  while (i < name.size() && characters < 13) {
    const int32_t cp = NextCodePoint(name, i);
    char c = '_';
    if (cp >= 0x21 && cp <= 0x7A) c = UpperChar(static_cast<char>(cp));
    out += c;
    ++characters;
  }
  return out;
}

bool IsPlain83Name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (char c : base)
    if (!Valid83Char(c)) return false;
  for (char c : ext)
    if (!Valid83Char(c)) return false;
  return true;
}

std::string AlternateShortName(const std::string& name, int number) {
  const size_t last_dot = name.rfind('.');
  const bool has_ext = last_dot != std::string::npos && last_dot > 0 && last_dot + 1 < name.size();
  const std::string base_part = has_ext ? name.substr(0, last_dot) : name;
  std::string base, ext;
  for (char c : base_part)
    if (Valid83Char(c)) base += UpperChar(c);
  if (has_ext)
    for (char c : name.substr(last_dot + 1))
      if (Valid83Char(c) && ext.size() < 3) ext += UpperChar(c);
  std::string tail(1, '~');
  tail += std::to_string(number);
  const size_t keep = tail.size() >= 8 ? 0 : 8 - tail.size();
  if (base.size() > keep) base.resize(keep);
  if (base.empty() && keep > 0) base.assign(1, '_');
  std::string out = base + tail;
  if (!ext.empty()) {
    out += '.';
    out += ext;
  }
  return out;
}

std::string Utf8ToUcs2BE(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  size_t i = 0;
  while (i < text.size()) {
    int32_t cp = NextCodePoint(text, i);
    if (cp < 0 || cp > 0xFFFF) cp = '_';
    out += static_cast<char>((cp >> 8) & 0xFF);
    out += static_cast<char>(cp & 0xFF);
  }
  return out;
}

std::string JolietForm(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    const size_t from = i;
    const int32_t cp = NextCodePoint(name, i);
    if (cp < 0 || cp > 0xFFFF) out += '_';
    else out.append(name, from, i - from);
  }
  return out;
}

std::string NumberedJolietName(const std::string& joliet_name, int number) {
  const size_t last_dot = joliet_name.rfind('.');
  const bool has_ext = last_dot != std::string::npos && last_dot > 0;
  std::string base = has_ext ? joliet_name.substr(0, last_dot) : joliet_name;
  const std::string ext = has_ext ? joliet_name.substr(last_dot) : std::string();
  const std::string tail = "~" + std::to_string(number);
  const size_t room = kMaxJolietNameChars - std::min(kMaxJolietNameChars, Ucs2Length(tail + ext));
  // Cut the base after whole characters until it fits.
  std::string kept;
  size_t i = 0, chars = 0;
  while (i < base.size() && chars < room) {
    const size_t from = i;
    (void)NextCodePoint(base, i);
    kept.append(base, from, i - from);
    ++chars;
  }
  return kept + tail + ext;
}

size_t Ucs2Length(const std::string& text) {
  size_t i = 0, n = 0;
  while (i < text.size()) {
    (void)NextCodePoint(text, i);
    ++n;
  }
  return n;
}

bool NamesFitRecords(const std::string& short_name, const std::string& long_name, bool is_file) {
  const size_t suffix = is_file ? 2 : 0;
  return short_name.size() + suffix <= kMaxISOIdentifier && Ucs2Length(long_name) <= kMaxJolietNameChars;
}

}  // namespace orv::burner
