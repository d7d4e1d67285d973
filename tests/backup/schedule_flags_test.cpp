// The schedule's flags are the exact texts the window stores ("True"/"False"): a row edited by
// hand to "true" or "TRUE" counts as off, for the day flag as for the zip and disc flags, so a
// scheduled run never zips or burns what the window shows as unticked.
#include <gtest/gtest.h>

#include "backup_fixture.h"

namespace orv::backup::testing {
namespace {

class ScheduleFlagsTest : public BackupFixture {
 protected:
  void set_text(const std::string& name, const char* column, const char* text) {
    dal::Table& t = data.ADOTableDatabase;
    t.move_to(row_of(name));
    t.edit();
    t.field(column).set_string(text);
    t.post();
  }
};

TEST_F(ScheduleFlagsTest, FlagsOtherThanTrueCountAsOff) {
  make_database("Zipped", 1);
  make_database("Burned", 1);
  make_database("DayOff", 1);
  for (const char* name : {"Zipped", "Burned", "DayOff"}) schedule(name, 1, 2, 30);
  const settings::DayColumns& sunday_columns = settings::day_columns(1);
  set_text("Zipped", sunday_columns.zip, "true");
  set_text("Burned", sunday_columns.disc, "TRUE");
  set_text("DayOff", sunday_columns.flag, "true");
  clock.set(sunday(2, 29, 30));
  TimerDriver timer(*run, view, clock);
  timer.start();
  ASSERT_EQ(timer.run_until(sunday(2, 30, 30)).size(), 1u);

  EXPECT_TRUE(fs::is_regular_file(file("Zipped.Dat")));
  EXPECT_FALSE(fs::exists(file("Zipped.zip")));
  EXPECT_EQ(last_file("Zipped"), "Zipped.Dat");
  EXPECT_TRUE(fs::is_regular_file(file("Burned.Dat")));
  EXPECT_EQ(view.disc_writes, 0);
  EXPECT_FALSE(fs::exists(file("DayOff.Dat")));
  EXPECT_EQ(last_file("DayOff"), "");
}

}  // namespace
}  // namespace orv::backup::testing
