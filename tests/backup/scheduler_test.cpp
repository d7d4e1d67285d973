// The weekly scheduler driven through whole days with the clock injected: Timer2 ticks 55 s after
// it was last switched on, the scheduler query compares with the injected "now".
#include <gtest/gtest.h>

#include "backup_fixture.h"

namespace orv::backup::testing {
namespace {

const i18n::MessageStrings& msg() { return i18n::messages(); }

class SchedulerTest : public BackupFixture {
 protected:
  // A working folder that cannot be made: a plain file stands where its parent should be.
  void block_working_folder() {
    fs::create_directories(env.work());
    orv::test::write_file(env.work() / "plainfile", "x");
    set_system((env.work() / "plainfile").string() + "/", false, false);
  }
};

// Times of the run log's lines (the first field), as text.
std::vector<std::string> run_times(const std::vector<std::string>& lines) {
  std::vector<std::string> times;
  for (const auto& l : lines) times.push_back(l.substr(0, l.find('\t')));
  return times;
}

std::string text_of(dal::DateTime t) {
  dal::DateTimeParts p = dal::decode_date_time(t);
  p.millisecond = 0;
  return dal::format_date_time(dal::encode_date_time(p));
}

TEST_F(SchedulerTest, ScheduledTickMakesBackupArchiveRecordAndLogLine) {
  if (!orv::test::have_program("unzip")) GTEST_SKIP() << "unzip not installed";
  make_database("Sales", 50);
  make_database("Other");
  schedule("Sales", 1, 2, 30, /*zip=*/true, /*disc=*/false);
  schedule("Other", 1, 2, 31);
  clock.set(sunday(2, 29, 30));
  TimerDriver timer(*run, view, clock);
  timer.start();

  const std::vector<dal::DateTime> ticks = timer.run_until(sunday(2, 30, 30));

  ASSERT_EQ(ticks.size(), 1u);  // 02:30:25
  EXPECT_TRUE(fs::is_regular_file(file("Sales.Dat")));
  ASSERT_TRUE(fs::is_regular_file(file("Sales.zip")));
  const auto test = orv::test::run_command("unzip -t " + orv::test::shell_quote(file("Sales.zip").string()));
  EXPECT_EQ(test.exit_code, 0) << test.output;
  EXPECT_EQ(last_file("Sales"), "Sales.zip");
  EXPECT_EQ(last_time("Sales"), dal::Value(ticks[0]));
  EXPECT_EQ(last_file("Other"), "");
  EXPECT_FALSE(fs::exists(file("Other.Dat")));
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], text_of(ticks[0]) + "\tscheduled\tSales\tSales.zip\tbacked up\t");
  // Unattended: no question, no end box; afterwards back to "HAYIR" with the timer on.
  EXPECT_TRUE(dialogs.boxes().empty());
  EXPECT_EQ(data.UnattendedRun, "HAYIR");
  EXPECT_TRUE(view.timer2);
  EXPECT_EQ(view.label10, "");
  EXPECT_EQ(view.disc_writes, 0);
}

TEST_F(SchedulerTest, SundayRowRunsOnlyInItsMinuteOnSundays) {
  make_database("Sales", 1);
  make_database("Off", 1);
  schedule("Sales", 1, 2, 30);
  schedule("Off", 1, 2, 30);
  dal::Table& t = data.ADOTableDatabase;
  t.move_to(row_of("Off"));
  t.edit();
  t.field("Pazar").set_string("False");
  t.post();
  // A time stored with a date part counts by its hour and minute only.
  t.move_to(row_of("Sales"));
  t.edit();
  t.field("Pazar_T").set_date_time(at(1999, 3, 4, 2, 30, 41));
  t.post();

  // Monday 2026-11-30 00:00 to Monday 2026-12-07 12:00: every weekday once, Sunday included.
  clock.set(at(2026, 11, 30, 0, 0, 13));
  TimerDriver timer(*run, view, clock);
  timer.start();
  const std::vector<dal::DateTime> ticks = timer.run_until(at(2026, 12, 7, 12, 0));

  std::vector<std::string> due;
  for (const dal::DateTime& tick : ticks) {
    const dal::DateTimeParts p = dal::decode_date_time(tick);
    if (dal::day_of_week(tick) == 1 && p.hour == 2 && p.minute == 30) due.push_back(text_of(tick));
  }
  ASSERT_FALSE(due.empty());
  // Every tick inside Sunday 02:30 ran it (the first one too), no other tick did; "Off" never.
  EXPECT_EQ(run_times(log_lines()), due);
  for (const auto& l : log_lines()) EXPECT_NE(l.find("\tSales\t"), std::string::npos) << l;
  EXPECT_EQ(last_file("Off"), "");
  EXPECT_TRUE(view.timer2);
  // Every minute of the week had at least one tick.
  for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_LT((ticks[i].days - ticks[i - 1].days) * 86400, 60.0);
}

TEST_F(SchedulerTest, RunEndingLaterThanFiveSecondsIntoTheMinuteRunsOnce) {
  make_database("Tiny", 1);
  schedule("Tiny", 1, 2, 30);
  clock.set(sunday(2, 29, 8));
  TimerDriver timer(*run, view, clock);
  timer.start();
  // The run takes three seconds: it ends at 02:30:06.
  view.on_label10 = [&](const std::string& text) {
    if (text == "Backup_To_Str Tiny") clock.advance_seconds(3);
  };

  timer.run_until(sunday(2, 35));

  // The tick at 02:30:03 runs it; the run ends at 02:30:06, so the next tick is 02:31:01,
  // a minute later.
  const std::vector<std::string> times = run_times(log_lines());
  ASSERT_EQ(times.size(), 1u);
  EXPECT_EQ(times[0], "2026-12-06 02:30:06");
}

TEST_F(SchedulerTest, SecondTickInTheSameMinuteRunsNoDatabaseAgain) {
  make_database("Tiny", 1);
  make_database("Late", 1);
  schedule("Tiny", 1, 2, 30);
  clock.set(sunday(2, 29, 8));  // first tick 02:30:03
  TimerDriver timer(*run, view, clock);
  timer.start();
  // The operator sets Late to 02:30 while that minute runs: the second tick takes it alone.
  view.on_label10 = [&](const std::string& text) {
    if (text == "Backup_To_Str Tiny") schedule("Late", 1, 2, 30);
  };

  timer.run_until(sunday(2, 35));

  // The run ends at 02:30:03 and the next tick comes at 02:30:58, in the same minute: Tiny is not
  // backed up (nor written to disc) a second time.
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 29), "2026-12-06 02:30:03\tscheduled");
  EXPECT_NE(lines[0].find("\tTiny\t"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].substr(0, 29), "2026-12-06 02:30:58\tscheduled");
  EXPECT_NE(lines[1].find("\tLate\t"), std::string::npos) << lines[1];
}

TEST_F(SchedulerTest, LongRunIsFollowedByTheRowsOfTheMinutesItSpanned) {
  for (const char* n : {"A", "B", "C", "D", "E"}) make_database(n, 1);
  schedule("A", 1, 2, 30);
  schedule("B", 1, 2, 31);
  schedule("C", 1, 2, 32, /*zip=*/false, /*disc=*/true);
  schedule("D", 1, 2, 34);
  schedule("E", 1, 2, 29);  // its minute had its tick before the run: not run again
  clock.set(sunday(2, 28, 40));  // ticks 02:29:35 and 02:30:30
  TimerDriver timer(*run, view, clock);
  timer.start();
  view.on_label10 = [&](const std::string& text) {
    if (text == "Backup_To_Str A") clock.advance_seconds(160);  // the run ends at 02:33:10
  };

  timer.run_until(sunday(2, 40));

  // The next tick, 02:34:05, runs the rows of 02:31, 02:32 and 02:33, which had no tick, with
  // the row of its own minute, in the order of their minutes, with their own flags.
  std::vector<std::string> ran;
  for (const auto& l : log_lines()) ran.push_back(l.substr(0, 19) + " " + l.substr(30, 1));
  const std::vector<std::string> expected{"2026-12-06 02:29:35 E", "2026-12-06 02:33:10 A",
                                          "2026-12-06 02:34:05 B", "2026-12-06 02:34:05 C",
                                          "2026-12-06 02:34:05 D"};
  EXPECT_EQ(ran, expected);
  EXPECT_EQ(last_file("B"), "B.Dat");
  EXPECT_EQ(last_file("C"), "C.Dat");
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "C.Dat"});
}

TEST_F(SchedulerTest, StoppedSchedulerCatchesUpAtMostOneDay) {
  make_database("Sales", 1);
  make_database("Old", 1);
  make_database("Recent", 1);
  schedule("Sales", 1, 5, 0);
  schedule("Old", 1, 12, 0);     // Sunday 12:00: more than a day before the restart
  schedule("Recent", 2, 11, 0);  // Monday 11:00: within the day before it
  block_working_folder();
  clock.set(sunday(4, 59, 30));
  TimerDriver timer(*run, view, clock);
  timer.start();
  ASSERT_EQ(timer.run_until(sunday(6, 0)).size(), 1u);  // 05:00:25 met the folder box
  ASSERT_FALSE(view.timer2);

  // Tuesday 10:30 the operator mends the folder and runs a backup by hand: the timer is on again.
  set_system(folder, false, false);
  clock.set(at(2026, 12, 8, 10, 30, 0));
  run->BitBtn4Click();
  ASSERT_TRUE(view.timer2);
  const std::size_t by_hand = log_lines().size();
  const std::vector<dal::DateTime> ticks = timer.run_until(at(2026, 12, 8, 10, 32));

  ASSERT_FALSE(ticks.empty());
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), by_hand + 1);
  EXPECT_EQ(lines.back(), text_of(ticks[0]) + "\tscheduled\tRecent\tRecent.Dat\tbacked up\t");
}
TEST_F(SchedulerTest, TwoRowsDueTogetherGoIntoOneRunInRowOrder) {
  make_database("Alpha", 1);
  make_database("Beta", 1);
  schedule("Beta", 6, 23, 0, false, true);
  schedule("Alpha", 6, 23, 0, true, false);
  clock.set(at(2026, 12, 11, 23, 0, 10));  // a Friday

  run->Timer2Timer();

  ASSERT_EQ(run->RunList.size(), 2u);
  EXPECT_EQ(run->RunList[0], (RunEntry{"Alpha", "False", "True"}));
  EXPECT_EQ(run->RunList[1], (RunEntry{"Beta", "True", "False"}));
  EXPECT_EQ(last_file("Alpha"), "Alpha.zip");
  EXPECT_EQ(last_file("Beta"), "Beta.Dat");
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "Beta.Dat"});
  EXPECT_EQ(view.disc_writes, 1);
}

TEST_F(SchedulerTest, SixtyDatabasesDueAtOnceAreAllBackedUp) {
  for (int i = 0; i < 60; ++i) {
    const std::string n = "due" + std::to_string(i);
    make_database(n, 1);
    schedule(n, 1, 3, 0);
  }
  clock.set(sunday(3, 0, 30));

  run->Timer2Timer();

  for (int i = 0; i < 60; ++i) {
    const std::string n = "due" + std::to_string(i);
    EXPECT_TRUE(fs::exists(file(n + ".Dat"))) << n;
    EXPECT_EQ(last_file(n), n + ".Dat") << n;
  }
  EXPECT_EQ(log_lines().size(), 60u);
}

TEST_F(SchedulerTest, ScheduledRunShowsNoQuestionNoEndBoxButEveryFailureBox) {
  make_database("Sales", 1);
  add_row("Ghost");
  schedule("Ghost", 1, 4, 0, true, false);
  schedule("Sales", 1, 4, 0);
  clock.set(sunday(4, 0, 1));
  // The box waits for the operator: while it is open the run is still in progress.
  bool checked = false;
  dialogs.on_box = [&](const ui::Box&) {
    checked = true;
    EXPECT_EQ(data.UnattendedRun, "EVET");
    EXPECT_TRUE(run->Running());
    EXPECT_FALSE(view.timer2);
  };

  run->Timer2Timer();

  EXPECT_TRUE(checked);
  const std::vector<ui::Box> boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], (ui::Box{ui::BoxKind::Error, kBackupFailedCaption, kBackupFailedText, ui::Buttons::Ok}));
  EXPECT_EQ(last_file("Ghost"), "");
  EXPECT_EQ(last_file("Sales"), "Sales.Dat");
  EXPECT_TRUE(view.timer2);
}

TEST_F(SchedulerTest, FolderFailureStopsTheScheduler) {
  make_database("Sales", 1);
  schedule("Sales", 1, 5, 0);
  block_working_folder();
  clock.set(sunday(4, 59, 30));
  TimerDriver timer(*run, view, clock);
  timer.start();

  const std::vector<dal::DateTime> ticks = timer.run_until(sunday(6, 0));

  // The tick at 05:00:15 met the folder box; the timer stayed off, so no tick followed.
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_FALSE(view.timer2);
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, msg().Directory_Create_Error_Str_Bsk);
  EXPECT_EQ(data.UnattendedRun, "HAYIR");
  // A run by hand that gets past its folder check starts it again.
  set_system(folder, false, false);
  run->BitBtn4Click();
  EXPECT_TRUE(view.timer2);
}

TEST_F(SchedulerTest, PendingSystemEditIsPostedBeforeTheQuery) {
  data.ADOTableSystem.edit();
  data.ADOTableSystem.field("Ziple").set_string("True");

  run->Timer2Timer();

  EXPECT_EQ(data.ADOTableSystem.state(), dal::DataSetState::Browse);
  settings::SettingsStore fresh;
  fresh.Open(env.home());
  EXPECT_EQ(fresh.ADOTableSystem.field("Ziple").as_string(), "True");
  EXPECT_TRUE(view.timer2);  // no rows: off and on again
  EXPECT_EQ(view.timer2_switches, 2);
}

TEST_F(SchedulerTest, QueryFailureStopsTheSchedulerWithTheStandardBox) {
  data.ADOConnection1.close();

  run->Timer2Timer();

  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, ui::Dialogs::kApplicationTitle);
  EXPECT_FALSE(view.timer2);
}

}  // namespace
}  // namespace orv::backup::testing
