// The upgrade step of the settings database: a Velmora.db made before the newer columns opens,
// gains them, and keeps every row and value.
#include <gtest/gtest.h>

#include "settings/store/settings_store.h"
#include "settings_db.h"
#include "test_env.h"

namespace orv::settings {
namespace {

namespace fs = std::filesystem;

std::string sqlite3_cli(const fs::path& db, const std::string& sql) {
  orv::test::CommandResult r =
      orv::test::run_command("sqlite3 -batch -separator '|' " + orv::test::shell_quote(db.string()) + " " +
                             orv::test::shell_quote(sql));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

TEST(SettingsUpgrade, AnEarlierDatabaseGainsTheNewColumnsAndKeepsEveryRow) {
  if (!orv::test::have_program("sqlite3")) GTEST_SKIP() << "sqlite3 command-line tool not installed";
  orv::test::TestEnv env;
  const fs::path db = orv::test::make_settings_db(env.home());
  // As an earlier release shipped it: without the added columns, with an operator's rows.
  for (const SchemaColumn& c : kAddedColumns)
    sqlite3_cli(db, std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column);
  sqlite3_cli(db,
              "INSERT INTO Database_List (Veri_Tabani_Adi, Son_Yedek_Dosya_Adi, Pazar, Pazar_T, Pzr_Zip) "
              "VALUES ('Sales', 'Sales.zip', 'True', 0.5, 'True'), ('Payroll', NULL, 'False', 0.25, 'False');"
              "INSERT INTO System (Temp_Dizini, Ziple, CD_Yaz) VALUES ('/srv/backups/', 'True', 'False');");
  const std::string list_before = sqlite3_cli(db, "SELECT * FROM Database_List ORDER BY 1");
  const std::string system_before = sqlite3_cli(db, "SELECT * FROM System");
  ASSERT_EQ(system_before, "1|||/srv/backups/||True|False\n");

  for (int open = 0; open < 2; ++open) {  // a second open finds nothing to add
    SettingsStore store;
    store.Open(env.home());
    EXPECT_EQ(store.ADOTableDatabase.record_count(), 2);
    ASSERT_NE(store.ADOTableSystem.find_field("Keep"), nullptr);
    EXPECT_EQ(store.ADOTableSystem.field("Keep").as_string(), "1");
    EXPECT_EQ(store.ADOTableSystem.field("Temp_Dizini").as_string(), "/srv/backups/");
  }
  // Every earlier column and value as it was; the new column at the end with its default.
  std::string list_after = list_before;  // each row gains Test_Restore 'Never' and two empty columns
  for (std::size_t at = list_after.find('\n'); at != std::string::npos; at = list_after.find('\n', at + 9))
    list_after.insert(at, "|Never||");
  EXPECT_EQ(sqlite3_cli(db, "SELECT * FROM Database_List ORDER BY 1"), list_after);
  EXPECT_EQ(sqlite3_cli(db, "SELECT * FROM System"), "1|||/srv/backups/||True|False|1\n");
}

}  // namespace
}  // namespace orv::settings
