// The archiver as orvakell-zip drives it: unattended (messages go to standard error, no
// dialogs), the engine library taken from the program's own folder, and the progress line of
// orvakell-burn (share done, MB/s, time left) on standard error when that is a terminal and the
// work lasts longer than two seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "progress.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::zipcli {

class CliArchiver {
 public:
  explicit CliArchiver(std::ostream& err);
  ~CliArchiver();

  orv::zip::TZipArchiver& archiver() { return archiver_; }
  // True when the archiver recorded an error (shown, or reported by the library).
  bool failed() const { return archiver_.ErrCode() != 0; }
  const std::string& first_error() const { return first_error_; }

 private:
  orv::zip::TZipArchiver archiver_;
  std::ostream& err_;
  bool tty_ = false;
  std::string first_error_;
  int64_t done_ = 0;
  std::unique_ptr<orv::tools::ProgressLine> line_;
};

}  // namespace orv::zipcli
