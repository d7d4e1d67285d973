#include "app/ports/clock.h"

#include <chrono>
#include <ctime>

namespace orv::ui {

namespace {

// Days between 1970-01-01 and a civil date (proleptic Gregorian).
long long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr long long kDaysFrom1899To1970 = 25569;

}  // namespace

dal::DateTime SystemClock::now() const {
  const auto tp = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(tp);
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  const long long date = days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + kDaysFrom1899To1970;
  const long long time_ms = ((tm.tm_hour * 60LL + tm.tm_min) * 60LL + tm.tm_sec) * 1000LL + ms;
  return dal::DateTime{static_cast<double>(date) + static_cast<double>(time_ms) / 86400000.0};
}

}  // namespace orv::ui
