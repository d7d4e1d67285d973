#include "server/backup_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libdeflate.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <system_error>

#include "platform/byte_order.h"
#include "platform/civil_date.h"
#include "platform/file_write.h"

namespace orv::server {

namespace {

constexpr char kSetMagic[8] = {'O', 'R', 'V', 'K', 'B', 'A', 'K', '1'};
constexpr char kEndMagic[8] = {'O', 'R', 'V', 'K', 'E', 'N', 'D', '1'};
constexpr std::uint32_t kMaxHeader = 1u << 20;
constexpr std::uint32_t kMaxFiles = 64;
constexpr std::size_t kChunk = 1u << 20;

// Appends the little-endian bytes of v.
void append_le32(std::string& out, std::uint32_t v) {
  std::uint8_t b[4];
  bytes::store_le32(b, v);
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}
void append_le64(std::string& out, std::uint64_t v) {
  std::uint8_t b[8];
  bytes::store_le64(b, v);
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

std::string encode(const std::string& v) {
  std::string out;
  for (char c : v) {
    if (c == '%' || c == '\n' || c == '\r') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string decode(const std::string& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '%' && i + 2 < v.size() && std::isxdigit(static_cast<unsigned char>(v[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(v[i + 2]))) {
      out += char(std::stoi(v.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += v[i];
    }
  }
  return out;
}

bool parse_u64(const std::string& text, std::uint64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + std::uint64_t(c - '0');
  }
  return true;
}

constexpr long long kOleEpochFromUnix = platform::kStoredDateEpoch;  // 1899-12-30 in days from 1970-01-01

void read_exact(int fd, void* buffer, std::size_t n, std::uint64_t offset) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (n > 0) {
    ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "read");
    }
    if (got == 0) throw BackupFormatError("unexpected end of file");
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
}

void write_all(int fd, const void* data, std::size_t n, const std::filesystem::path& path) {
  if (int e = platform::io::write_all(fd, data, n); e != 0) throw std::system_error(e, std::generic_category(), path.string());
}

// Best effort: some file systems refuse fsync on folders.
void sync_folder(const std::filesystem::path& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t n) {
  return libdeflate_crc32(crc, data, n);
}

void MemorySource::read_at(std::uint64_t offset, void* buffer, std::size_t n) const {
  if (offset > size_ || n > size_ - offset) throw BackupFormatError("unexpected end of file");
  if (n) std::memcpy(buffer, data_ + offset, n);
}

FileSource::FileSource(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), path.string());
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    int e = S_ISREG(st.st_mode) ? errno : EISDIR;
    ::close(fd_);
    fd_ = -1;
    throw std::system_error(e, std::generic_category(), path.string());
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

void FileSource::read_at(std::uint64_t offset, void* buffer, std::size_t n) const {
  if (offset > size_ || n > size_ - offset) throw BackupFormatError("unexpected end of file");
  read_exact(fd_, buffer, n, offset);
}

dal::DateTime now_local() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  ::localtime_r(&ts.tv_sec, &tm);
  long long days = platform::days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) - kOleEpochFromUnix;
  double ms = double(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) * 1000.0 + double(ts.tv_nsec / 1000000);
  return dal::DateTime{double(days) + ms / 86400000.0};
}

std::string format_date(dal::DateTime d) {
  double whole = std::floor(d.days);
  long long ms = std::llround((d.days - whole) * 86400000.0);
  long long day = static_cast<long long>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++day;
  }
  const platform::CivilDate date = platform::civil_from_days(day + kOleEpochFromUnix);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02lld:%02lld:%02lld.%03lld", date.year, date.month, date.day,
                ms / 3600000,
                ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buf;
}

bool parse_date(const std::string& text, dal::DateTime& out) {
  int y, mo, d, h, mi, s, ms;
  char tail;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%c", &y, &mo, &d, &h, &mi, &s, &ms, &tail) != 7)
    return false;
  if (y < 1753 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59 || ms < 0 || ms > 999)
    return false;
  long long days = platform::days_from_civil(y, mo, d) - kOleEpochFromUnix;
  out.days = double(days) + double((h * 3600 + mi * 60 + s) * 1000 + ms) / 86400000.0;
  return true;
}

std::vector<BackupSet> read_backup_sets(const ByteSource& source) {
  std::vector<BackupSet> sets;
  std::uint64_t offset = 0;
  const std::uint64_t total = source.size();
  if (total == 0) throw BackupFormatError("the file is empty");
  while (offset < total) {
    BackupSet set;
    set.position = static_cast<int>(sets.size()) + 1;
    set.offset = offset;
    unsigned char head[16];
    if (total - offset < sizeof head) throw BackupFormatError("truncated backup set header");
    source.read_at(offset, head, sizeof head);
    if (std::memcmp(head, kSetMagic, 8) != 0) throw BackupFormatError("not a backup set");
    std::uint32_t header_len = bytes::load_le32(head + 8);
    std::uint32_t header_crc = bytes::load_le32(head + 12);
    if (header_len > kMaxHeader || header_len > total - offset - 16) throw BackupFormatError("bad header length");
    std::string text(header_len, '\0');
    source.read_at(offset + 16, text.data(), header_len);
    if (crc32_update(0, text.data(), text.size()) != header_crc) throw BackupFormatError("header checksum mismatch");

    std::map<std::string, std::string> keys;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) throw BackupFormatError("header line without end");
      std::string line = text.substr(pos, nl - pos);
      pos = nl + 1;
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) throw BackupFormatError("header line without '='");
      if (!keys.emplace(line.substr(0, eq), decode(line.substr(eq + 1))).second)
        throw BackupFormatError("header key repeated");
    }
    auto need = [&](const std::string& key) -> const std::string& {
      auto it = keys.find(key);
      if (it == keys.end()) throw BackupFormatError("header lacks " + key);
      return it->second;
    };
    if (need("Version") != "1") throw BackupFormatError("unsupported backup format version");
    set.server_name = need("ServerName");
    set.user_name = need("UserName");
    set.database_name = need("DatabaseName");
    if (!parse_date(need("BackupStartDate"), set.start_date)) throw BackupFormatError("bad BackupStartDate");

    std::uint64_t data = offset + 16 + header_len;
    for (std::uint32_t n = 1;; ++n) {
      std::string prefix = "File." + std::to_string(n) + ".";
      if (!keys.count(prefix + "LogicalName")) break;
      if (n > kMaxFiles) throw BackupFormatError("too many files");
      BackupFile f;
      f.logical_name = need(prefix + "LogicalName");
      f.physical_name = need(prefix + "PhysicalName");
      const std::string& type = need(prefix + "Type");
      if (type != "D" && type != "L") throw BackupFormatError("bad file type");
      f.type = type[0];
      if (!parse_u64(need(prefix + "Size"), f.size)) throw BackupFormatError("bad file size");
      if (f.size > total - data) throw BackupFormatError("file data beyond the end of the backup");
      f.data_offset = data;
      data += f.size;
      set.files.push_back(std::move(f));
    }
    if (set.files.empty()) throw BackupFormatError("backup set without files");

    const std::size_t trailer_len = 8 + 8 + 4 + 4 * set.files.size() + 8 + 4;
    if (total - data < trailer_len) throw BackupFormatError("truncated backup set");
    std::string trailer(trailer_len, '\0');
    source.read_at(data, trailer.data(), trailer_len);
    const auto* t = reinterpret_cast<const unsigned char*>(trailer.data());
    if (std::memcmp(t, kEndMagic, 8) != 0) throw BackupFormatError("backup set end mark missing");
    if (crc32_update(0, t, trailer_len - 4) != bytes::load_le32(t + trailer_len - 4))
      throw BackupFormatError("trailer checksum mismatch");
    std::uint64_t bits = bytes::load_le64(t + 8);
    std::memcpy(&set.finish_date.days, &bits, 8);
    if (!std::isfinite(set.finish_date.days)) throw BackupFormatError("bad finish date");
    if (bytes::load_le32(t + 16) != set.files.size()) throw BackupFormatError("file count mismatch");
    for (std::size_t i = 0; i < set.files.size(); ++i) set.files[i].crc = bytes::load_le32(t + 20 + 4 * i);
    set.length = data + trailer_len - offset;
    if (bytes::load_le64(t + 20 + 4 * set.files.size()) != set.length) throw BackupFormatError("set length mismatch");
    offset += set.length;
    sets.push_back(std::move(set));
  }
  return sets;
}

void copy_backup_file(const ByteSource& source, const BackupFile& file,
                      const std::function<void(const void*, std::size_t)>& sink) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
  std::uint32_t crc = 0;
  std::uint64_t done = 0;
  while (done < file.size) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, file.size - done));
    source.read_at(file.data_offset + done, buffer.get(), n);
    crc = crc32_update(crc, buffer.get(), n);
    sink(buffer.get(), n);
    done += n;
  }
  if (crc != file.crc) throw BackupFormatError("checksum mismatch in the data of file '" + file.logical_name + "'");
}

void append_backup_set(const std::filesystem::path& path, const BackupSet& header, std::vector<BackupSource>& files,
                       bool init) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) throw std::system_error(errno, std::generic_category(), path.string());
  if (exists && !S_ISREG(st.st_mode)) throw std::system_error(EISDIR, std::generic_category(), path.string());
  // A new file or a replaced one is written beside the old one and renamed over it when
  // complete; a set added to an existing file is appended and cut off again on failure.
  const bool replace = init || !exists;
  std::string temp;
  int fd = -1;
  if (replace) {
    temp = path.string() + ".new-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), temp);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);  // mkostemp makes 0600; a backup file gets the usual mode
  } else {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), path.string());
  }
  struct Closer {
    int fd;
    const std::string& temp;
    ~Closer() {
      if (fd >= 0) ::close(fd);
      if (!temp.empty()) ::unlink(temp.c_str());
    }
  } closer{fd, temp};
  const std::filesystem::path target = replace ? std::filesystem::path(temp) : path;
  std::uint64_t old_size = 0;
  if (!replace) {
    if (::fstat(fd, &st) != 0) throw std::system_error(errno, std::generic_category(), path.string());
    old_size = static_cast<std::uint64_t>(st.st_size);
  }
  if (old_size > 0) {
    FileSource existing(path);
    (void)read_backup_sets(existing);  // throws on a foreign or damaged file
  }

  std::string text;
  auto line = [&](const std::string& k, const std::string& v) { text += k + "=" + encode(v) + "\n"; };
  line("Version", "1");
  line("ServerName", header.server_name);
  line("UserName", header.user_name);
  line("DatabaseName", header.database_name);
  line("BackupStartDate", format_date(header.start_date));
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string p = "File." + std::to_string(i + 1) + ".";
    const BackupFile& f = files[i].entry;
    line(p + "LogicalName", f.logical_name);
    line(p + "PhysicalName", f.physical_name);
    line(p + "Type", std::string(1, f.type));
    line(p + "Size", std::to_string(f.size));
  }

  try {
    if (::lseek(fd, static_cast<off_t>(old_size), SEEK_SET) < 0)
      throw std::system_error(errno, std::generic_category(), target.string());
    std::string head(kSetMagic, 8);
    append_le32(head, static_cast<std::uint32_t>(text.size()));
    append_le32(head, crc32_update(0, text.data(), text.size()));
    head += text;
    write_all(fd, head.data(), head.size(), target);
    std::uint64_t length = head.size();

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    std::vector<std::uint32_t> crcs;
    for (auto& f : files) {
      std::uint32_t crc = 0;
      std::uint64_t done = 0;
      ::posix_fadvise(f.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
      while (done < f.entry.size) {
        if (f.cancel && f.cancel->load()) throw std::system_error(ECANCELED, std::generic_category(), target.string());
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, f.entry.size - done));
        read_exact(f.fd, buffer.get(), n, done);
        crc = crc32_update(crc, buffer.get(), n);
        write_all(fd, buffer.get(), n, target);
        done += n;
      }
      f.entry.crc = crc;
      crcs.push_back(crc);
      length += f.entry.size;
    }

    std::string trailer(kEndMagic, 8);
    dal::DateTime finish = now_local();
    std::uint64_t bits;
    std::memcpy(&bits, &finish.days, 8);
    append_le64(trailer, bits);
    append_le32(trailer, static_cast<std::uint32_t>(crcs.size()));
    for (auto c : crcs) append_le32(trailer, c);
    length += trailer.size() + 8 + 4;
    append_le64(trailer, length);
    append_le32(trailer, crc32_update(0, trailer.data(), trailer.size()));
    write_all(fd, trailer.data(), trailer.size(), target);
    if (platform::io::fsync(fd) != 0) throw std::system_error(errno, std::generic_category(), target.string());
    const int closing = closer.fd;
    closer.fd = -1;
    if (platform::io::close(closing) != 0) throw std::system_error(errno, std::generic_category(), target.string());
    if (replace) {
      if (platform::io::rename(temp.c_str(), path.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), path.string());
      temp.clear();
      sync_folder(path.parent_path());
    }
  } catch (...) {
    // The cut back to the old length is best effort: the error being thrown is the one to report.
    if (!replace) {
      const int cut = closer.fd >= 0 ? closer.fd : ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (cut >= 0 && ::ftruncate(cut, static_cast<off_t>(old_size)) == 0) (void)::fsync(cut);
      if (cut >= 0 && cut != closer.fd) ::close(cut);
    }
    throw;
  }
}

}  // namespace orv::server
