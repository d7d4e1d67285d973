#include "backup/log/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"
#include "dal/datetime.h"

namespace orv::backup {

const char* RunOutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Ok: return "backed up";
    case RunOutcome::BackupFailed: return "backup failed";
    case RunOutcome::ZipFailed: return "zip failed";
    case RunOutcome::RecordFailed: return "record failed";
    case RunOutcome::Stopped: return "stopped";
  }
  return "?";
}

std::string EscapeRunLogField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

std::vector<std::string> Fields(const RunLogLine& line) {
  return {line.scheduled ? "scheduled" : "by hand", line.database, line.file, RunOutcomeText(line.outcome),
          line.error};
}

}  // namespace

std::string FormatLogFields(dal::DateTime time, const std::vector<std::string>& fields) {
  // Whole seconds: the log reads like a clock, not like a stored value.
  dal::DateTimeParts p = dal::decode_date_time(time);
  p.millisecond = 0;
  std::string out = dal::format_date_time(dal::encode_date_time(p));
  for (const std::string& field : fields) {
    out += '\t';
    out += EscapeRunLogField(field);
  }
  return out;
}

std::string FormatRunLogLine(const RunLogLine& line) {
  return FormatLogFields(line.time, Fields(line));
}

RunLog::RunLog() : file_(platform::config_folder() / kFileName) {}

std::optional<std::string> RunLog::Append(const RunLogLine& line) const {
  return AppendFields(line.time, Fields(line));
}

std::optional<std::string> RunLog::AppendFields(dal::DateTime time, const std::vector<std::string>& fields) const {
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  if (ec) return "Run log " + file_.string() + ": " + ec.message();
  const std::string text = FormatLogFields(time, fields) + "\n";
  // One write with O_APPEND: lines of two processes never interleave.
  const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return "Run log " + file_.string() + ": " + std::strerror(errno);
  const ssize_t written = ::write(fd, text.data(), text.size());
  const int write_errno = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(text.size()))
    return "Run log " + file_.string() + ": " + (written < 0 ? std::strerror(write_errno) : "short write");
  return std::nullopt;
}

}  // namespace orv::backup
