// The scheduler's query: its exact text for each day, and that, run on the settings database
// with the clock at a given moment, it selects exactly the rows due then.
#include "settings/store/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/settings_store.h"
#include "settings_db.h"
#include "test_env.h"

namespace orv::settings {
namespace {

using dal::DateTime;
using dal::encode_date_time;
using dal::encode_time;

TEST(ScheduleQuery, TextForEachDay) {
  const std::vector<std::vector<std::string>> expected = {
      {"Pazar=:Gun", "and Hour(Pazar_T)=Hour(Time())", "and Minute(Pazar_T)=Minute(Time())"},
      {"P_tesi=:Gun", "and Hour(P_tesi_T)=Hour(Time())", "and Minute(P_tesi_T)=Minute(Time())"},
      {"Sali=:Gun", "and Hour(Sali_T)=Hour(Time())", "and Minute(Sali_T)=Minute(Time())"},
      {"Carsamba=:Gun", "and Hour(Carsamba_T)=Hour(Time())", "and Minute(Carsamba_T)=Minute(Time())"},
      {"Persembe=:Gun", "and Hour(Persembe_T)=Hour(Time())", "and Minute(Persembe_T)=Minute(Time())"},
      {"Cuma=:Gun", "and Hour(Cuma_T)=Hour(Time())", "and Minute(Cuma_T)=Minute(Time())"},
      {"C_Tesi=:Gun", "and Hour(C_Tesi_T)=Hour(Time())", "and Minute(C_Tesi_T)=Minute(Time())"},
  };
  for (int day = 1; day <= 7; ++day) {
    std::vector<std::string> lines = {"Select * From Database_List", "Where "};
    lines.insert(lines.end(), expected[static_cast<size_t>(day - 1)].begin(), expected[static_cast<size_t>(day - 1)].end());
    EXPECT_EQ(schedule_query_lines(day), lines) << day;
  }
  EXPECT_THROW(schedule_query_lines(0), std::out_of_range);
  EXPECT_THROW(schedule_query_lines(8), std::out_of_range);
  EXPECT_EQ(day_columns(5).flag, std::string("PErsembe"));
  EXPECT_EQ(day_columns(2).zip, std::string("Pts_Zip"));
}

class ScheduleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open(env.home());
    // One row due at 02:30 on each day only (its other days off at the same time).
    for (const DayColumns& d : kDays) {
      std::vector<std::pair<std::string, dal::Value>> row = {{"Veri_Tabani_Adi", std::string("due_") + d.band_caption}};
      for (const DayColumns& other : kDays) {
        row.emplace_back(other.flag, std::string(other.day_index == d.day_index ? "True" : "False"));
        row.emplace_back(other.time, encode_time(2, 30));
      }
      add(row);
    }
    // Every day on, but at 02:30 written with a date part.
    add_every_day("dated", "True", encode_date_time({2001, 1, 1, 2, 30, 0, 0}));
    // Every day at 02:30 but switched off, or "on" in the wrong letter case.
    add_every_day("off", "False", encode_time(2, 30));
    add_every_day("lower_case", "true", encode_time(2, 30));
    add_every_day("upper_case", "TRUE", encode_time(2, 30));
    // A minute later.
    add_every_day("at_0231", "True", encode_time(2, 31));
  }
  void TearDown() override { dal::set_sqlite_clock(nullptr); }

  void add(const std::vector<std::pair<std::string, dal::Value>>& values) {
    store.ADOConnection1.provider().insert_row("Database_List", values);
  }
  void add_every_day(const std::string& name, const std::string& flag, DateTime time) {
    std::vector<std::pair<std::string, dal::Value>> row = {{"Veri_Tabani_Adi", name}};
    for (const DayColumns& d : kDays) {
      row.emplace_back(d.flag, flag);
      row.emplace_back(d.time, time);
    }
    add(row);
  }

  std::set<std::string> due(DateTime now) {
    dal::set_sqlite_clock([now] { return now; });
    open_schedule_query(store.ADOQueryZamanlama, dal::day_of_week(now));
    std::set<std::string> names;
    dal::Query& q = store.ADOQueryZamanlama;
    EXPECT_EQ(q.field_count(), 34);
    for (q.first(); !q.eof(); q.next()) names.insert(q.field("Veri_Tabani_Adi").as_string());
    return names;
  }

  test::TestEnv env;
  std::filesystem::path db = test::make_settings_db(env.home());
  SettingsStore store;
};

TEST_F(ScheduleRun, EachDaySelectsExactlyItsDueRowsDuringTheWholeMinute) {
  for (int day = 1; day <= 7; ++day) {
    const int date = 6 + day - 1;  // 2026-12-06 is a Sunday
    const std::string caption = day_columns(day).band_caption;
    SCOPED_TRACE(caption);
    const std::set<std::string> expected = {"due_" + caption, "dated"};
    EXPECT_EQ(due(encode_date_time({2026, 12, date, 2, 30, 0, 0})), expected);
    EXPECT_EQ(due(encode_date_time({2026, 12, date, 2, 30, 59, 999})), expected);
    EXPECT_EQ(due(encode_date_time({2026, 12, date, 2, 29, 59, 999})), std::set<std::string>{});
    EXPECT_EQ(due(encode_date_time({2026, 12, date, 2, 31, 0, 0})), std::set<std::string>{"at_0231"});
    EXPECT_EQ(due(encode_date_time({2026, 12, date, 14, 30, 0, 0})), std::set<std::string>{});  // not 12 hours off
  }
}

TEST_F(ScheduleRun, TwoDatabasesDueAtTheSameMinuteComeInOneQueryInRowOrder) {
  for (const char* name : {"fri_b", "fri_a"}) add({{"Veri_Tabani_Adi", std::string(name)}, {"Cuma", std::string("True")}, {"Cuma_T", encode_time(23, 0)}});
  std::set<std::string> names = due(encode_date_time({2026, 12, 11, 23, 0, 20, 0}));  // a Friday
  EXPECT_EQ(names, (std::set<std::string>{"fri_a", "fri_b"}));
  dal::Query& q = store.ADOQueryZamanlama;
  q.first();
  EXPECT_EQ(q.field("Veri_Tabani_Adi").as_string(), "fri_b");  // inserted first
  EXPECT_EQ(q.field("Cuma_T").as_string(), "23:00:00");
}

TEST_F(ScheduleRun, ItsRowsCarryTheDaysDiscAndZipFlags) {
  add({{"Veri_Tabani_Adi", std::string("zipped")}, {"Sali", std::string("True")}, {"Sali_T", encode_time(4, 5)},
       {"Sl_Zip", std::string("True")}, {"Sl_CD", std::string("False")}});
  due(encode_date_time({2026, 12, 8, 4, 5, 0, 0}));  // a Tuesday
  dal::Query& q = store.ADOQueryZamanlama;
  ASSERT_EQ(q.record_count(), 1);
  EXPECT_TRUE(is_true(q.field(day_columns(3).zip).as_string()));
  EXPECT_FALSE(is_true(q.field(day_columns(3).disc).as_string()));
}

}  // namespace
}  // namespace orv::settings
