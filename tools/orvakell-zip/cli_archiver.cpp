#include "cli_archiver.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "zip/messages/message_ids.h"

namespace orv::zipcli {

namespace {

std::string program_folder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string plain(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

}  // namespace

CliArchiver::CliArchiver(std::ostream& err) : err_(err), tty_(::isatty(STDERR_FILENO) == 1) {
  using namespace orv::zip;
  archiver_.Unattended = true;
  archiver_.DLLDirectory = program_folder();
  archiver_.OnMessage = [this](TZipArchiver*, int code, const std::string& text) {
    // Notices without a code, and the unattended-extract note (there are no passwords
    // here), are not worth a line.
    if (code == 0 || text.empty() || code == orv::zip::msg::UnattendedExtractWarning) return;
    if (tty_ && last_percent_ >= 0) err_ << "\n";
    last_percent_ = -1;
    err_ << "orvakell-zip: " << plain(text) << "\n";
    if (first_error_.empty()) first_error_ = plain(text);
  };
  archiver_.OnProgress = [this](TZipArchiver*, ProgressType type, const std::string& name, int64_t size) {
    switch (type) {
      case ProgressType::TotalSize2Process:
        total_ = size;
        done_ = 0;
        break;
      case ProgressType::NewFile:
        item_ = name;
        draw(false);
        break;
      case ProgressType::ProgressUpdate:
        done_ += size;
        draw(false);
        break;
      case ProgressType::EndOfBatch:
        if (total_ > 0) draw(true);
        break;
      default:
        break;
    }
  };
}

CliArchiver::~CliArchiver() = default;

void CliArchiver::draw(bool final) {
  if (!tty_) return;
  const int percent = total_ > 0 ? static_cast<int>(done_ * 100 / total_) : 100;
  if (percent == last_percent_ && !final) return;
  last_percent_ = percent;
  const int width = 30, filled = percent * width / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(width, ' ');
  char line[64];
  std::snprintf(line, sizeof line, "\r[%s] %3d%% ", bar.c_str(), percent);
  err_ << line << item_.substr(0, 40) << "\033[K";
  if (final) {
    err_ << "\n";
    last_percent_ = -1;
  }
  err_.flush();
}

}  // namespace orv::zipcli
