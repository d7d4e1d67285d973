// The test restore of a run and of the grid's "Verify by restoring": which backup it reads, when
// it is due, and where its outcome goes.
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "backup/restore/restore_database.h"
#include "backup/restore/test_restore.h"
#include "backup/run/run.h"
#include "backup/run/scoped_flag.h"
#include "dal/datetime.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"

namespace orv::backup {

namespace fs = std::filesystem;

namespace {

// Removes a folder and what it holds when the scope ends.
class FolderGuard {
 public:
  explicit FolderGuard(fs::path folder) : folder_(std::move(folder)) {}
  ~FolderGuard() {
    std::error_code ec;
    fs::remove_all(folder_, ec);  // what stays is swept by the next run (SweepOrphans)
  }
  FolderGuard(const FolderGuard&) = delete;
  FolderGuard& operator=(const FolderGuard&) = delete;

 private:
  fs::path folder_;
};

}  // namespace

bool BackupRun::TestRestoreDue(const std::string& name) {
  dal::Table& t = data_.ADOTableDatabase;
  const dal::Field* choice = t.find_field("Test_Restore");
  if (choice == nullptr || !t.locate("Veri_Tabani_Adi", name)) return false;
  const std::string value = choice->as_string();
  if (value == settings::kTestRestoreAlways) return true;
  if (value != settings::kTestRestoreWeekly) return false;
  const dal::Field* last = t.find_field("Verified_Tarih");
  return last == nullptr || last->is_null() || clock_.now().days - last->as_date_time().days >= 7.0;
}

std::string BackupRun::TestRestoreSource(const std::string& name, const fs::path& folder, std::string& error) {
  const std::string working = WorkingFolderText();
  std::error_code ec;
  const fs::path backup = working + BackupFileName(name);
  if (fs::is_regular_file(backup, ec)) return backup.string();
  const fs::path archive = working + ArchiveFileName(name);
  if (!fs::is_regular_file(archive, ec)) {
    error = "No backup file: neither " + backup.string() + " nor " + archive.string() + " exists";
    return "";
  }
  fs::remove_all(folder, ec);
  if (!fs::create_directory(folder, ec)) {
    error = "Cannot create " + folder.string() + ": " + ec.message();
    return "";
  }
  progress_.Open();
  std::string entry;
  try {
    entry = ExtractOnlyEntry(archiver_, archive.string(), folder.string(), {}, error);
  } catch (...) {
    if (progress_.IsOpen()) progress_.Close();
    throw;
  }
  if (progress_.IsOpen()) progress_.Close();
  return entry;
}

bool BackupRun::TestRestoreDatabase(const std::string& name, std::string* error) {
  const fs::path folder = WorkingFolderText() + TemporaryExtractFolderName(name);
  FolderGuard extraction(folder);
  TestRestoreOutcome outcome;
  const std::string source = TestRestoreSource(name, folder, outcome.error);
  if (!source.empty()) outcome = TestRestore(data_.ADOQuerySQLBackup, name, source);
  const std::string shown = source.empty() ? BackupFileName(name) : fs::path(source).filename().string();

  const dal::DateTime now = clock_.now();
  const std::string what = outcome.passed ? "restore test passed" : "restore test failed";
  const std::string line = name + ": " + what + (outcome.error.empty() ? "" : " (" + outcome.error + ")");
  view_.SetLabel11(line);
  if (auto failed = log_.AppendFields(now, {Unattended() ? "scheduled" : "by hand", name, shown, what, outcome.error}))
    view_.ShowLastOutcome(name + ": " + what + " — " + *failed);
  else
    view_.ShowLastOutcome(line);
  dal::Table& t = data_.ADOTableDatabase;
  if (t.find_field("Verified") != nullptr && t.locate("Veri_Tabani_Adi", name)) {
    t.edit();
    try {
      t.field("Verified").set_string(std::string(outcome.passed ? "passed " : "failed ") +
                                     dal::format_date_time(now).substr(0, 16));
      t.field("Verified_Tarih").set_date_time(now);
      t.post();
    } catch (...) {
      t.cancel();
      throw;
    }
  }
  if (error != nullptr) *error = outcome.error;
  return outcome.passed;
}

void BackupRun::VerifyByRestoring() {
  if (running_) {
    dialogs_.beep();
    return;
  }
  {
    ScopedFlag running(running_);
    try {
      dal::Table& list = data_.ADOTableDatabase;
      std::vector<std::string> names;
      std::vector<int> rows = view_.SelectedDatabaseRows();
      if (rows.empty() && list.active() && !list.empty()) rows.push_back(list.current_index());
      for (int row : rows) {
        list.move_to(row);
        names.push_back(list.field("Veri_Tabani_Adi").as_string());
      }
      std::string report;
      bool all_passed = true;
      for (const std::string& name : names) {
        if (name.empty()) continue;
        view_.SetLabel10(name);
        Repaint();
        std::string error;
        const bool passed = TestRestoreDatabase(name, &error);
        all_passed = all_passed && passed;
        if (!report.empty()) report += "\n";
        report += name + ": " + (passed ? "restore test passed" : "restore test failed");
        if (!passed) report += " (" + error + ")";
      }
      view_.SetLabel10("");
      if (!report.empty())
        dialogs_.message(report, ui::Dialogs::kApplicationTitle, all_passed ? ui::BoxKind::Information : ui::BoxKind::Error);
    } catch (const std::exception& e) {
      dialogs_.standard_error(e.what());
    }
  }
  if (tick_deferred_) {
    tick_deferred_ = false;
    Timer2Timer();
  }
}

}  // namespace orv::backup
