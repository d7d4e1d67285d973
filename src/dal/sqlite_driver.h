// The SQLite provider: the settings database, "Provider=SQLite;Data Source=<path>".
//
// The file is opened read-write and is never created: a missing file, a file locked by another
// program past the connection time-out, and a file that is not a database all fail to connect
// with SQLite's own text. The connection time-out bounds the wait for a lock while connecting,
// the command time-out every later statement.
//
// Column types as the settings tables declare them: VARCHAR(n)/TEXT(n)/CHAR(n) are text of at
// most n characters (a longer value is refused on insert or update, nothing written);
// DATETIME/DATE/TIME columns are date-times, stored as REAL days since 1899-12-30 (the
// fraction is the time of day), so 00:00 of day 0 is 0.0. The SQL functions Hour(x), Minute(x),
// Second(x), Time() and Now() are registered with the meaning of the settings database's
// engine: Hour/Minute/Second take a stored date-time (REAL, or text as written by hand) with or
// without a date part; Time() is the current local time of day as a bare time.
//
// Threading: the driver is thread-safe; each connection is used by one thread at a time.
// The clock that Time()/Now() read can be replaced (tests, a scheduler's clock); it is
// process-wide and read under a lock.
#pragma once

#include <functional>

#include "dal/driver.h"

namespace orv::dal {

// Registers the driver under the name "SQLite". Safe to call more than once.
void register_sqlite_driver();

// The clock behind Time() and Now(): returns the local date and time. An empty function
// restores the machine's clock.
void set_sqlite_clock(std::function<DateTime()> now);
DateTime sqlite_clock_now();

}  // namespace orv::dal
