// Use locks on databases of the local engine, shared between connections of this process and
// of other processes: one lock file per database, held with flock(2). A connection whose
// current database is X holds X's file shared (or exclusive in single-user mode); restore and
// the single-user switch need it exclusive. flock locks belong to an open file, so two
// connections of one process conflict just as two processes do.
// Not thread-safe per object.
#pragma once

#include <filesystem>

namespace orv::server {

class DbLock {
 public:
  enum class Mode { None, Shared, Exclusive };

  DbLock() = default;
  explicit DbLock(std::filesystem::path file) : file_(std::move(file)) {}
  ~DbLock();
  DbLock(DbLock&& other) noexcept;
  DbLock& operator=(DbLock&& other) noexcept;
  DbLock(const DbLock&) = delete;
  DbLock& operator=(const DbLock&) = delete;

  // Takes or changes the lock without waiting; false when another holder is in the way.
  // Throws std::system_error when the lock file cannot be opened.
  [[nodiscard]] bool try_lock(Mode mode);
  void unlock();
  Mode mode() const { return mode_; }

 private:
  std::filesystem::path file_;
  int fd_ = -1;
  Mode mode_ = Mode::None;
};

}  // namespace orv::server
