// The weekly scheduler's tick (Timer2Timer).
//
// Each tick runs the rows due in its minute (the five-line schedule query for that minute's
// weekday), and also the rows of minutes that had no tick since the previous one — minutes that
// passed while a run, or a box of a run waiting for the operator, held the user-interface
// thread, or while the timer was off — up to one day back. A database already run for its row
// in the current minute is not run again by a second tick in that minute.
#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

#include "backup/run/run.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/schedule.h"

namespace orv::backup {

namespace {

constexpr long long kMinutesPerDay = 24 * 60;

// The minute of a time: day number × 1440 + hour × 60 + minute.
long long MinuteOf(dal::DateTime t) {
  const dal::DateTimeParts p = dal::decode_date_time(t);
  const long long day = std::llround(dal::encode_date_time({p.year, p.month, p.day, 0, 0, 0, 0}).days);
  return day * kMinutesPerDay + p.hour * 60 + p.minute;
}

// Half past the start of the minute: a time inside it, far from either end.
dal::DateTime TimeInMinute(long long minute) { return dal::DateTime{(static_cast<double>(minute) + 0.5) / kMinutesPerDay}; }

}  // namespace

std::vector<RunEntry> BackupRun::DueInMinute(long long minute) {
  const dal::DateTime when = TimeInMinute(minute);
  // Time() in the query reads the scheduler's clock: here, the minute asked for; afterwards the
  // run's clock again.
  struct ClockGuard {
    ui::Clock* clock;
    ~ClockGuard() {
      ui::Clock* c = clock;
      dal::set_sqlite_clock([c] { return c->now(); });
    }
  } guard{&clock_};
  dal::set_sqlite_clock([when] { return when; });
  const int day_index = dal::day_of_week(when);
  settings::open_schedule_query(data_.ADOQueryZamanlama, day_index);
  const settings::DayColumns& day = settings::day_columns(day_index);
  dal::Query& query = data_.ADOQueryZamanlama;
  std::vector<RunEntry> due;
  for (query.first(); !query.eof(); query.next())
    due.push_back(RunEntry{query.field("Veri_Tabani_Adi").as_string(), query.field(day.disc).as_string(),
                           query.field(day.zip).as_string()});
  if (!query.empty()) query.first();
  return due;
}

void BackupRun::Timer2Timer() {
  if (running_) {
    // A run is in progress (a run by hand waiting at its question or a box): the tick runs once
    // that run has ended, so the two never share the run list.
    tick_deferred_ = true;
    return;
  }
  try {
    data_.store.PostPendingSystemEdit();
    view_.SetTimer2Enabled(false);
    const long long now = MinuteOf(clock_.now());
    if (now != ran_minute_) ran_in_minute_.clear();

    // Minutes without a tick first, then this one; a database once, with the flags of its
    // earliest due row.
    std::vector<RunEntry> due;
    std::set<std::string> names(ran_in_minute_.begin(), ran_in_minute_.end());
    const long long first = last_tick_minute_ < 0 ? now : std::max(last_tick_minute_ + 1, now - kMinutesPerDay);
    for (long long minute = std::min(first, now); minute <= now; ++minute)
      for (RunEntry& entry : DueInMinute(minute))
        if (names.insert(entry.DatabaseName).second) due.push_back(std::move(entry));
    last_tick_minute_ = std::max(last_tick_minute_, now);

    if (due.empty()) {
      view_.SetTimer2Enabled(true);
      return;
    }
    ran_minute_ = now;
    for (const RunEntry& entry : due) ran_in_minute_.push_back(entry.DatabaseName);
    data_.UnattendedRun = kEvet;
    try {
      RunList = std::move(due);
      Run(/*list_ready=*/true);
    } catch (...) {
      data_.UnattendedRun = kHayir;
      throw;
    }
    data_.UnattendedRun = kHayir;
    // The timer was off during the run, so no tick can have waited; a tick now would find
    // the same rows of this minute again.
    tick_deferred_ = false;
  } catch (const std::exception& e) {
    dialogs_.standard_error(e.what());
  }
}

}  // namespace orv::backup
