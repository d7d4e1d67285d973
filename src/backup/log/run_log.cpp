#include "backup/log/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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

bool IsFailureLine(const std::string& line) {
  // time, how, database, file, outcome, error
  std::size_t start = 0;
  for (int field = 0; field < 4; ++field) {
    start = line.find('\t', start);
    if (start == std::string::npos) return false;
    ++start;
  }
  const std::size_t end = line.find('\t', start);
  const std::string outcome = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  for (RunOutcome o : {RunOutcome::BackupFailed, RunOutcome::ZipFailed, RunOutcome::RecordFailed, RunOutcome::Stopped})
    if (outcome == RunOutcomeText(o)) return true;
  // A test restore that did not pass (backup/run/test_restore_step.cpp).
  if (outcome == "restore test failed") return true;
  // The disc step's failure outcomes (backup/disc/disc_step.h).
  return outcome == "disc write failed" || outcome == "disc write cancelled" || outcome == "disc write refused" ||
         outcome == "left off the disc";
}

std::vector<std::string> NewFailureLines(const std::filesystem::path& file, std::uintmax_t& offset, bool background) {
  std::vector<std::string> out;
  std::ifstream in(file, std::ios::binary);
  if (!in) return out;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < static_cast<std::streamoff>(offset)) offset = 0;  // the log was replaced
  in.seekg(static_cast<std::streamoff>(offset));
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // an incomplete last line: read it next time
    offset += line.size() + 1;
    if (!IsFailureLine(line)) continue;
    if (background) {
      const std::size_t a = line.find('\t'), b = a == std::string::npos ? a : line.find('\t', a + 1);
      const std::string how = b == std::string::npos ? "" : line.substr(a + 1, b - a - 1);
      if (how != "scheduled" && how != "disc") continue;
    }
    out.push_back(line);
  }
  return out;
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
