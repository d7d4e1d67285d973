#include "platform/file_write.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace orv::platform::io {

namespace {

std::atomic<int> g_fault{static_cast<int>(Fault::None)};
std::atomic<long> g_target{0};
std::atomic<long> g_count{0};
std::atomic<bool> g_fired{false};

// Counts one call; returns the fault to deliver on it (None for almost every call).
Fault step() {
  const long n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  const auto fault = static_cast<Fault>(g_fault.load(std::memory_order_relaxed));
  if (fault == Fault::None || n != g_target.load(std::memory_order_relaxed)) return Fault::None;
  g_fired.store(true, std::memory_order_relaxed);
  return fault;
}

// ENOSPC/EIO faults as a failed call; Short only where the caller can shorten a transfer.
bool fail_now(Fault fault) {
  if (fault == Fault::NoSpace) {
    errno = ENOSPC;
    return true;
  }
  if (fault == Fault::IoError) {
    errno = EIO;
    return true;
  }
  return false;
}

std::size_t shortened(Fault fault, std::size_t n) { return fault == Fault::Short && n > 1 ? n / 2 : n; }

}  // namespace

ssize_t write(int fd, const void* data, std::size_t n) {
  const Fault fault = step();
  if (fail_now(fault)) return -1;
  return ::write(fd, data, shortened(fault, n));
}

ssize_t pwrite(int fd, const void* data, std::size_t n, off_t offset) {
  const Fault fault = step();
  if (fail_now(fault)) return -1;
  return ::pwrite(fd, data, shortened(fault, n), offset);
}

ssize_t copy_file_range(int fd_in, loff_t* off_in, int fd_out, loff_t* off_out, std::size_t n) {
  const Fault fault = step();
  if (fail_now(fault)) return -1;
  return ::copy_file_range(fd_in, off_in, fd_out, off_out, shortened(fault, n), 0);
}

int fsync(int fd) {
  if (fail_now(step())) return -1;
  return ::fsync(fd);
}

int ftruncate(int fd, off_t size) {
  if (fail_now(step())) return -1;
  return ::ftruncate(fd, size);
}

int close(int fd) {
  const Fault fault = step();
  const int rc = ::close(fd);
  if (fail_now(fault)) return -1;
  return rc;
}

int rename(const char* from, const char* to) {
  if (fail_now(step())) return -1;
  return ::rename(from, to);
}

int link(const char* from, const char* to) {
  if (fail_now(step())) return -1;
  return ::link(from, to);
}

int write_all(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t put = write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return 0;
}

int pwrite_all(int fd, const void* data, std::size_t n, off_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t put = pwrite(fd, p, n, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    p += put;
    n -= static_cast<std::size_t>(put);
    offset += put;
  }
  return 0;
}

void inject_fault(Fault fault, long n) {
  if (n <= 0) fault = Fault::None;
  g_fault.store(static_cast<int>(Fault::None), std::memory_order_relaxed);
  g_count.store(0, std::memory_order_relaxed);
  g_fired.store(false, std::memory_order_relaxed);
  g_target.store(n, std::memory_order_relaxed);
  g_fault.store(static_cast<int>(fault), std::memory_order_relaxed);
}

long counted_calls() { return g_count.load(std::memory_order_relaxed); }

bool fault_fired() { return g_fired.load(std::memory_order_relaxed); }

const char* fault_name(Fault fault) {
  switch (fault) {
    case Fault::None:
      return "none";
    case Fault::NoSpace:
      return "ENOSPC";
    case Fault::IoError:
      return "EIO";
    case Fault::Short:
      return "short";
  }
  return "?";
}

}  // namespace orv::platform::io
