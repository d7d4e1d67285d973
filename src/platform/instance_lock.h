// One running tool per installation. Two copies of the tool (one started at log-in, one from the
// desktop link) would both run the schedule: the same backups twice, into the same files, at the
// same time. The first copy holds an exclusive lock on a file of the installation folder for its
// whole life; a second copy finds it held and ends. The kernel drops the lock when the holder
// ends, however it ends, so a crashed copy never blocks the next start.
//
// Errors: a lock file that cannot be opened (a read-only installation) gives Unavailable with
// the system's text; the caller then goes on without the guard.
#pragma once

#include <filesystem>
#include <string>

namespace orv::platform {

class InstanceLock {
 public:
  enum class State { Acquired, HeldElsewhere, Unavailable };

  // Tries once, without waiting.
  explicit InstanceLock(const std::filesystem::path& file);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  State state() const { return state_; }
  // Why the lock is Unavailable ("" otherwise).
  const std::string& error() const { return error_; }
  // Replaces the lock file's text (who holds it, e.g. "service 1234"); Acquired only. Returns
  // the system's text on failure, "" on success.
  std::string SetOwner(const std::string& text);

 private:
  int fd_ = -1;
  State state_ = State::Unavailable;
  std::string error_;
};

// <installation folder>/.orvakell.lock: one window per installation.
std::filesystem::path default_instance_lock_file();
// The two locks the window and the background service share, beside the settings database:
//   scheduler: held for its whole life by the one process that runs the weekly schedule (the
//              service, or a window started while no service runs);
//   run:       held by whichever process runs a backup, from its start to its end, so runs of
//              the two processes never overlap.
std::filesystem::path scheduler_lock_file();
std::filesystem::path run_lock_file();

// Who holds a lock file: its text when another process holds the lock now, "" when nobody does
// (a lock file left by an ended holder still has its text, but its lock is free).
std::string lock_owner(const std::filesystem::path& file);

// The box a run by hand shows when a run of another process (the service) is in progress.
inline constexpr const char* kRunInProgressText =
    "A backup run of the background service is in progress. Start this backup when it has ended.";

// The box a restore or repair by hand shows then: it would replace or lock a database the run
// is backing up.
inline constexpr const char* kOperationWaitsForRunText =
    "A backup run of the background service is in progress. Start this operation when it has ended.";

// The box a second copy shows before it ends.
inline constexpr const char* kAlreadyRunningText = "ORVAKELL is already running on this machine.";

}  // namespace orv::platform
