// The weekly scheduler's tick (Timer2Timer).
#include <stdexcept>

#include "backup/run/run.h"
#include "settings/dal/datetime.h"
#include "settings/dal/sqlite_driver.h"
#include "settings/store/schedule.h"

namespace orv::backup {

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
    // Time() in the query is the scheduler's clock, so the minute compared is the one of "now".
    ui::Clock* clock = &clock_;
    dal::set_sqlite_clock([clock] { return clock->now(); });
    settings::open_schedule_query(data_.ADOQueryZamanlama, dal::day_of_week(clock_.now()));
    if (data_.ADOQueryZamanlama.empty()) {
      view_.SetTimer2Enabled(true);
      return;
    }
    data_.UnattendedRun = kEvet;
    try {
      Run();
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
