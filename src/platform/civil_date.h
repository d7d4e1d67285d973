// Civil (proleptic Gregorian) dates as day numbers counted from 1970-01-01, and the day number of
// 1899-12-30, day 0 of the date-time values the tool stores (whole days before the point,
// the time of day after it). Header only: every layer that turns dates into day numbers uses
// these, whatever it links.
#pragma once

namespace orv::platform {

// Days from 1970-01-01 of a date (H. Hinnant's algorithm). Linear in `day`, so a day past the
// end of its month counts on into the next.
constexpr long long days_from_civil(long long year, long long month, long long day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yoe = year - era * 400;
  const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct CivilDate {
  long long year;
  int month;  // 1..12
  int day;    // 1..31
};

// The date of a day number from 1970-01-01.
constexpr CivilDate civil_from_days(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2), month, day};
}

// 1899-12-30 as a day number from 1970-01-01 (-25569).
inline constexpr long long kStoredDateEpoch = days_from_civil(1899, 12, 30);
static_assert(kStoredDateEpoch == -25569);
static_assert(civil_from_days(kStoredDateEpoch).year == 1899 && civil_from_days(-1).day == 31);

}  // namespace orv::platform
