// The archiver as orvakell-zip drives it: unattended (messages go to standard error, no
// dialogs), the engine library taken from the program's own folder, and a progress bar on
// standard error when that is a terminal.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

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
  void draw(bool final);

  orv::zip::TZipArchiver archiver_;
  std::ostream& err_;
  bool tty_ = false;
  std::string first_error_;
  std::string item_;
  int64_t total_ = 0, done_ = 0;
  int last_percent_ = -1;
};

}  // namespace orv::zipcli
