// Progress of a long write on a terminal: one line, redrawn in place, with the share done,
// the rate in MB/s and the time left ("  45%   12.3 MB/s   0:42 left"). Nothing is drawn in
// the first two seconds of the work, nor at all when the stream is not a terminal, so scripts
// and logs see the program's plain output only.
// Threading: one thread calls Update and Finish.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace orv::tools {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // terminal: whether `to` writes to a terminal (see TerminalStderr).
  ProgressLine(std::ostream& to, bool terminal, int64_t total_bytes, Clock::time_point start = Clock::now());
  // Redraws the line (at most four times a second) once two seconds have passed.
  void Update(int64_t done_bytes, Clock::time_point now = Clock::now());
  // Clears the line if one was drawn.
  void Finish();
  bool Shown() const { return shown_; }

  // The text of the line after `seconds` of work; pure.
  static std::string Text(int64_t done_bytes, int64_t total_bytes, double seconds);

 private:
  std::ostream& to_;
  bool terminal_;
  int64_t total_;
  Clock::time_point start_;
  Clock::time_point last_{};
  bool shown_ = false;
  size_t width_ = 0;
};

// True when `stream` is std::cerr and standard error is a terminal.
bool TerminalStderr(const std::ostream& stream);

}  // namespace orv::tools
