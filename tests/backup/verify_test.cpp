// The run's checks before a new file replaces the previous one: the server verifies the backup
// file (RESTORE VERIFYONLY), the zip engine reads every entry of the archive back.
#include <gtest/gtest.h>

#include <set>

#include "backup/restore/test_restore.h"
#include "backup_fixture.h"
#include "platform/file_write.h"
#include "server/statement.h"

namespace orv::backup::testing {
namespace {

std::set<std::string> listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

void flip_middle_byte(const std::string& path) {
  std::string bytes = orv::test::read_file(path);
  ASSERT_GT(bytes.size(), 100u);
  bytes[bytes.size() / 2] ^= 0x20;
  orv::test::write_file(path, bytes);
}

using VerifyRunTest = BackupFixture;

TEST_F(VerifyRunTest, GoodBackupIsVerifiedOnTheTemporaryFileAndLogged) {
  make_database("Sales", 20);
  view.selected = {row_of("Sales")};
  std::string seen;
  run->OnBackupWritten = [&](const std::string& temporary) { seen = temporary; };

  run->BitBtn4Click();

  EXPECT_EQ(seen, file(BackupRun::TemporaryBackupName("Sales")).string());
  // The last statement of the step: the server read back the temporary file (a 2000-level
  // server: no CHECKSUM option).
  EXPECT_EQ(data.ADOQuerySQLBackup.sql_text(), server::restore_verifyonly_statement(seen, false));
  const std::vector<std::string> lines = all_log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "2026-12-06 12:00:00\tby hand\tSales\tSales.Dat\tbackup verified\t");
  EXPECT_EQ(lines[1], "2026-12-06 12:00:00\tby hand\tSales\tSales.Dat\tbacked up\t");
  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat"}));
}

TEST_F(VerifyRunTest, ServerFrom2005OnIsAskedForChecksums) {
  server::register_local_server(2, server::default_engine_folder(), true);
  data.ADOConnectionSQLC.close();
  data.ADOConnectionSQLC.open(settings::WindowsConnectionString());
  make_database("Sales", 5);
  fs::create_directories(folder);
  std::vector<std::string> statements;
  run->OnBackupWritten = [&](const std::string&) { statements.push_back(data.ADOQuerySQLBackup.sql_text()); };

  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));

  const std::string temporary = file(BackupRun::TemporaryBackupName("Sales")).string();
  EXPECT_EQ(statements, std::vector<std::string>{server::backup_statement("Sales", temporary, true)});
  EXPECT_EQ(data.ADOQuerySQLBackup.sql_text(), server::restore_verifyonly_statement(temporary, true));
}

// One byte flipped after the server wrote the file: the server's verify refuses it, the run
// reports it as a failed backup, the previous file stays byte for byte.
TEST_F(VerifyRunTest, FlippedByteAfterTheServerWroteIsRefusedAndThePreviousFileKept) {
  make_database("Sales", 200);
  set_system(folder, true, true);
  view.selected = {row_of("Sales")};
  run->BitBtn4Click();
  const std::string previous = orv::test::read_file(file("Sales.Dat"));
  const std::string previous_zip = orv::test::read_file(file("Sales.zip"));
  const dal::Value previous_time = last_time("Sales");
  {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Sales"));
    c.execute("DELETE FROM t");  // tonight's mistake must not replace the good copy
  }
  clock.set(sunday(13, 0));
  view.written_queue.clear();
  run->OnBackupWritten = [](const std::string& temporary) { flip_middle_byte(temporary); };

  run->BitBtn4Click();

  EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), previous);
  EXPECT_EQ(orv::test::read_file(file("Sales.zip")), previous_zip);
  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat", "Sales.zip"}));
  EXPECT_EQ(last_time("Sales"), previous_time);
  EXPECT_EQ(count_boxes_with(kBackupFailedText), 1);
  EXPECT_TRUE(view.written_queue.empty());
  const std::vector<std::string> lines = all_log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("\tSales\t\tbackup failed\tDamage to the backup set was detected"), std::string::npos)
      << lines.back();
  for (const auto& l : lines) {
    if (l.rfind("2026-12-06 13:00", 0) == 0) {
      EXPECT_EQ(l.find("verified"), std::string::npos) << l;
    }
  }
}

TEST_F(VerifyRunTest, GoodArchiveIsTestedAndLogged) {
  make_database("Sales", 50);
  set_system(folder, true, false);
  view.selected = {row_of("Sales")};

  run->BitBtn4Click();

  const std::vector<std::string> lines = all_log_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "2026-12-06 12:00:00\tby hand\tSales\tSales.zip\tarchive tested\t");
  EXPECT_EQ(lines[2], "2026-12-06 12:00:00\tby hand\tSales\tSales.zip\tbacked up\t");
  EXPECT_EQ(run->TestArchive(file("Sales.zip").string(), 1), "");
  // A count that does not match is a failed test, with both numbers.
  EXPECT_NE(run->TestArchive(file("Sales.zip").string(), 2).find("0 of 2 entries (1 listed)"), std::string::npos);
}

// One entry's data corrupted after the archiver wrote it: the archive is not renamed over the
// previous one, the run records the backup file and logs a failed zip.
TEST_F(VerifyRunTest, CorruptedEntryIsNotRenamedOverThePreviousArchive) {
  make_database("Sales", 300);
  set_system(folder, true, true);
  view.selected = {row_of("Sales")};
  run->BitBtn4Click();
  const std::string previous_zip = orv::test::read_file(file("Sales.zip"));
  clock.set(sunday(13, 0));
  view.written_queue.clear();
  run->OnArchiveWritten = [](const std::string& temporary) { flip_middle_byte(temporary); };

  run->BitBtn4Click();

  EXPECT_EQ(orv::test::read_file(file("Sales.zip")), previous_zip);
  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat", "Sales.zip"}));
  EXPECT_EQ(last_file("Sales"), "Sales.Dat");
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "Sales.Dat"});
  const std::vector<std::string> lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("\tSales\tSales.Dat\tzip failed\tThe archive test read back 0 of 1 entries"),
            std::string::npos)
      << lines[1];
}

}  // namespace
}  // namespace orv::backup::testing

namespace orv::backup::testing {
namespace {

// Generations: Keep = 3 keeps the newest as Sales.Dat and two older ones, moved up only after
// the new file verified.
class GenerationsTest : public BackupFixture {
 protected:
  void set_keep(int keep) {
    dal::Table& s = data.ADOTableSystem;
    s.edit();
    s.field("Keep").set_string(std::to_string(keep));
    s.post();
  }
  // A backup whose content differs from the previous one.
  std::string backup_now(int minute) {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Sales"));
    c.execute("INSERT INTO t VALUES (" + std::to_string(1000 + minute) + ", 'more')");
    c.close();
    clock.set(sunday(13, minute));
    run->BitBtn4Click();
    return orv::test::read_file(file("Sales.Dat"));
  }
};

TEST_F(GenerationsTest, KeepThreeRotatesOnlyAfterAVerifiedBackup) {
  make_database("Sales", 10);
  set_system(folder, true, true);
  set_keep(3);
  view.selected = {row_of("Sales")};
  std::vector<std::string> made;
  for (int i = 0; i < 4; ++i) made.push_back(backup_now(i));
  EXPECT_EQ(run->Keep(), 3);
  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat", "Sales.1.Dat", "Sales.2.Dat", "Sales.zip",
                                                    "Sales.1.zip", "Sales.2.zip"}));
  EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), made[3]);
  EXPECT_EQ(orv::test::read_file(file("Sales.1.Dat")), made[2]);
  EXPECT_EQ(orv::test::read_file(file("Sales.2.Dat")), made[1]);
  // The disc gets the newest only; the grid records it.
  EXPECT_EQ(view.written_queue, std::vector<std::string>{folder + "Sales.zip"});
  EXPECT_EQ(last_file("Sales"), "Sales.zip");

  // A backup that fails its verify moves nothing.
  run->OnBackupWritten = [](const std::string& temporary) { flip_middle_byte(temporary); };
  backup_now(10);
  EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), made[3]);
  EXPECT_EQ(orv::test::read_file(file("Sales.1.Dat")), made[2]);
  EXPECT_EQ(orv::test::read_file(file("Sales.2.Dat")), made[1]);
}

TEST_F(GenerationsTest, KeepOneIsTodaysSingleFile) {
  make_database("Sales", 10);
  view.selected = {row_of("Sales")};
  backup_now(0);
  const std::string second = backup_now(1);
  EXPECT_EQ(run->Keep(), 1);
  EXPECT_EQ(listing(folder), (std::set<std::string>{"Sales.Dat"}));
  EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), second);
}

// The rotation stopped at any of its steps (each rename and link failing in turn, as a kill
// there would leave it): the newest verified backup is still Sales.Dat, whole, and no older
// generation is lost except the one the rotation drops.
TEST_F(GenerationsTest, RotationStoppedAtAnyStepKeepsTheNewestVerifiedFile) {
  make_database("Sales", 10);
  fs::create_directories(folder);
  run->SetKeep(3);
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  const std::string g2 = orv::test::read_file(file("Sales.Dat"));
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  const std::string g1 = orv::test::read_file(file("Sales.1.Dat"));
  const std::string g0 = orv::test::read_file(file("Sales.Dat"));
  ASSERT_EQ(orv::test::read_file(file("Sales.2.Dat")), g2);
  int stops = 0;
  for (long n = 1; n < 400; ++n) {
    // Back to three generations before each attempt.
    orv::test::write_file(file("Sales.Dat"), g0);
    orv::test::write_file(file("Sales.1.Dat"), g1);
    orv::test::write_file(file("Sales.2.Dat"), g2);
    platform::io::inject_fault(platform::io::Fault::IoError, n);
    const bool ok = run->BackupDatabase("Sales", folder + "Sales.Dat");
    const bool fired = platform::io::fault_fired();
    platform::io::clear_fault();
    if (!fired) break;
    if (ok) continue;
    ++stops;
    SCOPED_TRACE("stopped at call " + std::to_string(n));
    EXPECT_EQ(orv::test::read_file(file("Sales.Dat")), g0);
    const std::set<std::string> names = listing(folder);
    for (const auto& name : names) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    // Generation 1 is either still g1, moved up to 2 (and then linked anew to g0).
    const std::string one = fs::exists(file("Sales.1.Dat")) ? orv::test::read_file(file("Sales.1.Dat")) : "";
    const std::string two = orv::test::read_file(file("Sales.2.Dat"));
    EXPECT_TRUE((one == g1 && two == g2) || (one.empty() && two == g1) || (one == g0 && two == g1));
  }
  EXPECT_GT(stops, 0);
}

}  // namespace
}  // namespace orv::backup::testing

namespace orv::backup::testing {
namespace {

class TestRestoreTest : public BackupFixture {
 protected:
  std::vector<std::string> databases() {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    dal::Query q(c);
    q.set_sql({"sp_databases"});
    q.open();
    std::vector<std::string> names;
    for (q.first(); !q.eof(); q.next()) names.push_back(q.field("DATABASE_NAME").as_string());
    return names;
  }
  // Database files of the server made for a scratch database (the engine's empty lock files
  // stay, as for every database it has opened); `taken` is a real database of such a name.
  std::vector<std::string> scratch_files(const std::string& taken = "") {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(server::default_engine_folder() / "data")) {
      const std::string bare = e.path().filename().string();
      if (bare.find("_verify_") != std::string::npos && (taken.empty() || bare.rfind(taken + ".", 0) != 0))
        found.push_back(e.path().string());
    }
    return found;
  }
  std::string verified(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    return t.text_at(row_of(name), t.field("Verified").index());
  }
  void choose(const std::string& name, const char* choice) {
    dal::Table& t = data.ADOTableDatabase;
    ASSERT_TRUE(t.locate("Veri_Tabani_Adi", name));
    t.edit();
    t.field("Test_Restore").set_string(choice);
    t.post();
  }
};

TEST_F(TestRestoreTest, GoodBackupRestoresUnderAScratchNameThatIsDroppedAfterwards) {
  make_database("Sales", 30);
  make_database("Sales_verify_1", 1);  // the first scratch name is taken
  fs::create_directories(folder);
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  const std::vector<std::string> before = databases();

  EXPECT_TRUE(run->TestRestoreDatabase("Sales"));

  EXPECT_EQ(databases(), before);
  EXPECT_TRUE(scratch_files("Sales_verify_1").empty()) << scratch_files("Sales_verify_1").front();
  const std::vector<std::string> lines = all_log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "2026-12-06 12:00:00\tby hand\tSales\tSales.Dat\trestore test passed\t");
  EXPECT_EQ(verified("Sales"), "passed 2026-12-06 12:00");
}

TEST_F(TestRestoreTest, DamagedBackupFailsAndLeavesNoScratchDatabaseOrFile) {
  make_database("Sales", 200);
  fs::create_directories(folder);
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  flip_middle_byte(file("Sales.Dat"));
  const std::vector<std::string> before = databases();

  EXPECT_FALSE(run->TestRestoreDatabase("Sales"));

  EXPECT_EQ(databases(), before);
  EXPECT_TRUE(scratch_files().empty()) << scratch_files().front();
  const std::vector<std::string> lines = all_log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("\tSales\tSales.Dat\trestore test failed\tRESTORE detected an error"), std::string::npos)
      << lines.back();
  EXPECT_EQ(verified("Sales"), "failed 2026-12-06 12:00");
}

TEST_F(TestRestoreTest, TablesThatDifferFromTheLiveDatabaseFail) {
  make_database("Sales", 5);
  fs::create_directories(folder);
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Sales"));
    c.execute("CREATE TABLE Added (x INTEGER)");
  }
  const TestRestoreOutcome outcome = TestRestore(data.ADOQuerySQLBackup, "Sales", folder + "Sales.Dat");
  EXPECT_FALSE(outcome.passed);
  EXPECT_EQ(outcome.error, "The restored tables differ from the live database's: missing Added");
  EXPECT_TRUE(scratch_files().empty()) << scratch_files().front();
}

TEST_F(TestRestoreTest, RowChoiceDecidesWhetherTheRunTestsAfterTheBackup) {
  make_database("Always", 3);
  make_database("Weekly", 3);
  make_database("Never", 3);
  choose("Always", settings::kTestRestoreAlways);
  choose("Weekly", settings::kTestRestoreWeekly);
  view.selected = {row_of("Always"), row_of("Weekly"), row_of("Never")};

  run->BitBtn4Click();
  clock.set(sunday(13, 0));
  run->BitBtn4Click();  // within the week: Weekly is not due again

  int always = 0, weekly = 0, never = 0;
  for (const auto& l : all_log_lines()) {
    if (l.find("restore test passed") == std::string::npos) continue;
    always += l.find("\tAlways\t") != std::string::npos;
    weekly += l.find("\tWeekly\t") != std::string::npos;
    never += l.find("\tNever\t") != std::string::npos;
  }
  EXPECT_EQ(always, 2);
  EXPECT_EQ(weekly, 1);
  EXPECT_EQ(never, 0);
  EXPECT_EQ(verified("Never"), "");
  EXPECT_EQ(verified("Always"), "passed 2026-12-06 13:00");
  EXPECT_EQ(verified("Weekly"), "passed 2026-12-06 12:00");
}

}  // namespace
}  // namespace orv::backup::testing

namespace orv::backup::testing {
namespace {

class TestRestoreSourceTest : public BackupFixture {
 protected:
  std::string verified(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    return t.text_at(row_of(name), t.field("Verified").index());
  }
};

TEST_F(TestRestoreSourceTest, ArchiveAloneIsExtractedForTheTestAndItsFolderRemoved) {
  make_database("Sales", 20);
  fs::create_directories(folder);
  ASSERT_TRUE(run->BackupDatabase("Sales", folder + "Sales.Dat"));
  ASSERT_EQ(run->ZipBackupFile(folder + "Sales.Dat", "Sales"), 1);
  fs::remove(file("Sales.Dat"));

  EXPECT_TRUE(run->TestRestoreDatabase("Sales"));

  EXPECT_EQ(listing(fs::path(folder)), std::set<std::string>{"Sales.zip"});
  const std::vector<std::string> lines = all_log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "2026-12-06 12:00:00\tby hand\tSales\tSales.Dat\trestore test passed\t");
}

TEST_F(TestRestoreSourceTest, NoBackupAtAllIsAFailedTestNamingBothFiles) {
  make_database("Sales", 1);
  fs::create_directories(folder);

  EXPECT_FALSE(run->TestRestoreDatabase("Sales"));

  const std::vector<std::string> lines = all_log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("restore test failed\tNo backup file: neither " + folder + "Sales.Dat nor " + folder +
                              "Sales.zip exists"),
            std::string::npos)
      << lines.back();
  EXPECT_EQ(verified("Sales"), "failed 2026-12-06 12:00");
  EXPECT_TRUE(listing(fs::path(folder)).empty());
}

TEST_F(TestRestoreSourceTest, VerifyByRestoringTestsEverySelectedDatabaseAndShowsOneBox) {
  make_database("Good", 5);
  make_database("Bad", 200);
  make_database("Other", 5);
  fs::create_directories(folder);
  ASSERT_TRUE(run->BackupDatabase("Good", folder + "Good.Dat"));
  ASSERT_TRUE(run->BackupDatabase("Bad", folder + "Bad.Dat"));
  flip_middle_byte(file("Bad.Dat"));
  view.selected = {row_of("Good"), row_of("Bad")};

  run->VerifyByRestoring();

  ASSERT_EQ(dialogs.boxes().size(), 1u);
  const ui::Box box = dialogs.boxes().front();
  EXPECT_EQ(box.kind, ui::BoxKind::Error);
  EXPECT_EQ(box.text.rfind("Good: restore test passed\nBad: restore test failed (RESTORE detected an error", 0), 0u)
      << box.text;
  EXPECT_EQ(verified("Good"), "passed 2026-12-06 12:00");
  EXPECT_EQ(verified("Bad"), "failed 2026-12-06 12:00");
  EXPECT_EQ(verified("Other"), "");

  // All passed: an information box.
  view.selected = {row_of("Good")};
  run->VerifyByRestoring();
  ASSERT_EQ(dialogs.boxes().size(), 2u);
  EXPECT_EQ(dialogs.boxes().back().kind, ui::BoxKind::Information);
  EXPECT_EQ(dialogs.boxes().back().text, "Good: restore test passed");
}

}  // namespace
}  // namespace orv::backup::testing
