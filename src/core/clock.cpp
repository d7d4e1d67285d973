#include "core/clock.h"

#include <chrono>
#include <ctime>

#include "platform/civil_date.h"

namespace orv::ui {

dal::DateTime SystemClock::now() const {
  const auto tp = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(tp);
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  const long long date =
      platform::days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) - platform::kStoredDateEpoch;
  const long long time_ms = ((tm.tm_hour * 60LL + tm.tm_min) * 60LL + tm.tm_sec) * 1000LL + ms;
  return dal::DateTime{static_cast<double>(date) + static_cast<double>(time_ms) / 86400000.0};
}

}  // namespace orv::ui
