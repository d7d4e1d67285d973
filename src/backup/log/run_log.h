// The run log: one line per database handled by a backup run and per file of its disc step,
// appended to <configuration folder>/backup-runs.log, so an operator can see next morning what
// happened at night even when the run's boxes were closed unread.
//
// Line format (UTF-8, fields separated by a tab, one line per database or disc file):
//   YYYY-MM-DD HH:MM:SS <tab> how <tab> database <tab> file <tab> outcome <tab> error text
// how: "scheduled", "by hand" or "disc". file: the bare name recorded as the last backup ("" when
// none), or the bare name of the disc file. outcome: one of the RunOutcome texts, or a disc
// outcome (backup/disc/disc_step.h). Tabs, line breaks and backslashes inside a field are
// written as \t, \n, \r and \\, so every line stays one record.
//
// Threading: user-interface thread only. Errors: Append returns the system's text when the
// line could not be written; nothing is thrown.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dal/driver.h"

namespace orv::backup {

enum class RunOutcome {
  Ok,             // backed up (and zipped when asked) and recorded
  BackupFailed,   // the server refused the backup statement: nothing recorded, zipped or queued
  ZipFailed,      // backed up and recorded with the ".Dat" name; the archive was not made
  RecordFailed,   // backed up, but the settings database refused the record
  Stopped,        // the host stopped during the backup: its temporary file removed, nothing recorded
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
// A line of the time (whole seconds) and the given fields, escaped, without its line break.
std::string FormatLogFields(dal::DateTime time, const std::vector<std::string>& fields);
// A field with tab, CR, LF and backslash escaped.
std::string EscapeRunLogField(const std::string& text);

// True when a line of the log records a failure: a database not backed up, zipped or recorded,
// a run stopped, a test restore that did not pass, a disc write failed, refused or cancelled, a file
// left off the disc.
bool IsFailureLine(const std::string& line);
// The failure lines of `file` from byte `offset` on (complete lines only); `offset` moves past
// the lines read. A missing file gives none. With `background` only lines of scheduled runs and
// disc writes count.
std::vector<std::string> NewFailureLines(const std::filesystem::path& file, std::uintmax_t& offset,
                                         bool background);

class RunLog {
 public:
  // The log of the configuration folder.
  RunLog();
  explicit RunLog(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& file() const { return file_; }
  // Appends one line (the folder is created when missing). Returns the error text on failure.
  [[nodiscard]] std::optional<std::string> Append(const RunLogLine& line) const;
  // Appends a line of the time and the given fields (FormatLogFields).
  [[nodiscard]] std::optional<std::string> AppendFields(dal::DateTime time,
                                                        const std::vector<std::string>& fields) const;

  static constexpr const char* kFileName = "backup-runs.log";

 private:
  std::filesystem::path file_;
};

}  // namespace orv::backup
