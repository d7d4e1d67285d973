// Date-time values of the data-access layer (DateTime in driver.h: days since 1899-12-30 00:00,
// the fraction being the time of day) and their conversion to calendar parts, text and the
// local clock.
//
// Times are handled to the millisecond. For days before 1899-12-30 the value is negative and,
// as in the OLE convention, the fraction still counts forward from midnight: -1.25 is
// 1899-12-29 06:00. A bare time is a value in [0, 1).
// Pure functions, no state, thread-safe. Parsing failures return std::nullopt.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "dal/driver.h"

namespace orv::dal {

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const DateTimeParts&, const DateTimeParts&) = default;
};

// Throws std::out_of_range for a part out of its range (month 13, hour 24, ...).
DateTime encode_date_time(const DateTimeParts& parts);
DateTime encode_time(int hour, int minute, int second = 0, int millisecond = 0);
DateTimeParts decode_date_time(DateTime value);

// The time of day in milliseconds, 0 .. 86399999, whatever the date part.
long long time_of_day_ms(DateTime value);
int hour_of(DateTime value);
int minute_of(DateTime value);
// The date part alone (midnight), and the time part alone (a bare time).
DateTime date_part(DateTime value);
DateTime time_part(DateTime value);
// 1 = Sunday ... 7 = Saturday.
int day_of_week(DateTime value);

// "YYYY-MM-DD HH:MM:SS"; a value whose date part is day 0 gives "HH:MM:SS" only.
// With milliseconds not zero, ".mmm" follows the seconds.
std::string format_date_time(DateTime value);
// "hh:mm" (how the schedule shows a time).
std::string format_hh_mm(DateTime value);
// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.mmm]]" (also with "T"), "HH:MM[:SS[.mmm]]".
std::optional<DateTime> parse_date_time(std::string_view text);

// Local wall-clock time of a system clock instant, and back.
DateTime from_local(std::chrono::system_clock::time_point instant);
std::chrono::system_clock::time_point to_local_instant(DateTime value);

}  // namespace orv::dal
