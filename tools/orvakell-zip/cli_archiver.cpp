#include "cli_archiver.h"

#include <unistd.h>

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

CliArchiver::CliArchiver(std::ostream& err) : err_(err), tty_(orv::tools::TerminalStderr(err)) {
  using namespace orv::zip;
  archiver_.Unattended = true;
  archiver_.DLLDirectory = program_folder();
  archiver_.OnMessage = [this](TZipArchiver*, int code, const std::string& text) {
    // Notices without a code, and the unattended-extract note (there are no passwords
    // here), are not worth a line.
    if (code == 0 || text.empty() || code == orv::zip::msg::UnattendedExtractWarning) return;
    if (line_) line_->Finish();  // the message gets a line of its own; the next update redraws
    err_ << "orvakell-zip: " << plain(text) << "\n";
    if (first_error_.empty()) first_error_ = plain(text);
  };
  archiver_.OnProgress = [this](TZipArchiver*, ProgressType type, const std::string&, int64_t size) {
    switch (type) {
      case ProgressType::TotalSize2Process:
        done_ = 0;
        line_ = std::make_unique<orv::tools::ProgressLine>(err_, tty_, size);
        break;
      case ProgressType::ProgressUpdate:
        done_ += size;
        if (line_) line_->Update(done_);
        break;
      case ProgressType::EndOfBatch:
        if (line_) line_->Finish();
        break;
      default:
        break;
    }
  };
}

CliArchiver::~CliArchiver() {
  if (line_) line_->Finish();
}

}  // namespace orv::zipcli
