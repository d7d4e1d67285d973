#include "dal/datetime.h"

#include <gtest/gtest.h>

#include <ctime>

namespace orv::dal {
namespace {

TEST(DateTime, EpochAndKnownDates) {
  EXPECT_EQ(encode_date_time({1899, 12, 30, 0, 0, 0, 0}).days, 0.0);
  EXPECT_EQ(encode_date_time({1900, 1, 1, 0, 0, 0, 0}).days, 2.0);
  EXPECT_EQ(encode_date_time({2000, 1, 1, 0, 0, 0, 0}).days, 36526.0);
  EXPECT_EQ(encode_date_time({1899, 12, 29, 6, 0, 0, 0}).days, -1.25);  // fraction counts forward
  EXPECT_EQ(decode_date_time(DateTime{-1.25}), (DateTimeParts{1899, 12, 29, 6, 0, 0, 0}));
  EXPECT_THROW(encode_date_time({2023, 2, 29, 0, 0, 0, 0}), std::out_of_range);
  EXPECT_THROW(encode_time(24, 0), std::out_of_range);
}

TEST(DateTime, EveryMinuteOfTheDayRoundTripsWithOrWithoutADate) {
  for (int m = 0; m < 24 * 60; ++m) {
    DateTime bare = encode_time(m / 60, m % 60);
    ASSERT_EQ(hour_of(bare), m / 60) << m;
    ASSERT_EQ(minute_of(bare), m % 60) << m;
    DateTime dated = encode_date_time({2026, 12, 9, m / 60, m % 60, 59, 999});
    ASSERT_EQ(hour_of(dated), m / 60) << m;
    ASSERT_EQ(minute_of(dated), m % 60) << m;
    ASSERT_EQ(time_of_day_ms(dated), (m * 60LL + 59) * 1000 + 999);
  }
}

TEST(DateTime, DayOfWeekIsOneForSunday) {
  EXPECT_EQ(day_of_week(DateTime{0}), 7);                                   // 1899-12-30 Saturday
  EXPECT_EQ(day_of_week(encode_date_time({2026, 12, 6, 23, 59, 0, 0})), 1);  // Sunday
  EXPECT_EQ(day_of_week(encode_date_time({2026, 12, 9, 0, 0, 0, 0})), 4);    // Wednesday
  EXPECT_EQ(day_of_week(encode_date_time({1899, 12, 24, 12, 0, 0, 0})), 1);  // negative values
}

TEST(DateTime, TextFormsRoundTrip) {
  EXPECT_EQ(format_date_time(DateTime{0}), "00:00:00");
  EXPECT_EQ(format_date_time(encode_time(2, 30)), "02:30:00");
  EXPECT_EQ(format_date_time(encode_date_time({2026, 12, 9, 14, 5, 7, 0})), "2026-12-09 14:05:07");
  EXPECT_EQ(format_date_time(encode_date_time({2026, 12, 9, 14, 5, 7, 25})), "2026-12-09 14:05:07.025");
  EXPECT_EQ(format_hh_mm(encode_date_time({2026, 12, 9, 7, 5, 59, 0})), "07:05");
  for (const char* text : {"00:00:00", "23:59:59", "2026-12-09 14:05:07", "1899-12-29 06:00:00", "2026-02-28 00:00:01.500"}) {
    auto parsed = parse_date_time(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(format_date_time(*parsed), text);
  }
  EXPECT_EQ(parse_date_time("2026-12-09T01:02")->days, encode_date_time({2026, 12, 9, 1, 2, 0, 0}).days);
  EXPECT_EQ(parse_date_time("2026-12-09")->days, encode_date_time({2026, 12, 9, 0, 0, 0, 0}).days);
  for (const char* bad : {"", "24:00", "12:60", "2026-13-01", "2026-02-30", "noon", "12:30x", "2026-12-09 1"})
    EXPECT_FALSE(parse_date_time(bad)) << bad;
}

TEST(DateTime, LocalClockAgreesWithLocaltime) {
  auto now = std::chrono::system_clock::now();
  DateTime dt = from_local(now);
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTimeParts p = decode_date_time(dt);
  EXPECT_EQ(p.year, tm.tm_year + 1900);
  EXPECT_EQ(p.month, tm.tm_mon + 1);
  EXPECT_EQ(p.day, tm.tm_mday);
  EXPECT_EQ(p.hour, tm.tm_hour);
  EXPECT_EQ(p.minute, tm.tm_min);
  EXPECT_EQ(day_of_week(dt), tm.tm_wday + 1);
  auto back = to_local_instant(dt);
  EXPECT_LT(std::chrono::abs(back - now), std::chrono::milliseconds(2));
}

}  // namespace
}  // namespace orv::dal
