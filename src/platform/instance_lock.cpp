#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace orv::platform {

InstanceLock::InstanceLock(const std::filesystem::path& file) {
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = file.string() + ": " + std::strerror(errno);
    return;
  }
  // flock: held per open file, so a second open in this process counts as another copy too.
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    state_ = State::Acquired;
    return;
  }
  const int e = errno;
  ::close(fd_);
  fd_ = -1;
  if (e == EWOULDBLOCK) {
    state_ = State::HeldElsewhere;
  } else {
    error_ = file.string() + ": " + std::strerror(e);
  }
}

std::string InstanceLock::SetOwner(const std::string& text) {
  if (state_ != State::Acquired) return "not held";
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    return std::strerror(errno);
  return "";
}

std::string lock_owner(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text;
  // A shared lock is refused while an exclusive holder lives.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    char buf[256];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    text = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("unknown");
  }
  ::close(fd);
  return text;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

std::filesystem::path default_instance_lock_file() { return installation_folder() / ".orvakell.lock"; }
std::filesystem::path scheduler_lock_file() { return installation_folder() / ".orvakell-scheduler.lock"; }
std::filesystem::path run_lock_file() { return installation_folder() / ".orvakell-run.lock"; }

}  // namespace orv::platform
