#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace orv::tools {

namespace {
constexpr auto kQuietStart = std::chrono::seconds(2);
constexpr auto kRedraw = std::chrono::milliseconds(250);
}  // namespace

ProgressLine::ProgressLine(std::ostream& to, bool terminal, int64_t total_bytes, Clock::time_point start)
    : to_(to), terminal_(terminal), total_(total_bytes), start_(start) {}

std::string ProgressLine::Text(int64_t done_bytes, int64_t total_bytes, double seconds) {
  const double done = static_cast<double>(std::max<int64_t>(done_bytes, 0));
  const double total = static_cast<double>(std::max<int64_t>(total_bytes, 1));
  const int percent = static_cast<int>(std::min(100.0, done * 100.0 / total));
  const double rate = seconds > 0 ? done / seconds : 0;  // bytes per second
  char text[96];
  if (rate <= 0) {
    std::snprintf(text, sizeof text, "%4d%%   --.- MB/s   -:-- left", percent);
    return text;
  }
  const auto left = static_cast<long long>(std::max(0.0, (total - done) / rate) + 0.5);
  if (left >= 3600)
    std::snprintf(text, sizeof text, "%4d%% %6.1f MB/s %lld:%02lld:%02lld left", percent, rate / 1e6, left / 3600,
                  left / 60 % 60, left % 60);
  else
    std::snprintf(text, sizeof text, "%4d%% %6.1f MB/s %4lld:%02lld left", percent, rate / 1e6, left / 60, left % 60);
  return text;
}

void ProgressLine::Update(int64_t done_bytes, Clock::time_point now) {
  if (!terminal_ || now - start_ < kQuietStart) return;
  if (shown_ && now - last_ < kRedraw) return;
  last_ = now;
  const std::string line = Text(done_bytes, total_, std::chrono::duration<double>(now - start_).count());
  to_ << '\r' << line;
  if (line.size() < width_) to_ << std::string(width_ - line.size(), ' ');
  to_.flush();
  width_ = std::max(width_, line.size());
  shown_ = true;
}

void ProgressLine::Finish() {
  if (!shown_) return;
  to_ << '\r' << std::string(width_, ' ') << '\r';
  to_.flush();
  shown_ = false;
}

bool TerminalStderr(const std::ostream& stream) { return &stream == &std::cerr && ::isatty(STDERR_FILENO) == 1; }

}  // namespace orv::tools
