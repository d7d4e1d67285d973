#include "burner/image_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/file_write.h"

namespace orv::burner {
namespace {

constexpr const char* kMsgCantWrite = "CAN'T WRITE IMAGE FILE \"%s\" [%s]";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

class Writer {
 public:
  // holes_read_as_zero: the file is new, so zero runs may be skipped and left as holes.
  Writer(int fd, int64_t offset, std::string path, bool holes_read_as_zero, std::atomic<int64_t>* done)
      : fd_(fd), at_(offset), path_(std::move(path)), skip_zeros_(holes_read_as_zero), done_(done) {}

  bool Put(const uint8_t* data, int64_t n) {
    while (n > 0) {
      const ssize_t w = platform::io::pwrite(fd_, data, static_cast<size_t>(n), at_);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return Fail(w < 0 ? std::strerror(errno) : "short write");
      data += w;
      n -= w;
      Advance(w);
    }
    return true;
  }

  bool Zeros(int64_t n) {
    if (skip_zeros_) {
      Advance(n);
      return true;
    }
    static const uint8_t kZero[65536] = {};
    while (n > 0) {
      const int64_t k = std::min<int64_t>(n, sizeof kZero);
      if (!Put(kZero, k)) return false;
      n -= k;
    }
    return true;
  }

  // Copies `bytes` from the source; the kernel copies when it can, a buffer otherwise.
  bool CopyFrom(int src, int64_t bytes, const std::string& src_path) {
    int64_t done = 0;
    bool kernel_copy = use_kernel_copy_;
    while (done < bytes) {
      if (kernel_copy) {
        loff_t in = done;
        loff_t out = at_;
        const ssize_t n = platform::io::copy_file_range(src, &in, fd_, &out, static_cast<size_t>(bytes - done));
        if (n > 0) {
          done += n;
          Advance(n);
          continue;
        }
        if (n == 0) return FailSource(kMsgFileChanged, src_path, {});
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
          use_kernel_copy_ = kernel_copy = false;
          continue;
        }
        if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) return Fail(std::strerror(errno));
        return FailSource(kMsgReadError, src_path, std::strerror(errno));
      }
      if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(kBuffer);
      const ssize_t n = pread(src, buffer_.get(), static_cast<size_t>(std::min<int64_t>(kBuffer, bytes - done)), done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FailSource(kMsgReadError, src_path, std::strerror(errno));
      if (n == 0) return FailSource(kMsgFileChanged, src_path, {});
      if (!Put(buffer_.get(), n)) return false;
      done += n;
    }
    return true;
  }

  // Sets the file size to the end of what was written or skipped.
  bool Finish() {
    if (skip_zeros_ && platform::io::ftruncate(fd_, at_) != 0) return Fail(std::strerror(errno));
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  static constexpr int64_t kBuffer = 1 << 20;

  void Advance(int64_t n) {
    at_ += n;
    if (done_) done_->fetch_add(n, std::memory_order_relaxed);
  }

  bool Fail(const std::string& reason) {
    error_ = TrackMessage(kMsgCantWrite, path_, reason);
    return false;
  }
  bool FailSource(const char* format, const std::string& path, const std::string& reason) {
    error_ = TrackMessage(format, path, reason);
    return false;
  }

  int fd_;
  int64_t at_;
  std::string path_;
  std::string error_;
  bool skip_zeros_;
  std::atomic<int64_t>* done_;
  bool use_kernel_copy_ = true;
  std::unique_ptr<uint8_t[]> buffer_;
};

// The folder of a path, "." for a bare name.
std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Gives the complete anonymous file the temporary name (a leftover of a killed write there is
// replaced); the rename over the image's name comes after the close, so the old image stays
// whole until every step of the new one has succeeded.
std::string LinkAsTemporary(int fd, const std::string& temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) return TrackMessage(kMsgCantWrite, temp, std::strerror(errno));
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
    return TrackMessage(kMsgCantWrite, temp, std::strerror(errno));
  return {};
}

std::string WritePieces(Writer& w, const std::vector<TTrackPiece>& pieces, const std::vector<uint8_t>& header) {
  for (const TTrackPiece& p : pieces) {
    switch (p.kind) {
      case TTrackPiece::Kind::Header:
        if (!w.Put(header.data(), static_cast<int64_t>(header.size()))) return w.error();
        break;
      case TTrackPiece::Kind::Zeros:
        if (!w.Zeros(p.padded)) return w.error();
        break;
      case TTrackPiece::Kind::BootImage:
      case TTrackPiece::Kind::File: {
        Fd src(open(p.path.c_str(), O_RDONLY | O_CLOEXEC));
        if (src.get() < 0) return TrackMessage(kMsgCantOpenFile, p.path);
        struct stat st {};
        if (fstat(src.get(), &st) != 0) return TrackMessage(kMsgReadError, p.path, std::strerror(errno));
        int64_t data = p.bytes;
        if (p.kind == TTrackPiece::Kind::BootImage) {
          data = std::min<int64_t>(st.st_size, p.padded);
        } else if (st.st_size != p.bytes) {
          return TrackMessage(kMsgFileChanged, p.path);
        }
        if (!w.CopyFrom(src.get(), data, p.path) || !w.Zeros(p.padded - data)) return w.error();
        break;
      }
    }
  }
  if (!w.Finish()) return w.error();
  return {};
}

}  // namespace

std::string WriteImageFile(const std::string& out_path, const std::vector<TTrackPiece>& pieces,
                           const std::vector<uint8_t>& header, const TImageWriteOptions& options) {
  if (options.Offset > 0) {
    Fd fd(open(out_path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) return TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
    Writer w(fd.get(), options.Offset, out_path, false, options.BytesDone);
    std::string error = WritePieces(w, pieces, header);
    if (error.empty() && platform::io::close(fd.release()) != 0) error = TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
    return error;
  }
  // A new image is written to a file without a name in the target's folder (O_TMPFILE), and
  // once complete and on the disk linked as "<image>.partial", closed and renamed over the
  // image: a process killed while writing leaves nothing; one killed in the last instant leaves
  // "<image>.partial", which the next write of that image replaces. A file system without
  // O_TMPFILE gets the named temporary file from the start.
  const std::string temp = out_path + ".partial";
  const std::string folder = ParentFolder(out_path);
  bool anonymous = true;
  Fd fd(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
    anonymous = false;
    Fd named(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (named.get() < 0) return TrackMessage(kMsgCantWrite, temp, std::strerror(errno));
    fd = std::move(named);
  }
  Writer w(fd.get(), 0, anonymous ? out_path : temp, true, options.BytesDone);
  std::string error = WritePieces(w, pieces, header);
  if (error.empty() && platform::io::fsync(fd.get()) != 0)
    error = TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
  if (error.empty() && anonymous) error = LinkAsTemporary(fd.get(), temp);
  if (error.empty() && platform::io::close(fd.release()) != 0)
    error = TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
  if (error.empty() && platform::io::rename(temp.c_str(), out_path.c_str()) != 0)
    error = TrackMessage(kMsgCantWrite, out_path, std::strerror(errno));
  if (!error.empty()) unlink(temp.c_str());
  return error;
}

}  // namespace orv::burner
