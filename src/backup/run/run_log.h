// The run log: one line per database handled by a backup run, appended to
// <configuration folder>/backup-runs.log, so an operator can see next morning what happened at
// night even when the run's boxes were closed unread.
//
// Line format (UTF-8, fields separated by a tab, one line per database):
//   YYYY-MM-DD HH:MM:SS <tab> how <tab> database <tab> file <tab> outcome <tab> error text
// how: "scheduled" or "by hand". file: the bare name recorded as the last backup ("" when none).
// outcome: one of the RunOutcome texts. Tabs, line breaks and backslashes inside a field are
// written as \t, \n, \r and \\, so every line stays one record.
//
// Threading: user-interface thread only. Errors: Append returns the system's text when the
// line could not be written; nothing is thrown.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "settings/dal/driver.h"

namespace orv::backup {

enum class RunOutcome {
  Ok,             // backed up (and zipped when asked) and recorded
  BackupFailed,   // the server refused the backup statement: nothing recorded, zipped or queued
  ZipFailed,      // backed up and recorded with the ".Dat" name; the archive was not made
  RecordFailed,   // backed up, but the settings database refused the record
};
const char* RunOutcomeText(RunOutcome outcome);

struct RunLogLine {
  dal::DateTime time;
  bool scheduled = false;
  std::string database;
  std::string file;
  RunOutcome outcome = RunOutcome::Ok;
  std::string error;
};

// The line as written, without its line break.
std::string FormatRunLogLine(const RunLogLine& line);
// A field with tab, CR, LF and backslash escaped.
std::string EscapeRunLogField(const std::string& text);

class RunLog {
 public:
  // The log of the configuration folder.
  RunLog();
  explicit RunLog(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& file() const { return file_; }
  // Appends one line (the folder is created when missing). Returns the error text on failure.
  [[nodiscard]] std::optional<std::string> Append(const RunLogLine& line) const;

  static constexpr const char* kFileName = "backup-runs.log";

 private:
  std::filesystem::path file_;
};

}  // namespace orv::backup
