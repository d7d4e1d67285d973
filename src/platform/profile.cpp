#include "platform/profile.h"

#include "platform/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace orv::platform {

namespace {

struct Line {
  std::string text;
};

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool iequal(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> read_lines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> section_name(const std::string& line) {
  std::string t = trim(line);
  if (t.size() >= 2 && t.front() == '[') {
    auto close = t.find(']');
    if (close != std::string::npos) return trim(t.substr(1, close - 1));
  }
  return std::nullopt;
}

// Splits "key=value"; comment lines and lines without "=" give nullopt.
std::optional<std::pair<std::string, std::string>> key_value(const std::string& line) {
  std::string t = trim(line);
  if (t.empty() || t[0] == ';') return std::nullopt;
  auto eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return std::make_pair(trim(t.substr(0, eq)), trim(t.substr(eq + 1)));
}

}  // namespace

ProfileFile::ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

std::string ProfileFile::read_string(const std::string& section, const std::string& key, const std::string& def) const {
  bool in_section = false;
  for (const auto& line : read_lines(path_)) {
    if (auto s = section_name(line)) {
      in_section = iequal(*s, section);
      continue;
    }
    if (!in_section) continue;
    if (auto kv = key_value(line); kv && iequal(kv->first, key)) {
      std::string v = kv->second;
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return def;
}

long long ProfileFile::read_integer(const std::string& section, const std::string& key, long long def) const {
  std::string v = read_string(section, key, "");
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  if (i >= v.size() || !std::isdigit(static_cast<unsigned char>(v[i]))) return def;
  long long n = 0;
  for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i) n = n * 10 + (v[i] - '0');
  return negative ? -n : n;
}

void ProfileFile::write_string(const std::string& section, const std::string& key, const std::string& value) {
  std::vector<std::string> lines = read_lines(path_);
  const std::string entry = key + "=" + value;
  bool in_section = false, found_section = false, done = false;
  size_t insert_at = lines.size();
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    if (auto s = section_name(lines[i])) {
      if (in_section) break;  // end of our section: append before the next one
      in_section = iequal(*s, section);
      if (in_section) {
        found_section = true;
        insert_at = i + 1;
      }
      continue;
    }
    if (!in_section) continue;
    if (auto kv = key_value(lines[i]); kv && iequal(kv->first, key)) {
      lines[i] = entry;
      done = true;
    } else if (!trim(lines[i]).empty()) {
      insert_at = i + 1;
    }
  }
  if (!done) {
    if (found_section) {
      lines.insert(lines.begin() + static_cast<long>(insert_at), entry);
    } else {
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }
  if (path_.has_parent_path()) std::filesystem::create_directories(path_.parent_path());
  auto tmp = path_;
  tmp += ".tmp" + std::to_string(::getpid());
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  // The new text goes to a file beside the old one, reaches the disk, then replaces it: a failed
  // write leaves the old file as it was and no half file under its name.
  const auto fail = [&](const std::string& what, const std::filesystem::path& p, int e) {
    ::unlink(tmp.c_str());
    throw std::runtime_error(what + " " + p.string() + ": " + std::strerror(e));
  };
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + tmp.string() + ": " + std::strerror(errno));
  int e = io::write_all(fd, text.data(), text.size());
  if (e == 0 && io::fsync(fd) != 0) e = errno;
  if (e != 0) {
    ::close(fd);
    fail("cannot write", tmp, e);
  }
  if (io::close(fd) != 0) fail("cannot write", tmp, errno);
  if (io::rename(tmp.c_str(), path_.c_str()) != 0) fail("cannot replace", path_, errno);
}

void ProfileFile::write_integer(const std::string& section, const std::string& key, long long value) {
  write_string(section, key, std::to_string(value));
}

std::vector<std::string> ProfileFile::keys(const std::string& section) const {
  std::vector<std::string> out;
  bool in_section = false;
  for (const auto& line : read_lines(path_)) {
    if (auto s = section_name(line)) {
      in_section = iequal(*s, section);
      continue;
    }
    if (in_section)
      if (auto kv = key_value(line)) out.push_back(kv->first);
  }
  return out;
}

}  // namespace orv::platform
