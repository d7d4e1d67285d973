// The backup run (BitBtn4Click) and its steps.
#include "backup/run/run.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "backup/restore/test_restore.h"
#include "backup/run/scoped_flag.h"
#include "i18n/messages.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "server/statement.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"

namespace orv::backup {

namespace fs = std::filesystem;

namespace {

const i18n::MessageStrings& msg() { return i18n::messages(); }

std::string PidTag() { return std::to_string(static_cast<long long>(::getpid())); }

bool ProcessAlive(long long pid) {
  if (pid <= 0 || pid != static_cast<pid_t>(pid)) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The process id in a run's temporary name: ".<stem>.Dat.<pid>.part" or ".<stem>.zip.<pid>.part",
// alone or followed by the writer's own suffix (".new-XXXXXX" of the local engine, ".ze-XXXXXX"
// of the zip engine). The stem never starts with "."; the last tag in the name counts. -1 when
// the name is none of these; an id too long for a number gives LLONG_MAX (no such process).
long long TemporaryOwner(const std::string& bare) {
  if (bare.size() < 2 || bare[0] != '.' || bare[1] == '.') return -1;
  std::size_t at = bare.size();
  while (at > 0) {
    at = bare.rfind(".part", at - 1);
    if (at == std::string::npos) break;
    const std::size_t end = at + 5;
    if (end != bare.size() && bare[end] != '.') continue;
    std::size_t digits = at;
    while (digits > 0 && bare[digits - 1] >= '0' && bare[digits - 1] <= '9') --digits;
    // ".<stem>" (at least one byte of stem), ".Dat" or ".zip", ".", the digits.
    if (digits == at || digits < 7 || bare[digits - 1] != '.') continue;
    const std::string ext = bare.substr(digits - 5, 4);
    if (ext != ".Dat" && ext != ".zip") continue;
    const std::string number = bare.substr(digits, at - digits);
    if (number.size() > 18) return LLONG_MAX;
    return std::stoll(number);
  }
  return -1;
}

}  // namespace

std::string BackupRun::BackupFileName(const std::string& name) { return platform::file_stem_of_name(name) + ".Dat"; }

std::string BackupRun::ArchiveFileName(const std::string& name) { return platform::file_stem_of_name(name) + ".zip"; }

std::filesystem::path BackupRun::GenerationPath(const std::filesystem::path& newest, int generation) {
  if (generation <= 0) return newest;
  return newest.parent_path() /
         (newest.stem().string() + "." + std::to_string(generation) + newest.extension().string());
}

std::string BackupRun::PutInPlace(const fs::path& temporary, const fs::path& newest) {
  const auto error = [](const std::string& what, const fs::path& a, const fs::path& b) {
    return "Cannot " + what + " " + a.string() + " to " + b.string() + ": " + std::strerror(errno);
  };
  std::error_code ec;
  if (keep_ > 1 && fs::exists(newest, ec)) {
    // Oldest first, each a rename over the one above it; then the newest gets a second name as
    // generation 1 (a link: it never stops being "<name>.Dat"); then the new file replaces it.
    // A kill at any point leaves the newest verified file under its name.
    for (int i = keep_ - 1; i >= 2; --i) {
      const fs::path from = GenerationPath(newest, i - 1), to = GenerationPath(newest, i);
      if (!fs::exists(from, ec)) continue;
      if (platform::io::rename(from.c_str(), to.c_str()) != 0) return error("rename", from, to);
    }
    const fs::path first = GenerationPath(newest, 1);
    fs::remove(first, ec);
    if (platform::io::link(newest.c_str(), first.c_str()) != 0) return error("link", newest, first);
  }
  if (platform::io::rename(temporary.c_str(), newest.c_str()) != 0) return error("rename", temporary, newest);
  return "";
}

std::string BackupRun::TemporaryBackupName(const std::string& name) {
  return "." + BackupFileName(name) + "." + PidTag() + ".part";
}

std::string BackupRun::TemporaryArchiveName(const std::string& name) {
  return "." + ArchiveFileName(name) + "." + PidTag() + ".part";
}

std::string BackupRun::TemporaryExtractFolderName(const std::string& name) {
  return TemporaryArchiveName(name) + ".d";
}

std::vector<std::string> BackupRun::SweepOrphans(const std::string& folder) {
  std::vector<std::string> removed;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return removed;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string bare = it->path().filename().string();
    const long long pid = TemporaryOwner(bare);
    if (pid < 0) continue;
    std::error_code type_ec;
    // A folder is a test restore's extraction folder (TemporaryExtractFolderName) or not ours.
    const bool folder = it->is_directory(type_ec) && bare.size() > 7 && bare.compare(bare.size() - 7, 7, ".part.d") == 0;
    if (!folder && !it->is_regular_file(type_ec)) continue;
    if (pid == static_cast<long long>(::getpid()) || ProcessAlive(pid)) continue;
    std::error_code rm;
    if (folder ? fs::remove_all(it->path(), rm) > 0 : fs::remove(it->path(), rm)) removed.push_back(bare);
  }
  return removed;
}

BackupRun::BackupRun(Ports ports)
    : data_(*ports.data),
      dialogs_(*ports.dialogs),
      clock_(*ports.clock),
      view_(*ports.view),
      progress_(*ports.progress),
      archiver_(*ports.archiver),
      log_(std::move(ports.log)),
      progress_handler_(*ports.progress, *ports.dialogs),
      zip_port_(*ports.dialogs) {
  progress_handler_.BindTo(archiver_);
  if (archiver_.Dialogs == nullptr) archiver_.Dialogs = &zip_port_;
}

BackupRun::~BackupRun() {
  if (archiver_.Dialogs == &zip_port_) archiver_.Dialogs = nullptr;
  archiver_.OnProgress = nullptr;
  // Time() of the settings database may have been bound to this run's clock.
  dal::set_sqlite_clock({});
}

std::string BackupRun::WorkingFolderText() { return data_.ADOTableSystem.field("Temp_Dizini").as_string(); }

bool BackupRun::Unattended() const { return data_.UnattendedRun == kEvet; }

void BackupRun::Repaint() { dialogs_.repaint(); }

// ---- filling the run list --------------------------------------------------------------------

void BackupRun::FillRunListFromSelection() {
  RunList.clear();
  dal::Table& list = data_.ADOTableDatabase;
  dal::Table& system = data_.ADOTableSystem;
  auto entry = [&] {
    return RunEntry{list.field("Veri_Tabani_Adi").as_string(),
                    settings::yes_no(settings::is_true(system.field("CD_Yaz").as_string())),
                    settings::yes_no(settings::is_true(system.field("Ziple").as_string()))};
  };
  const std::vector<int> rows = view_.SelectedDatabaseRows();
  if (rows.empty()) {
    RunList.push_back(entry());
    return;
  }
  for (int row : rows) {
    list.move_to(row);
    RunList.push_back(entry());
  }
}

void BackupRun::FillRunListFromSchedule() {
  RunList.clear();
  dal::Query& query = data_.ADOQueryZamanlama;
  dal::Bookmark mark = query.bookmark();
  const settings::DayColumns& day = settings::day_columns(dal::day_of_week(clock_.now()));
  query.disable_controls();
  try {
    for (query.first(); !query.eof(); query.next())
      RunList.push_back(RunEntry{query.field("Veri_Tabani_Adi").as_string(), query.field(day.disc).as_string(),
                                 query.field(day.zip).as_string()});
    if (!query.empty()) query.go_to_bookmark(mark);
  } catch (...) {
    query.free_bookmark(mark);
    query.enable_controls();
    throw;
  }
  query.free_bookmark(mark);
  query.enable_controls();
}

// ---- one backup statement --------------------------------------------------------------------

bool BackupRun::ServerTakesChecksum() {
  if (server_major_ < 0) {
    dal::Query& q = data_.ADOQuerySQLBackup;
    q.close();
    q.set_sql({server::product_version_statement()});
    q.open();
    server_major_ = q.empty() ? 0 : server::product_major_version(q.field("ProductVersion").as_string());
    q.close();
  }
  return server_major_ >= server::kChecksumMajorVersion;
}

bool BackupRun::BackupDatabase(const std::string& name, const std::string& file) {
  if (name.empty()) return false;
  const fs::path final_path = file;
  const fs::path temporary = final_path.parent_path() / TemporaryBackupName(name);
  std::error_code ec;
  // The statement appends to an existing file: a leftover of an interrupted run goes first.
  fs::remove(temporary, ec);
  std::string error;
  if (ec) {
    error = "Cannot remove " + temporary.string() + ": " + ec.message();
  } else {
    try {
      const bool checksum = ServerTakesChecksum();
      dal::Query& q = data_.ADOQuerySQLBackup;
      q.close();
      q.set_sql({server::backup_statement(name, temporary.string(), checksum)});
      (void)q.exec_sql();
      if (OnBackupWritten && fs::exists(temporary, ec)) OnBackupWritten(temporary.string());
      if (StopRequested()) {
        error = kStoppedText;
      } else if (!fs::is_regular_file(temporary, ec)) {
        error = "The server reported success but wrote no file " + temporary.string();
      } else {
        // Only a file the server reads back whole replaces the previous one.
        q.close();
        q.set_sql({server::restore_verifyonly_statement(temporary.string(), checksum)});
        (void)q.exec_sql();
        if (StopRequested())
          error = kStoppedText;
        else
          error = PutInPlace(temporary, final_path);
      }
    } catch (const dal::ProviderError& e) {
      // A statement cancelled on the host's stop request ends as stopped, not as a failure.
      error = StopRequested() ? kStoppedText : e.what();
    }
  }
  if (error.empty()) return true;
  fs::remove(temporary, ec);
  last_error_ = error;
  if (error == kStoppedText) return false;  // no box: the host is stopping
  dialogs_.message(kBackupFailedText, kBackupFailedCaption, ui::BoxKind::Error);
  return false;
}

// ---- the run ---------------------------------------------------------------------------------

void BackupRun::BitBtn4Click() {
  if (running_) {
    // A click inside a run (its question or one of its boxes is open): never a second run on
    // the shared run list.
    dialogs_.beep();
    return;
  }
  try {
    Run();
  } catch (const std::exception& e) {
    dialogs_.standard_error(e.what());
  }
  if (tick_deferred_) {
    tick_deferred_ = false;
    Timer2Timer();
  }
}

bool BackupRun::EnsureWorkingFolder(const std::string& folder) {
  if (folder.empty()) throw std::runtime_error("Unable to create directory");
  std::string bare = folder;
  if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  std::error_code ec;
  if (fs::is_directory(bare, ec)) return true;
  fs::create_directories(bare, ec);
  if (!ec && fs::is_directory(bare, ec)) return true;
  dialogs_.message(i18n::replace_placeholder(msg().Directory_Create_Error_Str, "<Directory>", folder),
                   msg().Directory_Create_Error_Str_Bsk, ui::BoxKind::Error);
  return false;
}

void BackupRun::Run(bool list_ready) {
  ScopedFlag running(running_);
  stopped_ = false;
  server_major_ = -1;  // asked again: the connection settings may have changed
  keep_ = 1;
  if (const dal::Field* keep = data_.ADOTableSystem.find_field("Keep"); keep != nullptr && !keep->is_null())
    SetKeep(static_cast<int>(std::clamp<long long>(std::atoll(keep->as_string().c_str()), 1, kMaxKeep)));
  view_.ClearDiscQueue();
  data_.store.PostPendingSystemEdit();
  std::string completed;

  if (Unattended()) {
    if (!list_ready) FillRunListFromSchedule();
  } else {
    FillRunListFromSelection();
    if (dialogs_.message(msg().Backup_Str, msg().Backup_Str_Bsk, ui::BoxKind::Question, ui::Buttons::YesNo) !=
        ui::Answer::Yes)
      return;
  }

  const std::string folder = WorkingFolderText();
  if (!EnsureWorkingFolder(folder)) return;
  (void)SweepOrphans(folder);

  // From here the final step runs whatever happens.
  try {
    for (const RunEntry& entry : RunList) {
      if (entry.DatabaseName.empty()) break;
      if (StopRequested()) {
        stopped_ = true;
        break;
      }
      RunDatabase(entry, folder);
      if (stopped_) break;
    }
    if (stopped_) {
      // The host is stopping: no disc step and no closing box; the log says what ran.
      view_.SetLabel10("");
      view_.SetLabel11("");
      return;
    }
    if (!view_.DiscQueue().empty()) {
      view_.SetLabel10(msg().Write_CD_Str);
      Repaint();
      view_.StartDiscWrite();
    }
    completed = kEvet;
    if (!Unattended()) dialogs_.message(msg().Backup_Comp_Str, msg().Backup1_Str, ui::BoxKind::Information);
  } catch (...) {
    view_.SetLabel10("");
    view_.SetLabel11("");
    Repaint();
    view_.SetTimer2Enabled(true);
    dialogs_.message(msg().Opera_Error_Str, msg().Backup1_Str, ui::BoxKind::Error);
    throw;
  }
  view_.SetLabel10("");
  view_.SetLabel11("");
  Repaint();
  view_.SetTimer2Enabled(true);
  if (completed != kEvet) dialogs_.message(msg().Opera_Error_Str, msg().Backup1_Str, ui::BoxKind::Error);
}

void BackupRun::RunDatabase(const RunEntry& entry, const std::string& folder) {
  const std::string& name = entry.DatabaseName;
  view_.SetTimer2Enabled(false);
  view_.SetLabel10(msg().Check_Bck_Str);
  Repaint();
  view_.SetLabel10(i18n::replace_placeholder(msg().Backup_To_Str, "<Database>", name));
  view_.SetLabel11(i18n::replace_placeholder(msg().Backup_To_Direct_Str, "<Directory>", folder));
  Repaint();

  if (!BackupDatabase(name, folder + BackupFileName(name))) {
    LastBackupFile.clear();
    stopped_ = last_error_ == kStoppedText;
    Log(entry, stopped_ ? RunOutcome::Stopped : RunOutcome::BackupFailed, last_error_);
    return;
  }
  LastBackupFile = BackupFileName(name);
  LogCheck(entry, "backup verified");

  bool zip_failed = false;
  if (StopRequested()) {
    // The backup is complete and in place; the archive waits for the next run.
    stopped_ = true;
    zip_failed = settings::is_true(entry.ToZip);
    zip_error_ = kStoppedText;
  } else if (settings::is_true(entry.ToZip)) {
    view_.SetLabel10(msg().Check_Zip_Str);
    Repaint();
    view_.SetLabel11(i18n::replace_placeholder(msg().Backup_To_Direct_Str, "<Directory>", folder));
    Repaint();
    zip_failed = ZipBackupFile(folder + LastBackupFile, name) != 1;
    if (!zip_failed) LogCheck(entry, "archive tested");
  }

  try {
    if (!data_.store.RecordLastBackup(name, LastBackupFile, clock_.now())) {
      Log(entry, RunOutcome::RecordFailed, "No row of Database_List is named " + name);
      return;
    }
  } catch (const std::exception& e) {
    Log(entry, RunOutcome::RecordFailed, e.what());
    throw;
  }

  if (!stopped_ && !StopRequested() && TestRestoreDue(name)) (void)TestRestoreDatabase(name);

  if (settings::is_true(entry.ToDisc)) view_.AddToDiscQueue(folder + LastBackupFile);
  if (zip_failed)
    Log(entry, RunOutcome::ZipFailed, zip_error_);
  else
    Log(entry, RunOutcome::Ok, "");
}

void BackupRun::LogCheck(const RunEntry& entry, const std::string& what) {
  // A line of its own, before the database's outcome line: not a failure (run_log.h).
  if (auto failed = log_.AppendFields(clock_.now(), {Unattended() ? "scheduled" : "by hand", entry.DatabaseName,
                                                     LastBackupFile, what, ""}))
    view_.ShowLastOutcome(entry.DatabaseName + ": " + what + " — " + *failed);
}

void BackupRun::Log(const RunEntry& entry, RunOutcome outcome, const std::string& error) {
  RunLogLine line{clock_.now(), Unattended(), entry.DatabaseName, LastBackupFile, outcome, error};
  std::string status = dal::format_date_time(line.time).substr(0, 19) + "  " + entry.DatabaseName + ": " +
                       RunOutcomeText(outcome);
  if (!error.empty()) status += " (" + error + ")";
  if (auto failed = log_.Append(line)) status += " — " + *failed;
  view_.ShowLastOutcome(status);
}

}  // namespace orv::backup
