#include "burner/datetime.h"

#include <cmath>
#include <cstdio>

namespace orv::burner {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);  // day 0 of TDateTime
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
  CivilFromDays(days + kEpochDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  ms %= 3600000;
  p.Minute = static_cast<int>(ms / 60000);
  ms %= 60000;
  p.Second = static_cast<int>(ms / 1000);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime EncodeDateTime(const TDateParts& p) {
  const int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) - kEpochDays;
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

int8_t StandardZoneOffset15() {
  tzset();
  const long bias_minutes = timezone / 60;  // minutes west of Greenwich, standard time
  return static_cast<int8_t>(-bias_minutes / 15);
}

std::string FormatDescriptorDate(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", p.Year % 10000, p.Month, p.Day, p.Hour,
                p.Minute, p.Second, p.MilliSecond);
  return text;
}

}  // namespace orv::burner
