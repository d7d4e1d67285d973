// The run's checks before a new file replaces the previous one: the server verifies the backup
// file (RESTORE VERIFYONLY), the zip engine reads every entry of the archive back.
#include <gtest/gtest.h>

#include <set>

#include "backup_fixture.h"
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
