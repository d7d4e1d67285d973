// The weekly scheduler's tick (Timer2Timer).
//
// Each tick runs the rows due in its minute (the five-line schedule query for that minute's
// weekday), and also the rows of minutes that had no tick since the previous one — minutes that
// passed while a run, or a box of a run waiting for the operator, held the user-interface
// thread, or while the timer was off — up to one day back. A database already run for its row
// in the current minute is not run again by a second tick in that minute.
//
// At the start of a scheduler (window or service) the rows that fell due within the last day
// while none ran, and were not backed up since, run once (CatchUpMissedRuns); the first tick
// then starts after the start minute.
#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <stdexcept>
#include <variant>

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

// A stored date-time of any of the forms the settings provider gives; nullopt for null.
std::optional<dal::DateTime> StoredTime(const dal::Value& v) {
  if (const auto* t = std::get_if<dal::DateTime>(&v)) return *t;
  if (const auto* d = std::get_if<double>(&v)) return dal::DateTime{*d};
  if (const auto* s = std::get_if<std::string>(&v)) return dal::parse_date_time(*s);
  return std::nullopt;
}

}  // namespace

std::vector<std::string> BackupRun::CatchUpMissedRuns() {
  std::vector<std::string> ran;
  if (running_) return ran;
  try {
    data_.store.PostPendingSystemEdit();
    const long long now = MinuteOf(clock_.now());
    const long long today = now / kMinutesPerDay;
    dal::Table& t = data_.ADOTableDatabase;
    const int name_col = t.field("Veri_Tabani_Adi").index();
    const int last_col = t.field("Son_Yedek_Tarih").index();
    struct Missed {
      RunEntry entry;
      long long minute;
    };
    std::vector<Missed> missed;
    for (int row = 0; row < t.record_count(); ++row) {
      const std::string name = t.text_at(row, name_col);
      if (name.empty()) continue;
      const std::optional<dal::DateTime> last = StoredTime(t.value_at(row, last_col));
      std::optional<Missed> latest;
      for (long long day : {today - 1, today}) {
        const settings::DayColumns& d = settings::day_columns(dal::day_of_week(TimeInMinute(day * kMinutesPerDay)));
        if (!settings::is_true(t.text_at(row, t.field(d.flag).index()))) continue;
        const std::optional<dal::DateTime> at = StoredTime(t.value_at(row, t.field(d.time).index()));
        if (!at) continue;
        const long long minute = day * kMinutesPerDay + dal::hour_of(*at) * 60 + dal::minute_of(*at);
        if (minute > now || minute <= now - kMinutesPerDay) continue;
        // Backed up at or after the minute it fell due: not missed.
        if (last && MinuteOf(*last) >= minute) continue;
        if (!latest || minute > latest->minute)
          latest = Missed{RunEntry{name, t.text_at(row, t.field(d.disc).index()), t.text_at(row, t.field(d.zip).index())},
                          minute};
      }
      if (latest) missed.push_back(std::move(*latest));
    }
    last_tick_minute_ = std::max(last_tick_minute_, now);
    ran_minute_ = now;
    ran_in_minute_.clear();
    if (missed.empty()) return ran;
    std::sort(missed.begin(), missed.end(), [](const Missed& a, const Missed& b) { return a.minute < b.minute; });
    std::vector<RunEntry> list;
    for (Missed& m : missed) {
      const std::string due = dal::format_date_time(TimeInMinute(m.minute)).substr(0, 16);
      if (auto failed = log_.AppendFields(clock_.now(), {"scheduled", m.entry.DatabaseName, "", "missed",
                                                         "due at " + due + ", caught up now"}))
        view_.ShowLastOutcome(*failed);
      ran.push_back(m.entry.DatabaseName);
      ran_in_minute_.push_back(m.entry.DatabaseName);
      list.push_back(std::move(m.entry));
    }
    RunScheduled(std::move(list));
  } catch (const std::exception& e) {
    dialogs_.standard_error(e.what());
  }
  return ran;
}

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
    RunScheduled(std::move(due));
  } catch (const std::exception& e) {
    dialogs_.standard_error(e.what());
  }
}

void BackupRun::RunScheduled(std::vector<RunEntry> list) {
  data_.UnattendedRun = kEvet;
  try {
    RunList = std::move(list);
    Run(/*list_ready=*/true);
  } catch (...) {
    data_.UnattendedRun = kHayir;
    throw;
  }
  data_.UnattendedRun = kHayir;
  // The timer was off during the run, so no tick can have waited; a tick now would find the
  // same rows again.
  tick_deferred_ = false;
}

}  // namespace orv::backup
