// Byte sources of the directory reader (see zip_source.h).
#include "zip/dirreader/zip_source.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orv::zip {

ZipReadResult MemoryZipSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  ZipReadResult r;
  if (offset >= data_.size()) return r;
  r.count = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), data_.size() - offset));
  std::memcpy(out.data(), data_.data() + offset, r.count);
  return r;
}

FileZipSource::FileZipSource(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    open_error_ = std::strerror(errno);
    return;
  }
  // Writers that cooperate hold an exclusive lock while they rewrite an archive; reading then
  // waits for nobody and fails like an open that is denied.
  if (::flock(fd_, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    open_error_ = "the file is being written";
    ::close(fd_);
    fd_ = -1;
    return;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    open_error_ = ::fstat(fd_, &st) != 0 ? std::strerror(errno) : "not a regular file";
    ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

FileZipSource::~FileZipSource() {
  if (fd_ >= 0) ::close(fd_);
}

ZipReadResult FileZipSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  ZipReadResult r;
  if (fd_ < 0) {
    r.ok = false;
    r.error = "file not open";
    return r;
  }
  while (r.count < out.size()) {
    const ssize_t got = ::pread(fd_, out.data() + r.count, out.size() - r.count,
                                static_cast<off_t>(offset + r.count));
    if (got < 0) {
      if (errno == EINTR) continue;
      r.ok = false;
      r.error = std::strerror(errno);
      return r;
    }
    if (got == 0) break;
    r.count += static_cast<std::size_t>(got);
  }
  return r;
}

ZipReadResult TestingZipSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  ++reads;
  log.emplace_back(offset, out.size());
  if (fail_at != 0 && reads == fail_at) {
    ZipReadResult r;
    r.ok = false;
    r.error = "injected read failure";
    return r;
  }
  // Short pieces: deliver what the inner source gives in max_chunk-sized calls, so a caller
  // that does not loop sees a short read.
  if (max_chunk != 0 && out.size() > max_chunk) out = out.first(max_chunk);
  ZipReadResult r = inner_.ReadAt(offset, out);
  bytes += r.count;
  return r;
}

}  // namespace orv::zip
