#include "burner/datetime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/civil_date.h"

namespace orv::burner {
namespace {

constexpr int64_t kEpochDays = platform::kStoredDateEpoch;  // day 0 of TDateTime
constexpr int64_t kMsPerDay = 86400000;

TDateTime FromTm(const std::tm& t, int ms) {
  TDateParts p;
  p.Year = t.tm_year + 1900;
  p.Month = t.tm_mon + 1;
  p.Day = t.tm_mday;
  p.Hour = t.tm_hour;
  p.Minute = t.tm_min;
  p.Second = t.tm_sec > 59 ? 59 : t.tm_sec;
  p.MilliSecond = ms;
  return EncodeDateTime(p);
}

}  // namespace

TDateParts DecodeDateTime(TDateTime value) {
  if (!(value > 0)) value = 0;
  const int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  const int64_t days = total / kMsPerDay;
  int64_t ms = total % kMsPerDay;
  TDateParts p;
  const platform::CivilDate date = platform::civil_from_days(days + kEpochDays);
  p.Year = static_cast<int>(date.year);
  p.Month = date.month;
  p.Day = date.day;
  p.Hour = static_cast<int>(ms / 3600000);
  ms %= 3600000;
  p.Minute = static_cast<int>(ms / 60000);
  ms %= 60000;
  p.Second = static_cast<int>(ms / 1000);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime EncodeDateTime(const TDateParts& p) {
  const int64_t days = platform::days_from_civil(p.Year, p.Month, p.Day) - kEpochDays;
  const int64_t ms = ((static_cast<int64_t>(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MilliSecond;
  return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm t{};
  localtime_r(&ts.tv_sec, &t);
  return FromTm(t, static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime FileTimeToDateTime(std::time_t seconds) {
  std::tm t{};
  localtime_r(&seconds, &t);
  if (t.tm_year < 80) {
    t = std::tm{};
    t.tm_year = 80;
    t.tm_mday = 1;
  } else if (t.tm_year > 207) {
    t = std::tm{};
    t.tm_year = 207;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 58;
  }
  t.tm_sec -= t.tm_sec % 2;
  return FromTm(t, 0);
}

int8_t ZoneOffset15At(TDateTime local) {
  const TDateParts p = DecodeDateTime(local);
  std::tm t{};
  t.tm_year = p.Year - 1900;
  t.tm_mon = p.Month - 1;
  t.tm_mday = p.Day;
  t.tm_hour = p.Hour;
  t.tm_min = p.Minute;
  t.tm_sec = p.Second;
  t.tm_isdst = -1;  // let the zone rules say whether summer time was in force
  (void)mktime(&t);  // fills tm_gmtoff; a time outside time_t keeps the zone's offset of 0
  const long quarters = t.tm_gmtoff / (15 * 60);
  return static_cast<int8_t>(std::clamp(quarters, -48L, 52L));
}

std::string FormatDescriptorDate(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", p.Year % 10000, p.Month, p.Day, p.Hour,
                p.Minute, p.Second, p.MilliSecond);
  return text;
}

}  // namespace orv::burner
