#include "zip/engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace orv::zip::engine
