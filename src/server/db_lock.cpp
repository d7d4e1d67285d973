#include "server/db_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace orv::server {

DbLock::~DbLock() { unlock(); }

DbLock::DbLock(DbLock&& other) noexcept
    : file_(std::move(other.file_)), fd_(other.fd_), mode_(other.mode_) {
  other.fd_ = -1;
  other.mode_ = Mode::None;
}

DbLock& DbLock::operator=(DbLock&& other) noexcept {
  if (this != &other) {
    unlock();
    file_ = std::move(other.file_);
    fd_ = other.fd_;
    mode_ = other.mode_;
    other.fd_ = -1;
    other.mode_ = Mode::None;
  }
  return *this;
}

bool DbLock::try_lock(Mode mode) {
  if (mode == Mode::None) {
    unlock();
    return true;
  }
  if (fd_ < 0) {
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), file_.string());
  }
  int op = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (::flock(fd_, op) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      // A failed conversion may have dropped the old lock (flock converts by unlock + lock).
      if (mode_ != Mode::None && ::flock(fd_, (mode_ == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
        mode_ = Mode::None;
      if (mode_ == Mode::None) {
        ::close(fd_);
        fd_ = -1;
      }
      return false;
    }
    throw std::system_error(errno, std::generic_category(), file_.string());
  }
  mode_ = mode;
  return true;
}

void DbLock::unlock() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  mode_ = Mode::None;
}

}  // namespace orv::server
