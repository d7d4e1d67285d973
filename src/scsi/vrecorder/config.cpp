// Parser of the virtual recorder's configuration text.
#include "scsi/vrecorder/config.h"

#include <charconv>
#include <sstream>

namespace orv::vrec {
namespace {

// Splits a line into words; double quotes group, a backslash escapes a quote inside quotes.
bool Tokenize(const std::string& line, std::vector<std::string>& words, std::string& error) {
  std::string cur;
  bool in_word = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
        cur += line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      quoted = true;
      in_word = true;
    } else if (c == '#' && !in_word) {
      break;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (in_word) words.push_back(cur);
      cur.clear();
      in_word = false;
    } else {
      cur += c;
      in_word = true;
    }
  }
  if (quoted) {
    error = "unterminated quote";
    return false;
  }
  if (in_word) words.push_back(cur);
  return true;
}

bool ParseUnsigned(const std::string& s, std::uint32_t& out, int base = 10) {
  std::string t = s;
  if (base == 0) {
    base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
      t = t.substr(2);
      base = 16;
    }
  }
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out, base);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseBool(const std::string& s, bool& out) {
  if (s == "1" || s == "yes" || s == "true" || s == "on") return out = true, true;
  if (s == "0" || s == "no" || s == "false" || s == "off") return out = false, true;
  return false;
}

bool ParseProfile(const std::string& s, Profile& p) {
  if (s == "CD-R") p = Profile::CDR;
  else if (s == "CD-RW") p = Profile::CDRW;
  else if (s == "DVD-R") p = Profile::DVDR;
  else if (s == "DVD+R") p = Profile::DVDPR;
  else if (s == "DVD-RAM") p = Profile::DVDRAM;
  else return false;
  return true;
}

void ApplyDefaults(DriveConfig& d) {
  const bool dvd = IsDVD(d.profile);
  if (d.product.empty()) d.product = dvd ? "VIRTUAL DVD-RW" : "VIRTUAL CD-RW";
  if (d.write_speeds.empty()) {
    if (dvd) d.write_speeds = {2770, 5540, 11080, 22160};  // 2x 4x 8x 16x DVD
    else d.write_speeds = {706, 1411, 2822, 4234, 5645, 7056};  // 4x 8x 16x 24x 32x 40x CD
  }
  if (d.max_read_speed == 0) d.max_read_speed = dvd ? 22160 : 7056;
  if (d.capacity == 0) d.capacity = dvd ? 2295104 : 359849;
}

std::string SetKey(DriveConfig& d, const std::string& key, const std::string& value) {
  std::uint32_t n = 0;
  bool b = false;
  if (key == "address") {
    unsigned a, t, l;
    char c1, c2;
    std::istringstream in(value);
    if (!(in >> a >> c1 >> t >> c2 >> l) || c1 != ':' || c2 != ':' || a > 255 || t > 255 || l > 255 ||
        !(in >> std::ws).eof())
      return "address must be adapter:target:lun";
    d.ha = static_cast<std::uint8_t>(a);
    d.target = static_cast<std::uint8_t>(t);
    d.lun = static_cast<std::uint8_t>(l);
    d.address_given = true;
  } else if (key == "letter") {
    if (value.size() != 1 || value[0] < 'A' || value[0] > 'Z') return "letter must be one of A-Z";
    d.letter = value[0];
  } else if (key == "vendor") {
    if (value.size() > 8) return "vendor has at most 8 characters";
    d.vendor = value;
  } else if (key == "product") {
    if (value.size() > 16) return "product has at most 16 characters";
    d.product = value;
  } else if (key == "revision") {
    if (value.size() > 4) return "revision has at most 4 characters";
    d.revision = value;
  } else if (key == "speeds") {
    d.write_speeds.clear();
    std::string item;
    std::istringstream in(value);
    while (std::getline(in, item, ',')) {
      if (!ParseUnsigned(item, n) || n == 0 || n > 0xFFFE) return "speeds is a list of kB/s values 1-65534";
      d.write_speeds.push_back(n);
    }
    if (d.write_speeds.empty()) return "speeds is empty";
  } else if (key == "readspeed") {
    if (!ParseUnsigned(value, n) || n == 0 || n > 0xFFFE) return "readspeed is a kB/s value 1-65534";
    d.max_read_speed = n;
  } else if (key == "buffer") {
    if (!ParseUnsigned(value, n) || n == 0) return "buffer is a byte count";
    d.buffer_size = n;
  } else if (key == "capacity") {
    if (!ParseUnsigned(value, n) || n < 300) return "capacity is a sector count of at least 300";
    d.capacity = n;
  } else if (key == "writemodes") {
    std::uint8_t modes = 0;
    std::string item;
    std::istringstream in(value);
    while (std::getline(in, item, ',')) {
      if (item == "RAW") modes |= 1;
      else if (item == "SAO") modes |= 2;
      else if (item == "TAO") modes |= 4;
      else return "writemodes is a list of RAW, SAO, TAO";
    }
    d.write_modes = modes;
  } else if (key == "log") {
    d.log = value;
  } else if (key == "notready") {
    if (!ParseUnsigned(value, n)) return "notready is a count";
    d.not_ready = n;
  } else if (key == "busy") {
    if (!ParseUnsigned(value, n)) return "busy is a count";
    d.busy = n;
  } else if (key == "medium_error") {
    if (!ParseUnsigned(value, n)) return "medium_error is a sector address";
    d.medium_error = n;
  } else if (key == "corrupt_sector") {
    if (!ParseUnsigned(value, n)) return "corrupt_sector is a sector address";
    d.corrupt_sector = n;
  } else if (key == "max_read") {
    if (!ParseUnsigned(value, n)) return "max_read is a count of sectors";
    d.max_read = n;
  } else if (key == "hang") {
    if (!ParseUnsigned(value, n, 16) || n > 0xFF) return "hang is an operation code in hexadecimal";
    d.hang_opcode = static_cast<std::uint8_t>(n);
  } else if (key == "hang_count") {
    if (!ParseUnsigned(value, n)) return "hang_count is a count";
    d.hang_count = n;
  } else if (key == "delay_ms") {
    if (!ParseUnsigned(value, n) || n > 600000) return "delay_ms is at most 600000";
    d.delay_ms = n;
  } else {
    bool* flag = key == "underrun"   ? &d.underrun_protection
                 : key == "testwrite" ? &d.test_write
                 : key == "page30"    ? &d.page30
                 : key == "blockdesc" ? &d.block_descriptor
                 : key == "closed"    ? &d.closed
                 : key == "sync"      ? &d.synchronous
                 : key == "descsense" ? &d.descriptor_sense
                 : key == "freeunknown" ? &d.free_unknown
                                      : nullptr;
    if (flag == nullptr) return "unknown key '" + key + "'";
    if (!ParseBool(value, b)) return key + " is 0 or 1";
    *flag = b;
  }
  return "";
}

}  // namespace

bool IsDVD(Profile p) { return p == Profile::DVDR || p == Profile::DVDRAM || p == Profile::DVDPR; }

ParseResult ParseConfig(const std::string& text) {
  ParseResult result;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::vector<std::string> words;
    std::string error;
    if (!Tokenize(line, words, error)) {
      result.errors.push_back("line " + std::to_string(number) + ": " + error);
      continue;
    }
    if (words.empty()) continue;
    DriveConfig d;
    d.image = words[0];
    if (d.image.empty()) error = "empty image path";
    else if (words.size() < 2 || !ParseProfile(words[1], d.profile))
      error = "profile must be CD-R, CD-RW, DVD-R, DVD+R or DVD-RAM";
    for (std::size_t i = 2; error.empty() && i < words.size(); ++i) {
      const auto eq = words[i].find('=');
      if (eq == std::string::npos || eq == 0) {
        error = "expected key=value, got '" + words[i] + "'";
        break;
      }
      error = SetKey(d, words[i].substr(0, eq), words[i].substr(eq + 1));
    }
    if (!error.empty()) {
      result.errors.push_back("line " + std::to_string(number) + ": " + error);
      continue;
    }
    ApplyDefaults(d);
    if (!d.address_given) d.target = static_cast<std::uint8_t>(result.drives.size());
    result.drives.push_back(std::move(d));
  }
  return result;
}

}  // namespace orv::vrec
