// The backup run, the weekly scheduler and the archive step of the main window.
//
// BackupRun holds the process-wide state of runs (the run list, `LastBackupFile`) and the three
// handlers behind the window's slots:
//   - BitBtn4Click: a run. By hand (UnattendedRun "HAYIR") it fills the run list from the
//     database list's selection and the two System check boxes and asks first; started by the
//     scheduler ("EVET") it takes the rows of the open scheduler query with today's disc and zip
//     flags and asks nothing. For each database the server writes a full backup into the working
//     folder, the file is zipped when asked, the schedule row gets the last backup, and the file
//     is queued for disc; after the last one the disc write starts for everything queued.
//   - Timer2Timer: the scheduler's tick. It opens the five-line scheduler query for today and,
//     when rows are due this minute, runs them as one scheduled run (scheduler.cpp).
//   - ZipBackupFile: packs a backup file into <working folder><name>.zip with the progress
//     window open (archive_step.h).
//
// The handlers run to their end on the user-interface thread and show their boxes through the
// dialogs port (in a scheduled run too: every failure box waits for the operator). An error a
// handler does not catch is shown in the standard error box with its own text; the tool goes on.
//
// Chosen so that the grid never claims a backup that is not there:
//   - the database name becomes a file name by platform/file_names.h: a name with "/", "\\", a
//     leading "." or control characters still gives one file inside the working folder;
//   - the server writes each backup to a temporary name in the working folder, renamed over the
//     old "<name>.Dat" only when the statement succeeded; the archive likewise. A failed backup
//     or zip never destroys the previous good file and leaves no file it made;
//   - the temporaries carry the process id; each run first removes those of processes that no
//     longer run (a run killed in the middle leaves nothing behind for long);
//   - a database whose backup statement failed is not zipped, recorded or queued;
//   - a failed zip leaves "<name>.Dat" as the recorded last backup;
//   - the run list grows as needed: every selected or due database runs (no 51-entry limit);
//   - runs never overlap: a click while a run is in progress is refused with a beep, a tick is
//     deferred and runs as soon as the run in progress has ended;
//   - every database handled appends a line to the run log (run_log.h) and its outcome goes to
//     the window's status bar;
//   - no scheduled backup is skipped or doubled by the timing of ticks: a tick also runs the rows
//     of the minutes that had no tick since the previous one (a long run, a box waiting for the
//     operator, a stopped timer; up to one day back), and a second tick in the same minute does
//     not run a database again.
//
// Ownership: the main window owns one BackupRun for the life of the process; it refers to the
// window's MainData, ports, archiver and progress window, which must outlive it.
// Threading: user-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/main_data.h"
#include "core/clock.h"
#include "core/dialogs.h"
#include "backup/run/archive_step.h"
#include "backup/log/run_log.h"
#include "backup/run/run_view.h"
#include "settings/store/settings_store.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::backup {

// One entry of the run list: the database and its two flags ("True" or not).
struct RunEntry {
  std::string DatabaseName;
  std::string ToDisc;
  std::string ToZip;
  friend bool operator==(const RunEntry&, const RunEntry&) = default;
};

// The fixed texts of the backup statement's failure box (not translated).
inline constexpr const char* kBackupFailedText = "Lütfen Bağlantı Ayarlarınızı Kontrol Ediniz...!";
inline constexpr const char* kBackupFailedCaption = "Bağlantı Ayarları";
// The error text of a database whose run was ended by the host's stop request.
inline constexpr const char* kStoppedText = "Stopped: the service was asked to end";
// The values of UnattendedRun.
inline constexpr const char* kEvet = "EVET";
inline constexpr const char* kHayir = "HAYIR";

class BackupRun {
 public:
  struct Ports {
    core::MainData* data = nullptr;
    ui::Dialogs* dialogs = nullptr;
    ui::Clock* clock = nullptr;
    RunView* view = nullptr;
    ProgressWindow* progress = nullptr;
    zip::TZipArchiver* archiver = nullptr;  // ZipArchiver1
    RunLog log;                             // the configuration folder's run log by default
  };
  explicit BackupRun(Ports ports);
  ~BackupRun();
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  // ---- handlers (errors they do not catch go to the standard error box) ----------------------
  void BitBtn4Click();
  void Timer2Timer();
  // Missed runs, once at the start of a scheduler: every row whose day and time fell due within
  // the last 24 hours (this minute included) while no scheduler ran, and whose database has no
  // backup recorded since, runs now as one scheduled run, each logged as missed first. Later
  // ticks start after this minute. Returns the databases it ran.
  std::vector<std::string> CatchUpMissedRuns();

  // ---- steps, public for the window and for tests --------------------------------------------
  void FillRunListFromSelection();
  void FillRunListFromSchedule();
  // Sends the backup statement of `name` with the server writing to a temporary file beside
  // `file` (WITH CHECKSUM from SQL Server 2005 on), has the server verify that file (RESTORE
  // VERIFYONLY), then renames it over `file`. On a server error of either statement: the fixed
  // failure box, the temporary file removed, `file` untouched, false. An empty name does nothing
  // and gives false.
  bool BackupDatabase(const std::string& name, const std::string& file);
  // Packs `source_file` into <working folder><name>.zip through the archiver with the progress
  // window open; the new archive is tested (TestArchive) before it replaces the old one. Returns 1 and sets LastBackupFile to <name>.zip when the archive was made;
  // returns 0 and leaves LastBackupFile and any older archive as they were when it was not
  // (the archiver has shown its own error box).
  int ZipBackupFile(const std::string& source_file, const std::string& name);

  // Test restore of the newest backup of `name` (backup/restore/test_restore.h): "<name>.Dat",
  // or, when only the archive is there, the entry of "<name>.zip" extracted into a private
  // folder of the working folder (removed afterwards; a killed run's folder goes with the next
  // sweep). The outcome goes to the run log ("restore test passed" / "restore test failed" with
  // the server's text), to the status bar and to the row's Verified and Verified_Tarih. Returns
  // whether it passed; `error`, when given, gets why not.
  bool TestRestoreDatabase(const std::string& name, std::string* error = nullptr);
  // "Verify by restoring" of the grid's menu: a test restore of each selected database (the
  // current one when none is selected), then one box with every outcome (an error box when one
  // failed). Refused with a beep while a run is in progress.
  void VerifyByRestoring();
  // True when the row's Test_Restore choice makes a test restore due after a backup now:
  // "Always", or "Weekly" with no passed or failed test in the last seven days.
  bool TestRestoreDue(const std::string& name);

  // The working folder text (System.Temp_Dizini, as the window's Edit1 shows it).
  std::string WorkingFolderText();

  // True from the start of a run until its end (boxes included).
  bool Running() const { return running_; }
  // Asked between the steps of a run and after each backup statement: true ends the run (the
  // database in progress is not recorded and its temporary file is removed; no disc step). The
  // service's stop signals; unset for the window.
  void SetStopRequested(std::function<bool()> stop) { stop_requested_ = std::move(stop); }
  // True when the last run ended early on the stop request.
  bool Stopped() const { return stopped_; }

  std::vector<RunEntry> RunList;
  std::string LastBackupFile;
  // Test seam: called with the temporary backup file once the server has written it, before
  // it is verified and renamed (a test flips a byte or ends the process here).
  std::function<void(const std::string& temporary)> OnBackupWritten;
  // Test seam: called with the temporary archive once the archiver has written it, before it is
  // tested and renamed.
  std::function<void(const std::string& temporary)> OnArchiveWritten;
  // Reads every entry of `archive` back through the zip engine (CRC-32 and sizes, nothing
  // written). "" when it holds `entries` entries and all read back whole; else why not, with
  // the engine's own text.
  std::string TestArchive(const std::string& archive, int entries);
  ZipArchiverProgress& ZipArchiver1Progress() { return progress_handler_; }

  // The files of a database in the working folder: the name made a file name by
  // platform/file_names.h ("Sales" stays "Sales.Dat", "a/b" gives "a%2Fb.Dat"), so a name with
  // path parts never reaches outside the folder.
  static std::string BackupFileName(const std::string& name);
  static std::string ArchiveFileName(const std::string& name);
  // Generation `generation` of a backup or archive file: "<stem>.<n>.Dat" beside "<stem>.Dat"
  // (0 gives the newest itself). The System table's Keep (default 1) says how many are kept:
  // the newest as "<stem>.Dat", older ones as "<stem>.1.Dat" ... "<stem>.<Keep-1>.Dat", moved up
  // only once a new file has passed its check.
  static std::filesystem::path GenerationPath(const std::filesystem::path& newest, int generation);
  static constexpr int kMaxKeep = settings::kMaxKeep;
  // The generations kept by this run (System.Keep, read at the start of a run; 1 before).
  int Keep() const { return keep_; }
  void SetKeep(int keep) { keep_ = keep < 1 ? 1 : keep > kMaxKeep ? kMaxKeep : keep; }
  // The temporary names while the server writes and the archiver packs, tagged with this
  // process's id: ".<stem>.Dat.<pid>.part", ".<stem>.zip.<pid>.part". The writers' own
  // temporaries beside them carry the same prefix.
  static std::string TemporaryBackupName(const std::string& name);
  static std::string TemporaryArchiveName(const std::string& name);
  // The folder a test restore extracts the archive's entry into: ".<stem>.zip.<pid>.part.d".
  static std::string TemporaryExtractFolderName(const std::string& name);
  // Removes from `folder` the temporaries (and the writers' temporaries beside them) of
  // processes that no longer run: what a killed run left behind. Those of live processes, this
  // one included, stay. Returns the names removed; a file that cannot be removed is left for
  // the next sweep.
  static std::vector<std::string> SweepOrphans(const std::string& folder);

 private:
  // The run itself; throws what ends it (after the final step has run). A scheduled run fills
  // the run list from the open scheduler query unless the list is ready.
  void Run(bool list_ready = false);
  // The rows due in a minute (day number × 1440 + minute of the day), by the scheduler query of
  // that minute's weekday; the query is left open on them.
  std::vector<RunEntry> DueInMinute(long long minute);
  // `list` as one scheduled run (UnattendedRun "EVET" for its duration).
  void RunScheduled(std::vector<RunEntry> list);
  void RunDatabase(const RunEntry& entry, const std::string& folder);
  // Folder check: true when the working folder exists or was created; false after the box.
  bool EnsureWorkingFolder(const std::string& folder);
  void Log(const RunEntry& entry, RunOutcome outcome, const std::string& error);
  // A passed check of a database ("backup verified", "archive tested") as a run-log line.
  void LogCheck(const RunEntry& entry, const std::string& what);
  // Moves the generations of `newest` up and renames the checked `temporary` to `newest`; ""
  // or the system's text of the step that failed.
  std::string PutInPlace(const std::filesystem::path& temporary, const std::filesystem::path& newest);
  // The file a test restore of `name` reads: "<name>.Dat", else the archive's entry extracted
  // into `folder` (created here). "" with `error` set when there is neither or the extraction
  // failed.
  std::string TestRestoreSource(const std::string& name, const std::filesystem::path& folder, std::string& error);
  // True when the server's backup statements take WITH CHECKSUM (asked once per run).
  bool ServerTakesChecksum();
  void Repaint();
  bool Unattended() const;

  core::MainData& data_;
  ui::Dialogs& dialogs_;
  ui::Clock& clock_;
  RunView& view_;
  ProgressWindow& progress_;
  zip::TZipArchiver& archiver_;
  RunLog log_;
  ZipArchiverProgress progress_handler_;
  DialogsZipPort zip_port_;
  bool StopRequested() const { return stop_requested_ && stop_requested_(); }

  std::function<bool()> stop_requested_;
  bool running_ = false;
  bool stopped_ = false;
  bool tick_deferred_ = false;
  long long last_tick_minute_ = -1;         // the minute of the latest tick (none yet: -1)
  long long ran_minute_ = -1;               // the minute whose databases ran_in_minute_ lists
  std::vector<std::string> ran_in_minute_;  // databases a tick of that minute already ran
  std::string zip_error_;   // why the last ZipBackupFile gave 0
  std::string last_error_;  // why the last BackupDatabase gave false
  int server_major_ = -1;   // the server's major version; -1 not asked yet
  int keep_ = 1;            // generations kept (System.Keep)
};

}  // namespace orv::backup
