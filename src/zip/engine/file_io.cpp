#include "zip/engine/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "platform/file_write.h"
#include "zip/engine/session.h"

namespace orv::zip::engine {

void throw_io(const std::string& what, const std::string& path, int error) {
  throw EngineError(ZE_IO_ERROR, ZE_MSG_IO, what + " " + path + ": " + std::strerror(error));
}

File::File(const std::string& path, int flags, int mode) : path_(path) {
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd_ < 0) throw_io("Cannot open", path, errno);
}

File File::adopt(int fd, const std::string& path) {
  File f;
  f.fd_ = fd;
  f.path_ = path;
  return f;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

uint64_t File::size() const {
  struct stat st{};
  if (::fstat(fd_, &st) != 0) throw_io("Cannot examine", path_, errno);
  return static_cast<uint64_t>(st.st_size);
}

void File::read_at(uint64_t offset, void* buffer, size_t length) const {
  auto* p = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw_io("Cannot read", path_, errno);
    if (n == 0) throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Unexpected end of " + path_);
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
}

size_t File::read_some(void* buffer, size_t length) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw_io("Cannot read", path_, errno);
    return static_cast<size_t>(n);
  }
}

size_t File::read_full(void* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const size_t n = read_some(static_cast<char*>(buffer) + done, length - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

void File::write_all(const void* data, size_t length) {
  if (const int e = platform::io::write_all(fd_, data, length); e != 0) throw_io("Cannot write", path_, e);
}

void File::write_at(uint64_t offset, const void* data, size_t length) {
  if (const int e = platform::io::pwrite_all(fd_, data, length, static_cast<off_t>(offset)); e != 0)
    throw_io("Cannot write", path_, e);
}

void File::sync() {
  if (platform::io::fsync(fd_) != 0) throw_io("Cannot flush", path_, errno);
}

void File::close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (platform::io::close(fd) != 0) throw_io("Cannot close", path_, errno);
}

namespace {

constexpr const char* kTempMark = ".ze-";
constexpr size_t kTempSuffix = 6;

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string random_suffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string s(kTempSuffix, 'A');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

}  // namespace

TempFile::TempFile(const std::string& final_path, unsigned mode, bool anonymous)
    : final_path_(final_path), published_(false) {
  int fd = -1;
  if (anonymous) {
    fd = ::open(folder_of(final_path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    // EISDIR / EOPNOTSUPP: the kernel or the file system has no unnamed files; use a name.
    if (fd < 0 && errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL)
      throw_io("Cannot create a temporary file beside", final_path, errno);
  }
  if (fd >= 0) {
    anonymous_ = true;
  } else {
    std::string pattern = final_path + kTempMark + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) throw_io("Cannot create a temporary file beside", final_path, errno);
    temp_path_ = buf.data();
  }
  // Held until the descriptor closes: a live writer's file is never swept.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    throw_io("Cannot lock the temporary file beside", final_path, e);
  }
  ::fchmod(fd, mode);  // mkostemp makes 0600
  const std::string shown = anonymous_ ? final_path + " (temporary)" : temp_path_;
  file_ = File::adopt(fd, shown);
}

TempFile::~TempFile() { discard(); }

TempFile::TempFile(TempFile&& other) noexcept
    : final_path_(std::move(other.final_path_)),
      temp_path_(std::move(other.temp_path_)),
      file_(std::move(other.file_)),
      anonymous_(other.anonymous_),
      published_(other.published_) {
  other.published_ = true;
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    discard();
    final_path_ = std::move(other.final_path_);
    temp_path_ = std::move(other.temp_path_);
    file_ = std::move(other.file_);
    anonymous_ = other.anonymous_;
    published_ = other.published_;
    other.published_ = true;
  }
  return *this;
}

void TempFile::discard() noexcept {
  if (published_) return;
  published_ = true;
  file_ = File();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void TempFile::publish() {
  if (anonymous_) {
    const std::string proc = "/proc/self/fd/" + std::to_string(file_.fd());
    for (int attempt = 0;; ++attempt) {
      const std::string name = final_path_ + kTempMark + random_suffix();
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temp_path_ = name;
        break;
      }
      if (errno != EEXIST || attempt == 100) throw_io("Cannot name the temporary file beside", final_path_, errno);
    }
  }
  file_.close();
  if (platform::io::rename(temp_path_.c_str(), final_path_.c_str()) != 0) throw_io("Cannot rename to", final_path_, errno);
  published_ = true;
  temp_path_.clear();
}

int OrphanSweeper::sweep(const std::string& final_path) {
  const std::string folder = folder_of(final_path);
  auto listed = temporaries_.find(folder);
  if (listed == temporaries_.end()) {
    // One scan per folder: the names that have the form of a writer's temporary.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        const size_t mark = name.size() >= std::strlen(kTempMark) + kTempSuffix
                                ? name.size() - kTempSuffix - std::strlen(kTempMark)
                                : std::string::npos;
        if (mark != std::string::npos && mark > 0 && name.compare(mark, std::strlen(kTempMark), kTempMark) == 0)
          names.push_back(name);
      }
      ::closedir(dir);
    }
    listed = temporaries_.emplace(folder, std::move(names)).first;
  }
  const std::string prefix = base_of(final_path) + kTempMark;
  int removed = 0;
  for (const std::string& name : listed->second) {
    if (name.size() != prefix.size() + kTempSuffix || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st{};
    // Taking the lock proves no live writer holds the file; it is dropped with the descriptor.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0)
      ++removed;
    ::close(fd);
  }
  return removed;
}

int sweep_orphans(const std::string& final_path) { return OrphanSweeper().sweep(final_path); }

}  // namespace orv::zip::engine
