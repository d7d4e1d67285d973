// The clock port: the local date and time as the operations read it. The scheduler, the backup
// record and the volume label take "now" from here, never from the system directly, so a test
// sets the time (FixedClock) and runs the real handler.
//
// Values are the data-access layer's date-times (dal::DateTime: days since 1899-12-30, the
// fraction the time of day; dal/datetime.h converts them to parts and text).
// Threading: safe to read from any thread; FixedClock's setters belong to the test's thread.
#pragma once

#include <atomic>

#include "dal/driver.h"

namespace orv::ui {

class Clock {
 public:
  virtual ~Clock() = default;
  // The local date and time now.
  virtual dal::DateTime now() const = 0;
};

// The machine's local time.
class SystemClock final : public Clock {
 public:
  dal::DateTime now() const override;
};

// A clock that shows what the test sets.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(dal::DateTime at = {}) { set(at); }
  void set(dal::DateTime at) { days_.store(at.days); }
  void advance_seconds(double seconds) { days_.store(days_.load() + seconds / 86400.0); }
  dal::DateTime now() const override { return dal::DateTime{days_.load()}; }

 private:
  std::atomic<double> days_{0};
};

}  // namespace orv::ui
