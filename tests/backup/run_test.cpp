// The backup run started by hand, against the local server engine, real files and this build's
// zip engine.
#include <gtest/gtest.h>

#include "backup_fixture.h"

namespace orv::backup::testing {
namespace {

const i18n::MessageStrings& msg() { return i18n::messages(); }

// Number of backup sets in a backup file (each starts with its magic).
int backup_sets(const fs::path& f) {
  const std::string bytes = orv::test::read_file(f);
  int n = 0;
  for (std::size_t at = bytes.find("ORVKBAK1"); at != std::string::npos; at = bytes.find("ORVKBAK1", at + 1)) ++n;
  return n;
}

using RunTest = BackupFixture;

TEST_F(RunTest, NothingSelectedBacksUpTheCurrentRowAfterTheQuestion) {
  make_database("Accounting");
  make_database("Inventory");
  make_database("Sales");
  data.ADOTableDatabase.move_to(row_of("Inventory"));
  clock.set(sunday(14, 5, 7));

  run->BitBtn4Click();

  EXPECT_TRUE(fs::is_regular_file(file("Inventory.Dat")));
  EXPECT_FALSE(fs::exists(file("Accounting.Dat")));
  EXPECT_FALSE(fs::exists(file("Sales.Dat")));
  EXPECT_EQ(backup_sets(file("Inventory.Dat")), 1);
  EXPECT_EQ(last_file("Inventory"), "Inventory.Dat");
  EXPECT_EQ(last_time("Inventory"), dal::Value(sunday(14, 5, 7)));
  EXPECT_EQ(last_file("Sales"), "");
  // No temporary file is left behind.
  EXPECT_FALSE(fs::exists(file(BackupRun::TemporaryBackupName("Inventory"))));

  const std::vector<ui::Box> boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], (ui::Box{ui::BoxKind::Question, msg().Backup_Str_Bsk, msg().Backup_Str, ui::Buttons::YesNo}));
  EXPECT_EQ(boxes[1], (ui::Box{ui::BoxKind::Information, msg().Backup1_Str, msg().Backup_Comp_Str, ui::Buttons::Ok}));
  // Status lines while working, cleared at the end; the scheduler's timer is on again.
  const std::vector<std::string> expected{
      "Label10=Check_Bck_Str", "Label10=Backup_To_Str Inventory", "Label11=Backup_To_Direct_Str " + folder,
      "Label10=", "Label11="};
  EXPECT_EQ(view.events, expected);
  EXPECT_TRUE(view.timer2);
  EXPECT_EQ(view.disc_writes, 0);
  EXPECT_EQ(data.UnattendedRun, "HAYIR");
  EXPECT_FALSE(run->Running());

  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "2026-12-06 14:05:07\tby hand\tInventory\tInventory.Dat\tbacked up\t");
  EXPECT_NE(view.last_outcome.find("Inventory: backed up"), std::string::npos) << view.last_outcome;
}

TEST_F(RunTest, ThreeSelectedWithZipGiveThreeBackupsAndThreeArchives) {
  if (!orv::test::have_program("unzip")) GTEST_SKIP() << "unzip not installed";
  for (const char* name : {"Accounting", "Inventory", "Payroll", "Sales"}) make_database(name, 200);
  set_system(folder, true, false);
  view.selected = {0, 2, 3};  // the grid's selection, in dataset order

  run->BitBtn4Click();

  for (const char* name : {"Accounting", "Payroll", "Sales"}) {
    SCOPED_TRACE(name);
    const std::string n = name;
    ASSERT_TRUE(fs::is_regular_file(file(n + ".Dat")));
    ASSERT_TRUE(fs::is_regular_file(file(n + ".zip")));
    EXPECT_EQ(last_file(n), n + ".zip");
    const auto test = orv::test::run_command("unzip -t " + orv::test::shell_quote(file(n + ".zip").string()));
    EXPECT_EQ(test.exit_code, 0) << test.output;
    // One entry: the backup file under its bare name, identical to the file beside it.
    const auto listing = orv::test::run_command("unzip -Z1 " + orv::test::shell_quote(file(n + ".zip").string()));
    EXPECT_EQ(listing.output, n + ".Dat\n");
    const auto content = orv::test::run_command("unzip -p " + orv::test::shell_quote(file(n + ".zip").string()));
    EXPECT_TRUE(content.output == orv::test::read_file(file(n + ".Dat")));
    EXPECT_FALSE(fs::exists(file(BackupRun::TemporaryArchiveName(n))));
  }
  EXPECT_FALSE(fs::exists(file("Inventory.Dat")));
  EXPECT_EQ(last_file("Inventory"), "");
  // The current row is left on the last selected one.
  EXPECT_EQ(data.ADOTableDatabase.field("Veri_Tabani_Adi").as_string(), "Sales");
  // No disc write; the progress window opened and closed once per archive, its bar moved.
  EXPECT_EQ(view.disc_writes, 0);
  EXPECT_TRUE(view.queue.empty());
  EXPECT_EQ(progress.opens(), 3);
  EXPECT_EQ(progress.closes(), 3);
  EXPECT_FALSE(progress.IsOpen());
  EXPECT_NE(std::find(progress.positions().begin(), progress.positions().end(), 10001), progress.positions().end());
  EXPECT_EQ(log_lines().size(), 3u);
}

TEST_F(RunTest, DiscQueueHoldsTheRecordedFilesAndTheDiscWriteStartsOnce) {
  make_database("Accounting");
  make_database("Sales");
  set_system(folder, true, true);
  view.selected = {0, 1};
  view.queue = {"/left/over/from/an/earlier/run"};

  run->BitBtn4Click();

  const std::vector<std::string> expected{folder + "Accounting.zip", folder + "Sales.zip"};
  EXPECT_EQ(view.written_queue, expected);
  EXPECT_EQ(view.disc_writes, 1);
  // The disc line is shown before the write starts, and the lines are cleared after it.
  const auto cd = std::find(view.events.begin(), view.events.end(), "Label10=Write_CD_Str");
  ASSERT_NE(cd, view.events.end());
  EXPECT_EQ(view.events.back(), "Label11=");
}

TEST_F(RunTest, AnsweringNoDoesNothing) {
  make_database("Sales");
  view.timer2 = false;  // whatever state the timer had stays
  dialogs.script.answer_box(ui::Answer::No);

  run->BitBtn4Click();

  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_FALSE(view.timer2);
  EXPECT_EQ(view.timer2_switches, 0);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(log_lines().empty());
}

TEST_F(RunTest, EmptyDatabaseListStillEndsWithTheCompletionBox) {
  run->BitBtn4Click();

  ASSERT_EQ(dialogs.boxes().size(), 2u);
  EXPECT_EQ(dialogs.boxes()[1].text, msg().Backup_Comp_Str);
  EXPECT_TRUE(fs::is_directory(folder));  // the folder check ran
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_TRUE(log_lines().empty());
  EXPECT_TRUE(view.timer2);
}

TEST_F(RunTest, NamesWithSpacesQuotesAndBracketsBackUp) {
  const std::vector<std::string> names{"Year 2026", "O'Neil", "odd]name["};
  for (const auto& n : names) make_database(n);
  view.selected = {0, 1, 2};

  run->BitBtn4Click();

  for (const auto& n : names) {
    SCOPED_TRACE(n);
    EXPECT_EQ(backup_sets(file(n + ".Dat")), 1);
    EXPECT_EQ(last_file(n), n + ".Dat");
  }
  EXPECT_EQ(count_boxes_with(kBackupFailedText), 0);
}

TEST_F(RunTest, FailedStatementKeepsThePreviousBackupAndRecordsNothing) {
  make_database("Sales");
  add_row("Ghost");  // in the list, but the server has no such database
  // An earlier good backup of Ghost, and an earlier archive.
  fs::create_directories(folder);
  orv::test::write_file(file("Ghost.Dat"), "previous good backup");
  orv::test::write_file(file("Ghost.zip"), "previous good archive");
  dal::Table& t = data.ADOTableDatabase;
  t.move_to(row_of("Ghost"));
  t.edit();
  t.field("Son_Yedek_Tarih").set_date_time(at(2026, 11, 30, 2, 30));
  t.field("Son_Yedek_Dosya_Adi").set_string("Ghost.zip");
  t.post();
  set_system(folder, true, true);
  view.selected = {row_of("Sales"), row_of("Ghost")};

  run->BitBtn4Click();

  // The fixed box, then the run went on to the end.
  EXPECT_TRUE(has_box(ui::BoxKind::Error, kBackupFailedText, kBackupFailedCaption));
  EXPECT_TRUE(has_box(ui::BoxKind::Information, msg().Backup_Comp_Str, msg().Backup1_Str));
  EXPECT_EQ(orv::test::read_file(file("Ghost.Dat")), "previous good backup");
  EXPECT_EQ(orv::test::read_file(file("Ghost.zip")), "previous good archive");
  EXPECT_EQ(last_file("Ghost"), "Ghost.zip");
  EXPECT_EQ(last_time("Ghost"), dal::Value(at(2026, 11, 30, 2, 30)));
  EXPECT_FALSE(fs::exists(file(BackupRun::TemporaryBackupName("Ghost"))));
  // Sales went through; Ghost was not queued for disc.
  EXPECT_EQ(last_file("Sales"), "Sales.zip");
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "Sales.zip"});
  // The zip step never ran for Ghost.
  EXPECT_EQ(progress.opens(), 1);

  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("\tGhost\t\tbackup failed\t"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("Ghost"), lines[1].rfind("Ghost")) << "the server's text names the database: " << lines[1];
}

TEST_F(RunTest, SecondRunReplacesTheBackupAndTheArchive) {
  if (!orv::test::have_program("unzip")) GTEST_SKIP() << "unzip not installed";
  make_database("Sales", 10);
  set_system(folder, true, false);
  run->BitBtn4Click();
  const std::string first = orv::test::read_file(file("Sales.Dat"));

  dal::DataConnection c;
  c.open(login);
  c.execute("USE Sales");
  c.execute("INSERT INTO t VALUES (99, 'second')");
  c.close();
  run->BitBtn4Click();

  EXPECT_EQ(backup_sets(file("Sales.Dat")), 1);  // replaced, not appended to
  EXPECT_NE(orv::test::read_file(file("Sales.Dat")), first);
  const auto listing = orv::test::run_command("unzip -Z1 " + orv::test::shell_quote(file("Sales.zip").string()));
  EXPECT_EQ(listing.output, "Sales.Dat\n");
  const auto content = orv::test::run_command("unzip -p " + orv::test::shell_quote(file("Sales.zip").string()));
  EXPECT_TRUE(content.output == orv::test::read_file(file("Sales.Dat")));
}

TEST_F(RunTest, FailedZipLeavesTheBackupFileRecordedAndTheOldArchive) {
  make_database("Sales");
  set_system(folder, true, true);
  fs::create_directories(folder);
  orv::test::write_file(file("Sales.zip"), "previous good archive");
  archiver.DLLDirectory = (env.work() / "no-engine-here").string();
  fs::create_directories(archiver.DLLDirectory);

  run->BitBtn4Click();

  EXPECT_TRUE(fs::is_regular_file(file("Sales.Dat")));
  EXPECT_EQ(orv::test::read_file(file("Sales.zip")), "previous good archive");
  EXPECT_EQ(last_file("Sales"), "Sales.Dat");
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "Sales.Dat"});
  EXPECT_FALSE(progress.IsOpen());
  // The archiver's own error box was shown; the run still completed.
  bool archiver_box = false;
  for (const auto& b : dialogs.boxes()) archiver_box |= b.kind == ui::BoxKind::Error && b.text.find("ZipEngine179") != std::string::npos;
  EXPECT_TRUE(archiver_box);
  EXPECT_TRUE(has_box(ui::BoxKind::Information, msg().Backup_Comp_Str, msg().Backup1_Str));
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tSales\tSales.Dat\tzip failed\t"), std::string::npos) << lines[0];
}

TEST_F(RunTest, WorkingFolderThatCannotBeMadeEndsBeforeAnyBackup) {
  make_database("Sales");
  fs::create_directories(env.work());
  orv::test::write_file(env.work() / "plainfile", "x");
  const std::string bad = (env.work() / "plainfile" / "sub").string() + "/";
  set_system(bad, false, false);
  view.timer2 = false;

  run->BitBtn4Click();

  const std::vector<ui::Box> boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], (ui::Box{ui::BoxKind::Error, msg().Directory_Create_Error_Str_Bsk,
                                "Directory_Create_Error_Str " + bad + "|" + bad, ui::Buttons::Ok}));
  // The final step did not run: the timer keeps its state, the lines were never touched.
  EXPECT_FALSE(view.timer2);
  EXPECT_TRUE(view.events.empty());
  EXPECT_EQ(last_file("Sales"), "");
}

TEST_F(RunTest, EmptyWorkingFolderGoesToTheStandardErrorBox) {
  make_database("Sales");
  set_system("", false, false);

  run->BitBtn4Click();

  const std::vector<ui::Box> boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], (ui::Box{ui::BoxKind::Error, ui::Dialogs::kApplicationTitle, "Unable to create directory",
                                ui::Buttons::Ok}));
  EXPECT_FALSE(run->Running());
}

TEST_F(RunTest, ErrorInsideTheLoopRunsTheFinalStepThenTheStandardBox) {
  make_database("Accounting");
  make_database("Sales");
  view.selected = {0, 1};
  view.timer2 = false;
  // Drop the row under the run's feet: the record finds the row gone from the file.
  dal::DataConnection other;
  other.open(settings::settings_connection_string(env.home()));
  view.on_label10 = [&](const std::string& text) {
    if (text == "Backup_To_Str Accounting") other.execute("DELETE FROM Database_List WHERE Veri_Tabani_Adi = 'Accounting'");
  };

  run->BitBtn4Click();

  std::vector<ui::Box> boxes = dialogs.boxes();
  ASSERT_GE(boxes.size(), 3u);
  EXPECT_EQ(boxes[boxes.size() - 2],
            (ui::Box{ui::BoxKind::Error, msg().Backup1_Str, msg().Opera_Error_Str, ui::Buttons::Ok}));
  EXPECT_EQ(boxes.back().caption, ui::Dialogs::kApplicationTitle);
  EXPECT_FALSE(has_box(ui::BoxKind::Information, msg().Backup_Comp_Str, msg().Backup1_Str));
  // Sales was skipped; the timer is on and the lines are clear.
  EXPECT_FALSE(fs::exists(file("Sales.Dat")));
  EXPECT_TRUE(view.timer2);
  EXPECT_EQ(view.label10, "");
  EXPECT_EQ(view.label11, "");
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tAccounting\tAccounting.Dat\trecord failed\t"), std::string::npos) << lines[0];
  other.close();
}

TEST_F(RunTest, ClickOrTickDuringTheQuestionNeverStartsASecondRun) {
  make_database("Accounting");
  make_database("Sales");
  schedule("Sales", 1, 12, 0);
  data.ADOTableDatabase.move_to(row_of("Accounting"));
  clock.set(sunday(12, 0, 10));
  int nested = 0;
  dialogs.on_box = [&](const ui::Box& box) {
    if (box.text != msg().Backup_Str || nested++ > 0) return;
    run->BitBtn4Click();  // a click on BACKUP1 while the question is open: refused
    run->Timer2Timer();   // a tick while the question is open: deferred
    EXPECT_EQ(data.UnattendedRun, "HAYIR");
    EXPECT_FALSE(fs::exists(file("Sales.Dat")));
  };

  run->BitBtn4Click();

  EXPECT_EQ(dialogs.script.beeps(), 1);
  // The run by hand went first, then the deferred tick ran the due row as a scheduled run.
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\tby hand\tAccounting\t"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\tscheduled\tSales\t"), std::string::npos) << lines[1];
  EXPECT_EQ(count_boxes_with(msg().Backup_Str), 1);
  EXPECT_EQ(data.UnattendedRun, "HAYIR");
}

TEST_F(RunTest, MoreThanFiftyOneSelectedAllRun) {
  std::vector<int> rows;
  for (int i = 0; i < 60; ++i) {
    make_database("db" + std::to_string(100 + i), 1);
    rows.push_back(i);
  }
  view.selected = rows;

  run->BitBtn4Click();

  ASSERT_EQ(run->RunList.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_TRUE(fs::exists(file("db" + std::to_string(100 + i) + ".Dat"))) << i;
  EXPECT_EQ(log_lines().size(), 60u);
}

}  // namespace
}  // namespace orv::backup::testing
