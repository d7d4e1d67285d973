// The ports of the backup run for a host without a screen (the background service): boxes go to
// the run log and standard error and are answered at once with their default, progress goes to
// standard error at most every 10 seconds, and the run's view keeps its status lines and disc
// queue in memory.
//
// Ownership: the host owns one of each for its life. Threading: the host's thread only.
// Errors: a line the run log refuses is written to standard error with the system's text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "backup/log/run_log.h"
#include "backup/run/archive_step.h"
#include "backup/run/run_view.h"
#include "core/clock.h"
#include "core/dialogs.h"

namespace orv::service {

// A monotonic "now" for throttling; tests step it by hand.
using Ticker = std::function<std::chrono::steady_clock::time_point()>;
Ticker SteadyTicker();

// Writes "orvakell-service: <text>" lines to a stream and lets a line through at most every
// `interval` per key (progress of one kind).
class ThrottledReporter {
 public:
  ThrottledReporter(std::ostream& out, Ticker ticker, std::chrono::seconds interval = std::chrono::seconds(10))
      : out_(out), ticker_(std::move(ticker)), interval_(interval) {}
  // True when the line was written.
  bool Report(const std::string& text);
  // Forgets the last line's time: the next Report goes through (a new file or step).
  void Reset() { written_ = false; }

 private:
  std::ostream& out_;
  Ticker ticker_;
  std::chrono::seconds interval_;
  bool written_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// The dialogs port without a screen: every box goes, with its caption and text, to the run log
// (how "service", outcome "box") and to `err`, and is answered with its default button (Ok; Yes
// for a Yes/No question). File and folder dialogs are cancelled. A standard error box whose text
// repeats the previous one is written once until ForgetRepeats() (a settings database or server
// that stays unreachable is reported once, not at every tick).
class LoggingDialogs final : public ui::Dialogs {
 public:
  LoggingDialogs(backup::RunLog log, const ui::Clock& clock, std::ostream& err)
      : log_(std::move(log)), clock_(clock), err_(err) {}

  ui::Answer show_box(const ui::Box& box) override;
  std::optional<std::string> open_file(const ui::FileRequest& request) override;
  std::optional<std::string> choose_folder() override;
  void beep() override {}
  void repaint() override {}
  void process_events() override {}

  // Writes one line to the run log and to `err` ("how" is "service").
  void Note(const std::string& outcome, const std::string& text);
  // Writes the error once per distinct text (key: what failed); true when written.
  bool ErrorOnce(const std::string& key, const std::string& text);
  // The condition behind `key` has cleared: the next error of that key is written again.
  void Cleared(const std::string& key);
  void ForgetRepeats() { last_standard_error_.clear(); }

  int boxes() const { return boxes_; }

 private:
  backup::RunLog log_;
  const ui::Clock& clock_;
  std::ostream& err_;
  std::string last_standard_error_;
  std::vector<std::pair<std::string, std::string>> errors_;  // key, last text written
  int boxes_ = 0;
};

// The archive step's progress window: the bar's position as a percentage on standard error, at
// most every 10 seconds.
class StderrProgressWindow final : public backup::ProgressWindow {
 public:
  explicit StderrProgressWindow(ThrottledReporter& reporter) : reporter_(reporter) {}
  void Open() override;
  bool IsOpen() const override { return open_; }
  void Close() override { open_ = false; }
  void SetMaximum(std::int64_t maximum) override { maximum_ = maximum; }
  void SetPosition(std::int64_t position) override;
  std::int64_t Maximum() const override { return maximum_; }
  std::int64_t Position() const override { return position_; }

 private:
  ThrottledReporter& reporter_;
  bool open_ = false;
  std::int64_t maximum_ = 100, position_ = 0;
};

// The run's view without a screen: the status lines go to standard error (throttled, as
// progress), the outcome of each database to standard error at once, the disc queue is kept, and
// the disc write is the host's (`start_disc`).
class ServiceRunView final : public backup::RunView {
 public:
  ServiceRunView(ThrottledReporter& reporter, std::ostream& err) : reporter_(reporter), err_(err) {}
  void SetLabel10(const std::string& text) override;
  void SetLabel11(const std::string&) override {}
  void SetTimer2Enabled(bool on) override { timer_ = on; }
  bool Timer2Enabled() const override { return timer_; }
  std::vector<int> SelectedDatabaseRows() const override { return {}; }
  void ClearDiscQueue() override { queue_.clear(); }
  void AddToDiscQueue(const std::string& path) override { queue_.push_back(path); }
  std::vector<std::string> DiscQueue() const override { return queue_; }
  void StartDiscWrite() override;
  void ShowLastOutcome(const std::string& text) override;

  std::function<void()> start_disc;  // the host's disc step; nothing when unset

 private:
  ThrottledReporter& reporter_;
  std::ostream& err_;
  bool timer_ = true;
  std::vector<std::string> queue_;
};

}  // namespace orv::service
