#include "server/tds/tds_protocol.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/byte_order.h"

namespace orv::server::tds {

namespace {

[[noreturn]] void bad(const std::string& what) { throw TdsError(what); }

// Bounds-checked little-endian reader over one message.
class Reader {
 public:
  Reader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::size_t pos() const { return pos_; }
  std::size_t left() const { return n_ - pos_; }
  bool at_end() const { return pos_ == n_; }
  void need(std::size_t k, const char* what) const {
    if (k > n_ - pos_) bad(std::string("truncated ") + what);
  }
  std::uint8_t u8(const char* what) {
    need(1, what);
    return p_[pos_++];
  }
  std::uint16_t u16(const char* what) {
    need(2, what);
    std::uint16_t v = bytes::load_le16(p_ + pos_);
    pos_ += 2;
    return v;
  }
  std::uint16_t u16be(const char* what) {
    need(2, what);
    std::uint16_t v = bytes::load_be16(p_ + pos_);
    pos_ += 2;
    return v;
  }
  std::uint32_t u32(const char* what) {
    need(4, what);
    std::uint32_t v = bytes::load_le32(p_ + pos_);
    pos_ += 4;
    return v;
  }
  std::uint64_t u64(const char* what) {
    std::uint64_t lo = u32(what);
    std::uint64_t hi = u32(what);
    return lo | (hi << 32);
  }
  const std::uint8_t* take(std::size_t k, const char* what) {
    need(k, what);
    const std::uint8_t* at = p_ + pos_;
    pos_ += k;
    return at;
  }
  std::string utf16(std::size_t units, const char* what) {
    if (units > left() / 2) bad(std::string("truncated ") + what);
    return utf16_to_utf8(take(units * 2, what), units);
  }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
};

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 character at text[i]; returns U+FFFD for an invalid sequence (one byte).
char32_t next_utf8(std::string_view text, std::size_t& i) {
  auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  int extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto n = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((n & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (n & 0x3F);
  }
  static const char32_t min[] = {0, 0x80, 0x800, 0x10000};
  if (c < min[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return c;
}

// cp1252's 0x80..0x9F; 0 = undefined.
constexpr char16_t kCp1252High[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                                      0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

bool in_cp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return true;
  for (char16_t h : kCp1252High)
    if (h != 0 && h == c) return true;
  return false;
}

dal::DateTime from_tds_datetime(std::int32_t days, std::uint32_t ticks) {
  return dal::DateTime{static_cast<double>(days) + 2.0 + static_cast<double>(ticks) / (300.0 * 86400.0)};
}

// Days from 0001-01-01 (DATE / DATETIME2) to the stored epoch 1899-12-30: 693593.
constexpr double kDaysTo1899 = 693593.0;

std::uint64_t read_le(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = n; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

// Reads one TYPE_INFO and its value (RPC parameter).
dal::Value read_typed_value(Reader& r) {
  std::uint8_t type = r.u8("parameter type");
  auto fixed = [&](std::size_t n) { return r.take(n, "parameter value"); };
  auto sint = [](std::uint64_t v, std::size_t n) -> std::int64_t {
    if (n < 8 && (v >> (n * 8 - 1)) & 1) v |= ~std::uint64_t{0} << (n * 8);
    return static_cast<std::int64_t>(v);
  };
  switch (type) {
    case 0x1F: return std::monostate{};
    case 0x30: return std::int64_t{*fixed(1)};
    case 0x32: return std::int64_t{*fixed(1) != 0};
    case 0x34: return sint(read_le(fixed(2), 2), 2);
    case 0x38: return sint(read_le(fixed(4), 4), 4);
    case 0x7F: return sint(read_le(fixed(8), 8), 8);
    case 0x3B: {
      std::uint32_t bits = static_cast<std::uint32_t>(read_le(fixed(4), 4));
      float f;
      std::memcpy(&f, &bits, 4);
      return static_cast<double>(f);
    }
    case 0x3E: {
      std::uint64_t bits = read_le(fixed(8), 8);
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    case 0x3D: {
      const std::uint8_t* p = fixed(8);
      return from_tds_datetime(static_cast<std::int32_t>(read_le(p, 4)), static_cast<std::uint32_t>(read_le(p + 4, 4)));
    }
    case 0x3A: {
      const std::uint8_t* p = fixed(4);
      return dal::DateTime{static_cast<double>(read_le(p, 2)) + 2.0 + static_cast<double>(read_le(p + 2, 2)) / 1440.0};
    }
    case 0x3C: {
      const std::uint8_t* p = fixed(8);
      std::uint64_t v = (read_le(p, 4) << 32) | read_le(p + 4, 4);
      return static_cast<double>(static_cast<std::int64_t>(v)) / 10000.0;
    }
    case 0x7A: return static_cast<double>(sint(read_le(fixed(4), 4), 4)) / 10000.0;
    case 0x26: case 0x68: case 0x6D: case 0x6E: case 0x6F: case 0x24: {
      std::uint8_t max = r.u8("parameter length");
      std::uint8_t len = r.u8("parameter value length");
      if (len == 0) return std::monostate{};
      if (len > max || len > 16) bad("parameter value longer than its type");
      const std::uint8_t* p = fixed(len);
      if (type == 0x26 || type == 0x68) {
        if (len != 1 && len != 2 && len != 4 && len != 8) bad("bad integer length");
        return type == 0x68 ? std::int64_t{p[0] != 0} : (len == 1 ? std::int64_t{p[0]} : sint(read_le(p, len), len));
      }
      if (type == 0x6D) {
        if (len == 4) {
          std::uint32_t bits = static_cast<std::uint32_t>(read_le(p, 4));
          float f;
          std::memcpy(&f, &bits, 4);
          return static_cast<double>(f);
        }
        if (len != 8) bad("bad float length");
        std::uint64_t bits = read_le(p, 8);
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
      }
      if (type == 0x6E) {
        if (len == 4) return static_cast<double>(sint(read_le(p, 4), 4)) / 10000.0;
        if (len != 8) bad("bad money length");
        std::uint64_t v = (read_le(p, 4) << 32) | read_le(p + 4, 4);
        return static_cast<double>(static_cast<std::int64_t>(v)) / 10000.0;
      }
      if (type == 0x6F) {
        if (len == 4)
          return dal::DateTime{static_cast<double>(read_le(p, 2)) + 2.0 + static_cast<double>(read_le(p + 2, 2)) / 1440.0};
        if (len != 8) bad("bad datetime length");
        return from_tds_datetime(static_cast<std::int32_t>(read_le(p, 4)), static_cast<std::uint32_t>(read_le(p + 4, 4)));
      }
      // GUID: text form.
      if (len != 16) bad("bad uniqueidentifier length");
      char buf[40];
      std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                    static_cast<unsigned>(read_le(p, 4)), static_cast<unsigned>(read_le(p + 4, 2)),
                    static_cast<unsigned>(read_le(p + 6, 2)), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
      return std::string(buf);
    }
    case 0x6A: case 0x6C: {
      r.u8("decimal length");
      r.u8("decimal precision");
      std::uint8_t scale = r.u8("decimal scale");
      std::uint8_t len = r.u8("decimal value length");
      if (len == 0) return std::monostate{};
      if (len > 17 || len < 2) bad("bad decimal length");
      const std::uint8_t* p = fixed(len);
      double v = 0;
      for (std::size_t i = len - 1; i >= 1; --i) v = v * 256.0 + p[i];
      v /= std::pow(10.0, scale);
      return p[0] ? v : -v;
    }
    case 0x28: case 0x29: case 0x2A: case 0x2B: {
      std::uint8_t scale = type == 0x28 ? 0 : r.u8("time scale");
      if (scale > 7) bad("bad time scale");
      std::uint8_t len = r.u8("date value length");
      if (len == 0) return std::monostate{};
      if (len > 10) bad("bad date length");
      const std::uint8_t* p = fixed(len);
      std::size_t time_len = type == 0x28 ? 0 : (scale <= 2 ? 3 : scale <= 4 ? 4 : 5);
      std::size_t want = time_len + (type == 0x29 ? 0 : 3) + (type == 0x2B ? 2 : 0);
      if (len != want) bad("bad date/time length");
      double frac = 0;
      if (time_len) frac = static_cast<double>(read_le(p, time_len)) / std::pow(10.0, scale) / 86400.0;
      if (type == 0x29) return dal::DateTime{frac};
      double days = static_cast<double>(read_le(p + time_len, 3)) - kDaysTo1899;
      return dal::DateTime{days + frac};
    }
    case 0xA5: case 0xA7: case 0xAD: case 0xAF: case 0xE7: case 0xEF: {
      std::uint16_t max = r.u16("parameter length");
      bool text = type == 0xA7 || type == 0xAF || type == 0xE7 || type == 0xEF;
      if (text) r.take(5, "collation");
      std::string bytes;
      if (max == 0xFFFF) {
        std::uint64_t total = r.u64("PLP length");
        if (total == ~std::uint64_t{0}) return std::monostate{};
        for (;;) {
          std::uint32_t chunk = r.u32("PLP chunk");
          if (chunk == 0) break;
          const std::uint8_t* p = r.take(chunk, "PLP chunk");
          bytes.append(reinterpret_cast<const char*>(p), chunk);
        }
      } else {
        std::uint16_t len = r.u16("parameter value length");
        if (len == 0xFFFF) return std::monostate{};
        if (len > max) bad("parameter value longer than its type");
        const std::uint8_t* p = r.take(len, "parameter value");
        bytes.assign(reinterpret_cast<const char*>(p), len);
      }
      if (type == 0xE7 || type == 0xEF) {
        if (bytes.size() % 2) bad("odd nvarchar length");
        return utf16_to_utf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() / 2);
      }
      if (text) return cp1252_to_utf8(bytes);
      return bytes;
    }
    case 0x22: case 0x23: case 0x63: {
      r.u32("text length");
      if (type != 0x22) r.take(5, "collation");
      std::uint32_t len = r.u32("text value length");
      if (len == 0xFFFFFFFF) return std::monostate{};
      const std::uint8_t* p = r.take(len, "text value");
      std::string bytes(reinterpret_cast<const char*>(p), len);
      if (type == 0x63) {
        if (len % 2) bad("odd ntext length");
        return utf16_to_utf8(p, len / 2);
      }
      return type == 0x23 ? cp1252_to_utf8(bytes) : bytes;
    }
    default:
      bad("unsupported parameter type " + std::to_string(type));
  }
}

}  // namespace

PacketHeader parse_header(const std::uint8_t* b, std::size_t max_length) {
  PacketHeader h;
  h.type = b[0];
  h.status = b[1];
  h.length = bytes::load_be16(b + 2);
  h.packet_id = b[6];
  if (h.length < kHeaderSize) bad("packet length " + std::to_string(h.length) + " below the header size");
  if (h.length > max_length) bad("packet length " + std::to_string(h.length) + " above the packet size");
  return h;
}

std::vector<std::uint8_t> packetize(std::uint8_t type, const std::vector<std::uint8_t>& payload, std::size_t packet_size) {
  std::vector<std::uint8_t> out;
  std::size_t chunk = packet_size - kHeaderSize;
  std::size_t pos = 0;
  std::uint8_t id = 1;
  do {
    std::size_t n = std::min(chunk, payload.size() - pos);
    bool last = pos + n == payload.size();
    std::size_t len = n + kHeaderSize;
    out.insert(out.end(), {type, static_cast<std::uint8_t>(last ? kStatusEom : 0), static_cast<std::uint8_t>(len >> 8),
                           static_cast<std::uint8_t>(len & 0xFF), 0, 0, id++, 0});
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
               payload.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < payload.size());
  return out;
}

std::string utf16_to_utf8(const std::uint8_t* b, std::size_t units) {
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = bytes::load_le16(b + 2 * i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      char32_t d = bytes::load_le16(b + 2 * i + 2);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = next_utf8(text, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t at = i;
    char32_t c = next_utf8(text, i);
    if (c == 0xFFFD && !(i - at == 3 && text.substr(at, 3) == "\xEF\xBF\xBD")) return false;
  }
  return true;
}

std::string to_cp1252_repertoire(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t at = i;
    char32_t c = next_utf8(utf8, i);
    if (in_cp1252(c)) out.append(utf8.substr(at, i - at));
    else out += '?';
  }
  return out;
}

std::string cp1252_to_utf8(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char32_t c = b;
    if (b >= 0x80 && b < 0xA0) c = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : b;
    append_utf8(out, c);
  }
  return out;
}

std::size_t quoted_span_end(std::string_view sql, std::size_t start) {
  const char close = sql[start] == '[' ? ']' : sql[start];
  std::size_t j = start + 1;
  while (j < sql.size()) {
    if (sql[j] == close) {
      if (j + 1 < sql.size() && sql[j + 1] == close) {
        j += 2;
        continue;
      }
      return j + 1;
    }
    ++j;
  }
  return sql.size();
}

std::string narrow_plain_literals(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '[' || c == '"') {
      const std::size_t end = quoted_span_end(sql, i);
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      std::size_t j = sql.find('\n', i);
      if (j == std::string_view::npos) j = sql.size();
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '\'') {
      bool national = i > 0 && (sql[i - 1] == 'N' || sql[i - 1] == 'n') &&
                      (i == 1 || !(std::isalnum(static_cast<unsigned char>(sql[i - 2])) || sql[i - 2] == '_'));
      std::size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == '\'') {
          if (j + 1 < sql.size() && sql[j + 1] == '\'') { j += 2; continue; }
          break;
        }
        ++j;
      }
      std::size_t end = std::min(j + 1, sql.size());
      std::string_view literal = sql.substr(i, end - i);
      out += national ? std::string(literal) : to_cp1252_repertoire(literal);
      i = end;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

Prelogin parse_prelogin(const std::vector<std::uint8_t>& payload) {
  Prelogin p;
  Reader r(payload.data(), payload.size());
  for (int n = 0;; ++n) {
    if (n > 64) bad("too many pre-login options");
    std::uint8_t token = r.u8("pre-login option");
    if (token == 0xFF) break;
    std::uint16_t offset = r.u16be("pre-login offset");
    std::uint16_t length = r.u16be("pre-login length");
    if (static_cast<std::size_t>(offset) + length > payload.size()) bad("pre-login option outside the packet");
    if (token == 1) {
      if (length < 1) bad("empty encryption option");
      p.has_encryption = true;
      p.encryption = payload[offset];
    }
  }
  return p;
}

std::vector<std::uint8_t> prelogin_response() {
  // VERSION (6 bytes), ENCRYPTION (1), INSTOPT (1), THREADID (0), MARS (1), terminator.
  const std::uint8_t options = 5 * 5 + 1;
  std::vector<std::uint8_t> out = {
      0x00, 0, options, 0, 6,  //
      0x01, 0, options + 6, 0, 1,  //
      0x02, 0, options + 7, 0, 1,  //
      0x03, 0, options + 8, 0, 0,  //
      0x04, 0, options + 8, 0, 1,  //
      0xFF,
      // version 11.0.2100 (SQL Server 2012), subbuild 0
      11, 0, 0x08, 0x34, 0, 0,
      2,  // encryption not supported
      0,  // instance: default
      0,  // MARS off
  };
  return out;
}

Login7 parse_login7(const std::vector<std::uint8_t>& payload) {
  Reader r(payload.data(), payload.size());
  std::uint32_t length = r.u32("login length");
  if (length != payload.size()) bad("login length does not match the packet");
  Login7 l;
  l.tds_version = r.u32("TDS version");
  l.packet_size = r.u32("packet size");
  r.take(4 + 4 + 4, "login header");  // program version, process id, connection id
  r.u8("option flags 1");
  std::uint8_t flags2 = r.u8("option flags 2");
  l.integrated = (flags2 & 0x80) != 0;
  r.take(1 + 1 + 4 + 4, "login header");  // type flags, option flags 3, time zone, LCID
  auto field = [&](std::string* out, bool password = false) {
    std::uint16_t offset = r.u16("login field offset");
    std::uint16_t chars = r.u16("login field length");
    if (chars == 0) return;
    std::size_t end = static_cast<std::size_t>(offset) + std::size_t{chars} * 2;
    if (offset < 36 || end > payload.size()) bad("login field outside the packet");
    if (!out) return;
    if (password) {
      std::vector<std::uint8_t> clear(payload.begin() + offset, payload.begin() + static_cast<std::ptrdiff_t>(end));
      for (auto& b : clear) {
        b ^= 0xA5;
        b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
      }
      *out = utf16_to_utf8(clear.data(), chars);
    } else {
      *out = utf16_to_utf8(payload.data() + offset, chars);
    }
  };
  field(&l.host);
  field(&l.user);
  field(&l.password, true);
  field(&l.app);
  field(&l.server);
  field(nullptr);  // extension
  field(&l.library);
  field(&l.language);
  field(&l.database);
  r.take(6, "client id");
  field(nullptr);  // SSPI
  field(nullptr);  // attach file
  field(nullptr);  // change password
  return l;
}

std::size_t skip_all_headers(const std::vector<std::uint8_t>& payload) {
  Reader r(payload.data(), payload.size());
  std::uint32_t total = r.u32("ALL_HEADERS length");
  if (total < 4 || total > payload.size()) bad("request without valid ALL_HEADERS");
  std::size_t pos = 4;
  while (pos < total) {
    if (total - pos < 6) bad("truncated header in ALL_HEADERS");
    std::uint32_t len = static_cast<std::uint32_t>(read_le(payload.data() + pos, 4));
    if (len < 6 || len > total - pos) bad("header length outside ALL_HEADERS");
    pos += len;
  }
  return total;
}

std::string parse_sql_batch(const std::vector<std::uint8_t>& payload) {
  std::size_t start = skip_all_headers(payload);
  std::size_t bytes = payload.size() - start;
  if (bytes % 2) bad("odd length of batch text");
  return utf16_to_utf8(payload.data() + start, bytes / 2);
}

std::vector<RpcCall> parse_rpc(const std::vector<std::uint8_t>& payload) {
  std::size_t start = skip_all_headers(payload);
  Reader r(payload.data() + start, payload.size() - start);
  std::vector<RpcCall> calls;
  while (!r.at_end()) {
    if (calls.size() >= 256) bad("too many RPC calls in one request");
    RpcCall call;
    std::uint16_t name_len = r.u16("procedure name length");
    if (name_len == 0xFFFF) call.proc_id = r.u16("procedure id");
    else call.proc_name = r.utf16(name_len, "procedure name");
    r.u16("option flags");
    while (!r.at_end()) {
      std::uint8_t peek = r.u8("parameter");
      if (peek == 0x80 || peek == 0xFF || peek == 0xFE) break;  // next call
      if (call.params.size() >= 2100) bad("too many parameters");
      RpcParam p;
      p.name = r.utf16(peek, "parameter name");
      std::uint8_t status = r.u8("parameter status");
      p.output = (status & 0x01) != 0;
      p.value = read_typed_value(r);
      call.params.push_back(std::move(p));
    }
    calls.push_back(std::move(call));
  }
  if (calls.empty()) bad("empty RPC request");
  return calls;
}

void TokenWriter::u16(std::uint16_t v) {
  out_.push_back(static_cast<std::uint8_t>(v));
  out_.push_back(static_cast<std::uint8_t>(v >> 8));
}
void TokenWriter::u32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void TokenWriter::u64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void TokenWriter::b_varchar(std::string_view utf8) {
  std::u16string s = utf8_to_utf16(utf8);
  if (s.size() > 255) s.resize(255);
  u8(static_cast<std::uint8_t>(s.size()));
  for (char16_t c : s) u16(c);
}
void TokenWriter::us_varchar(std::string_view utf8) {
  std::u16string s = utf8_to_utf16(utf8);
  if (s.size() > 65535) s.resize(65535);
  u16(static_cast<std::uint16_t>(s.size()));
  for (char16_t c : s) u16(c);
}

void TokenWriter::login_ack(const std::string& program) {
  u8(0xAD);
  std::size_t at = out_.size();
  u16(0);
  u8(1);  // T-SQL
  out_.insert(out_.end(), {0x74, 0x00, 0x00, 0x04});
  b_varchar(program);
  out_.insert(out_.end(), {11, 0, 0x08, 0x34});
  std::size_t len = out_.size() - at - 2;
  out_[at] = static_cast<std::uint8_t>(len);
  out_[at + 1] = static_cast<std::uint8_t>(len >> 8);
}

void TokenWriter::env_database(const std::string& now, const std::string& before) {
  u8(0xE3);
  std::size_t at = out_.size();
  u16(0);
  u8(1);
  b_varchar(now);
  b_varchar(before);
  std::size_t len = out_.size() - at - 2;
  out_[at] = static_cast<std::uint8_t>(len);
  out_[at + 1] = static_cast<std::uint8_t>(len >> 8);
}

void TokenWriter::env_language(const std::string& now) {
  u8(0xE3);
  std::size_t at = out_.size();
  u16(0);
  u8(2);
  b_varchar(now);
  b_varchar("");
  std::size_t len = out_.size() - at - 2;
  out_[at] = static_cast<std::uint8_t>(len);
  out_[at + 1] = static_cast<std::uint8_t>(len >> 8);
}

void TokenWriter::env_packet_size(std::size_t now, std::size_t before) {
  u8(0xE3);
  std::size_t at = out_.size();
  u16(0);
  u8(4);
  b_varchar(std::to_string(now));
  b_varchar(std::to_string(before));
  std::size_t len = out_.size() - at - 2;
  out_[at] = static_cast<std::uint8_t>(len);
  out_[at + 1] = static_cast<std::uint8_t>(len >> 8);
}

namespace {
// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, case/kana/width insensitive, sort id 52.
constexpr std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};
}  // namespace

void TokenWriter::env_collation() {
  u8(0xE3);
  u16(1 + 1 + 5 + 1);
  u8(7);
  u8(5);
  out_.insert(out_.end(), std::begin(kCollation), std::end(kCollation));
  u8(0);
}

void TokenWriter::message(std::uint8_t token, const Message& m, const std::string& server) {
  u8(token);
  std::size_t at = out_.size();
  u16(0);
  u32(static_cast<std::uint32_t>(m.number));
  u8(static_cast<std::uint8_t>(m.state));
  u8(static_cast<std::uint8_t>(m.severity));
  // The token's length is 16 bits: a longer text is cut.
  us_varchar(m.text.size() > 8000 ? m.text.substr(0, 8000) : m.text);
  b_varchar(server);
  b_varchar("");
  u32(1);
  std::size_t len = out_.size() - at - 2;
  out_[at] = static_cast<std::uint8_t>(len);
  out_[at + 1] = static_cast<std::uint8_t>(len >> 8);
}

void TokenWriter::error(const Message& m, const std::string& server) { message(0xAA, m, server); }
void TokenWriter::info(const Message& m, const std::string& server) { message(0xAB, m, server); }

namespace {

enum class Wire { Int, Float, DateTime, NVarChar, VarBinary };

std::string as_text(const dal::Value& v) {
  return std::visit(
      [](auto&& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return "";
        else if constexpr (std::is_same_v<T, std::int64_t>) return std::to_string(x);
        else if constexpr (std::is_same_v<T, double>) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%.17g", x);
          return buf;
        } else if constexpr (std::is_same_v<T, std::string>) return x;
        else {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%.10f", x.days);
          return buf;
        }
      },
      v);
}

}  // namespace

void TokenWriter::result_set(const dal::ResultSet& rs) {
  const std::size_t n = rs.columns.size();
  if (n == 0 || n > 4096) return;
  // The wire type of each column follows its values (SQLite values need not match the
  // declared type); a column of NULLs only takes its declared kind.
  std::vector<Wire> wire(n);
  std::vector<bool> max(n, false);
  for (std::size_t c = 0; c < n; ++c) {
    bool any = false, all_int = true, all_num = true, all_date = true, all_text = true, all_utf8 = true;
    std::size_t longest = 0;
    for (const auto& row : rs.rows) {
      if (c >= row.size() || std::holds_alternative<std::monostate>(row[c])) continue;
      any = true;
      const auto& v = row[c];
      all_int &= std::holds_alternative<std::int64_t>(v);
      all_num &= std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v);
      all_date &= std::holds_alternative<dal::DateTime>(v);
      all_text &= std::holds_alternative<std::string>(v);
      if (const auto* s = std::get_if<std::string>(&v)) {
        all_utf8 &= valid_utf8(*s);
        longest = std::max(longest, all_utf8 ? utf8_to_utf16(*s).size() * 2 : s->size());
      }
    }
    if (!any) {
      switch (rs.columns[c].kind) {
        case dal::ValueKind::Integer: wire[c] = Wire::Int; break;
        case dal::ValueKind::Real: wire[c] = Wire::Float; break;
        case dal::ValueKind::DateTime: wire[c] = Wire::DateTime; break;
        default: wire[c] = Wire::NVarChar;
      }
    } else if (all_int) {
      wire[c] = Wire::Int;
    } else if (all_num) {
      wire[c] = Wire::Float;
    } else if (all_date) {
      wire[c] = Wire::DateTime;
    } else if (all_text && !all_utf8) {
      wire[c] = Wire::VarBinary;
    } else {
      wire[c] = Wire::NVarChar;
      for (const auto& row : rs.rows)
        if (c < row.size()) longest = std::max(longest, utf8_to_utf16(as_text(row[c])).size() * 2);
    }
    max[c] = longest > 8000;
  }
  u8(0x81);
  u16(static_cast<std::uint16_t>(n));
  for (std::size_t c = 0; c < n; ++c) {
    u32(0);       // user type
    u16(0x0009);  // nullable, read/write unknown
    switch (wire[c]) {
      case Wire::Int: u8(0x26); u8(8); break;
      case Wire::Float: u8(0x6D); u8(8); break;
      case Wire::DateTime: u8(0x6F); u8(8); break;
      case Wire::NVarChar: {
        u8(0xE7);
        int width = rs.columns[c].width;
        u16(max[c] ? 0xFFFF : static_cast<std::uint16_t>(width > 0 && width <= 4000 ? width * 2 : 8000));
        out_.insert(out_.end(), std::begin(kCollation), std::end(kCollation));
        break;
      }
      case Wire::VarBinary: u8(0xA5); u16(max[c] ? 0xFFFF : 8000); break;
    }
    b_varchar(rs.columns[c].name);
  }
  for (const auto& row : rs.rows) {
    u8(0xD1);
    for (std::size_t c = 0; c < n; ++c) {
      const dal::Value null;
      const dal::Value& v = c < row.size() ? row[c] : null;
      bool is_null = std::holds_alternative<std::monostate>(v);
      switch (wire[c]) {
        case Wire::Int:
          if (is_null) { u8(0); break; }
          u8(8);
          u64(static_cast<std::uint64_t>(std::get<std::int64_t>(v)));
          break;
        case Wire::Float: {
          if (is_null) { u8(0); break; }
          double d = std::holds_alternative<double>(v) ? std::get<double>(v) : static_cast<double>(std::get<std::int64_t>(v));
          std::uint64_t bits;
          std::memcpy(&bits, &d, 8);
          u8(8);
          u64(bits);
          break;
        }
        case Wire::DateTime: {
          if (is_null) { u8(0); break; }
          double d = std::get<dal::DateTime>(v).days - 2.0;
          double whole = std::floor(d);
          auto ticks = static_cast<std::int64_t>(std::llround((d - whole) * 86400.0 * 300.0));
          if (ticks >= 86400LL * 300) { whole += 1; ticks = 0; }
          u8(8);
          u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(whole)));
          u32(static_cast<std::uint32_t>(ticks));
          break;
        }
        case Wire::NVarChar:
        case Wire::VarBinary: {
          std::string bytes;
          if (!is_null) {
            if (wire[c] == Wire::VarBinary) {
              bytes = std::get<std::string>(v);
            } else {
              std::u16string s = utf8_to_utf16(as_text(v));
              bytes.reserve(s.size() * 2);
              for (char16_t ch : s) {
                bytes += static_cast<char>(ch & 0xFF);
                bytes += static_cast<char>(ch >> 8);
              }
            }
          }
          if (max[c]) {
            if (is_null) { u64(~std::uint64_t{0}); break; }
            u64(bytes.size());
            if (!bytes.empty()) {
              u32(static_cast<std::uint32_t>(bytes.size()));
              out_.insert(out_.end(), bytes.begin(), bytes.end());
            }
            u32(0);
          } else {
            if (is_null) { u16(0xFFFF); break; }
            u16(static_cast<std::uint16_t>(bytes.size()));
            out_.insert(out_.end(), bytes.begin(), bytes.end());
          }
          break;
        }
      }
    }
  }
}

void TokenWriter::done(std::uint8_t token, std::uint16_t status, std::uint64_t rows) {
  u8(token);
  u16(status);
  u16(0xC1);  // current command: SELECT (informational)
  u64(rows);
}

void TokenWriter::return_status(std::int32_t value) {
  u8(0x79);
  u32(static_cast<std::uint32_t>(value));
}

void TokenWriter::return_int(std::uint16_t ordinal, const std::string& name, std::int32_t value) {
  u8(0xAC);
  u16(ordinal);
  b_varchar(name);
  u8(0x01);  // output parameter
  u32(0);
  u16(0x0009);
  u8(0x26);
  u8(4);
  u8(4);
  u32(static_cast<std::uint32_t>(value));
}

}  // namespace orv::server::tds
