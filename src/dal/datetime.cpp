#include "dal/datetime.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "platform/civil_date.h"

namespace orv::dal {

namespace {

constexpr long long kMsPerDay = 86400000;

constexpr long long kEpoch = platform::kStoredDateEpoch;

// Splits a value into a whole day number and the milliseconds of its time of day.
void split(DateTime value, long long& day, long long& ms) {
  double whole = std::trunc(value.days);
  double fraction = std::fabs(value.days - whole);
  day = static_cast<long long>(whole);
  ms = std::llround(fraction * kMsPerDay);
  if (ms >= kMsPerDay) {  // rounding reached the next midnight
    ms = 0;
    day += 1;
  }
}

DateTime join(long long day, long long ms) {
  double fraction = static_cast<double>(ms) / kMsPerDay;
  return DateTime{day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction};
}

bool read_int(std::string_view& s, int digits_min, int digits_max, int& out) {
  int n = 0, v = 0;
  while (n < static_cast<int>(s.size()) && n < digits_max && s[n] >= '0' && s[n] <= '9') {
    v = v * 10 + (s[n] - '0');
    ++n;
  }
  if (n < digits_min) return false;
  s.remove_prefix(n);
  out = v;
  return true;
}

bool eat(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

// "HH:MM[:SS[.mmm]]" at the start of s.
bool read_time(std::string_view& s, int& h, int& mi, int& sec, int& ms) {
  sec = ms = 0;
  if (!read_int(s, 1, 2, h) || !eat(s, ':') || !read_int(s, 2, 2, mi)) return false;
  if (eat(s, ':')) {
    if (!read_int(s, 2, 2, sec)) return false;
    if (eat(s, '.')) {
      std::string_view before = s;
      int frac = 0;
      if (!read_int(s, 1, 3, frac)) return false;
      int digits = static_cast<int>(before.size() - s.size());
      for (int i = digits; i < 3; ++i) frac *= 10;
      ms = frac;
      while (!s.empty() && s.front() >= '0' && s.front() <= '9') s.remove_prefix(1);
    }
  }
  return h < 24 && mi < 60 && sec < 60;
}

}  // namespace

DateTime encode_date_time(const DateTimeParts& p) {
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
    throw std::out_of_range("date or time part out of range");
  long long day = platform::days_from_civil(p.year, p.month, p.day) - kEpoch;
  if (platform::civil_from_days(day + kEpoch).day != p.day) throw std::out_of_range("day out of range for its month");
  long long ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  return join(day, ms);
}

DateTime encode_time(int hour, int minute, int second, int millisecond) {
  return encode_date_time(DateTimeParts{1899, 12, 30, hour, minute, second, millisecond});
}

DateTimeParts decode_date_time(DateTime value) {
  long long day, ms;
  split(value, day, ms);
  DateTimeParts p;
  const platform::CivilDate date = platform::civil_from_days(day + kEpoch);
  p.year = static_cast<int>(date.year);
  p.month = date.month;
  p.day = date.day;
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

long long time_of_day_ms(DateTime value) {
  long long day, ms;
  split(value, day, ms);
  return ms;
}

int hour_of(DateTime value) { return static_cast<int>(time_of_day_ms(value) / 3600000); }
int minute_of(DateTime value) { return static_cast<int>(time_of_day_ms(value) / 60000 % 60); }

DateTime date_part(DateTime value) {
  long long day, ms;
  split(value, day, ms);
  return DateTime{static_cast<double>(day)};
}

DateTime time_part(DateTime value) { return join(0, time_of_day_ms(value)); }

int day_of_week(DateTime value) {
  long long day, ms;
  split(value, day, ms);
  // Day 0, 1899-12-30, was a Saturday (7).
  return static_cast<int>(((day % 7 + 7) % 7 + 6) % 7 + 1);
}

std::string format_date_time(DateTime value) {
  DateTimeParts p = decode_date_time(value);
  char buf[64];
  long long day, ms;
  split(value, day, ms);
  int n = 0;
  if (day != 0) n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d ", p.year, p.month, p.day);
  n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%02d:%02d:%02d", p.hour, p.minute, p.second);
  if (p.millisecond != 0) std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03d", p.millisecond);
  return buf;
}

std::string format_hh_mm(DateTime value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", hour_of(value), minute_of(value));
  return buf;
}

std::optional<DateTime> parse_date_time(std::string_view text) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (s.empty()) return std::nullopt;
  int h = 0, mi = 0, sec = 0, ms = 0;
  std::string_view probe = s;
  int first = 0;
  bool has_date = read_int(probe, 4, 4, first) && !probe.empty() && probe.front() == '-';
  try {
    if (!has_date) {
      if (!read_time(s, h, mi, sec, ms) || !s.empty()) return std::nullopt;
      return encode_time(h, mi, sec, ms);
    }
    DateTimeParts p;
    if (!read_int(s, 4, 4, p.year) || !eat(s, '-') || !read_int(s, 1, 2, p.month) || !eat(s, '-') ||
        !read_int(s, 1, 2, p.day))
      return std::nullopt;
    if (!s.empty()) {
      if (!eat(s, ' ') && !eat(s, 'T')) return std::nullopt;
      if (!read_time(s, p.hour, p.minute, p.second, p.millisecond) || !s.empty()) return std::nullopt;
    }
    return encode_date_time(p);
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

DateTime from_local(std::chrono::system_clock::time_point instant) {
  using namespace std::chrono;
  auto secs = time_point_cast<seconds>(instant);
  if (secs > instant) secs -= seconds(1);
  int millis = static_cast<int>(duration_cast<milliseconds>(instant - secs).count());
  std::time_t t = system_clock::to_time_t(secs);
  std::tm tm{};
  localtime_r(&t, &tm);
  return encode_date_time(
      DateTimeParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis});
}

std::chrono::system_clock::time_point to_local_instant(DateTime value) {
  DateTimeParts p = decode_date_time(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return std::chrono::system_clock::from_time_t(t) + std::chrono::milliseconds(p.millisecond);
}

}  // namespace orv::dal
