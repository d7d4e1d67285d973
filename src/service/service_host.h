// The background service's host of the weekly scheduler and the backup run: the same BackupRun
// (backup/run/run.h) and disc step (backup/disc/disc_step.h) as the window, on the same settings
// database, server registration and working folder, through ports that never wait for an
// operator (headless_ports.h).
//
// Each Tick():
//   1. opens the settings database and connects to the registered server when not connected
//      (as the window's start does); a failure is logged once per distinct error and the tick
//      ends, to be tried again at the next one — the host never gives up;
//   2. rereads the schedule and the System row (the window or orvakell-schedule may have
//      changed them);
//   3. takes the run lock (platform/instance_lock.h) without waiting; when another process runs
//      a backup, the tick ends and the next one catches up the minutes it skipped;
//   4. the first tick that gets this far runs the missed runs (BackupRun::CatchUpMissedRuns),
//      later ones the scheduler's tick (BackupRun::Timer2Timer).
// After a run with failures the failure notice runs (failure_notice.h).
//
// Stop: the host reads `stop` between steps and after every backup statement; the run then
// ends with the database in progress logged as stopped. Reload() (SIGHUP) drops the server
// connection, so the next tick reads the server registration again, and rereads the recorder
// options of ORVAKELL.ini.
//
// Ownership: the caller owns the clock, the stop flag and the error stream; they outlive the host.
// Threading: one thread (the service's main loop); `stop` may be set from a signal handler.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "backup/disc/disc_step.h"
#include "backup/run/run.h"
#include "core/main_data.h"
#include "service/failure_notice.h"
#include "service/headless_ports.h"

namespace orv::service {

class ServiceHost {
 public:
  struct Options {
    std::filesystem::path installation_folder;  // holds Velmora.db and the locks
    std::string zip_engine_folder;              // folder of the zip engine's shared object
    ui::Clock* clock = nullptr;
    const std::atomic<bool>* stop = nullptr;
    std::ostream* err = nullptr;
    Ticker ticker;                        // for the 10-second progress throttle
    backup::RunLog log;                   // the run log
    FailureNotice::Config notice;         // OnFailure=
    bool disc = true;                     // host the disc step (recorders are looked up)
  };

  explicit ServiceHost(Options options);
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  enum class TickResult {
    NotConnected,  // settings database or server unreachable (logged once)
    Deferred,      // another process holds the run lock
    Idle,          // nothing was due
    Ran,           // a run took place
  };
  TickResult Tick();

  // SIGHUP: reconnect with the server registration as it is now; reread ORVAKELL.ini.
  void Reload();
  // Stops a disc write in progress (as CANCEL does) and waits for its end; logged by the step.
  void StopDisc();
  // Cancels the server statement in progress through the provider, so a stop need not wait
  // for a long backup; the run then logs that database as stopped. The one call another
  // thread (the service's stop watcher) may make. False when the provider cannot cancel.
  bool CancelStatement();
  // Work the disc step posted from its write thread; runs on the host's thread.
  void RunPosted();
  // True while a disc write runs (the main loop then calls DiscTimer every second).
  bool DiscBusy() const;
  void DiscTimer();

  LoggingDialogs& dialogs() { return dialogs_; }
  backup::BackupRun& run() { return *run_; }
  core::MainData& data() { return data_; }

 private:
  bool Connect();
  void Refresh();
  void SetUpDisc();
  void LoadDiscOptions();
  void NoticeFailures(std::uintmax_t log_size_before);

  Options options_;
  std::ostream& err_;
  core::MainData data_;
  LoggingDialogs dialogs_;
  ThrottledReporter reporter_;
  StderrProgressWindow progress_;
  ServiceRunView view_;
  zip::TZipArchiver archiver_;
  std::unique_ptr<backup::BackupRun> run_;
  FailureNotice notice_;
  bool caught_up_ = false;
  bool deferred_noted_ = false;

  struct Disc;
  std::unique_ptr<Disc> disc_;
};

}  // namespace orv::service
