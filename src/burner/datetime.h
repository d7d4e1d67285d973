// Date-times of the disc library: days since 30 December 1899, the fraction giving the time of
// day (the same scale as the settings store). Helpers to split them into calendar fields, to
// build them from the local clock and from file times, and the time-zone offset that ISO 9660
// recording dates carry for a given date. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace orv::burner {

using TDateTime = double;

struct TDateParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

// Calendar fields of a date-time, rounded to the millisecond. Negative values are read as 0.
TDateParts DecodeDateTime(TDateTime value);
TDateTime EncodeDateTime(const TDateParts& parts);

// The local time now.
TDateTime NowLocal();

// A file time as a directory search reports it: local time packed the DOS way, so seconds are
// even and years are kept within 1980..2107.
TDateTime FileTimeToDateTime(std::time_t seconds);

// Recording-date time-zone offset in 15-minute units east of Greenwich that the local zone
// has in force at the local date-time `local` (summer time included), truncated toward zero
// and kept within -48..52. In the hour a clock is set back, the earlier of the two is taken.
int8_t ZoneOffset15At(TDateTime local);

// "yyyymmddhhnnss" followed by the milliseconds with at least two digits; callers cut it to
// the length they need.
std::string FormatDescriptorDate(TDateTime value);

}  // namespace orv::burner
