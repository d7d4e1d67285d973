// The shipped settings database: its tables as SQLite's own tool reads them, the delivered
// translations, the build step that never overwrites an operator's file, and the console
// program that prints the schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "settings_db.h"
#include "test_env.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

std::string sqlite3_cli(const fs::path& db, const std::string& sql) {
  CommandResult r = run_command("sqlite3 -batch -separator '|' " + shell_quote(db.string()) + " " + shell_quote(sql));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ShippedDb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_program("sqlite3")) GTEST_SKIP() << "sqlite3 command-line tool not installed";
  }
  TestEnv env;
  fs::path db = make_settings_db(env.home());
};

TEST_F(ShippedDb, TablesColumnsAndWidths) {
  std::vector<std::string> expected = {"Veri_Tabani_Adi|VARCHAR(255)", "Son_Yedek_Tarih|DATETIME",
                                       "Son_Yedek_Dosya_Adi|VARCHAR(255)"};
  for (const char* suffix : {"", "_T", "_CD", "_Zip"}) {
    const char* const flags[] = {"Pazar", "P_Tesi", "Sali", "Carsamba", "PErsembe", "Cuma", "C_Tesi"};
    const char* const discs[] = {"Pzr", "Pts", "Sl", "C", "Prs", "Cm", "Cts"};
    for (int i = 0; i < 7; ++i) {
      std::string s = suffix;
      std::string name = (s == "" || s == "_T") ? std::string(flags[i]) + s : std::string(discs[i]) + s;
      expected.push_back(name + (s == "_T" ? "|DATETIME" : "|VARCHAR(5)"));
    }
  }
  expected.push_back("Test_Restore|VARCHAR(10)");
  expected.push_back("Verified|VARCHAR(255)");
  expected.push_back("Verified_Tarih|DATETIME");
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(lines(sqlite3_cli(db, "SELECT name, type FROM pragma_table_info('Database_List')"))), sorted(expected));
  EXPECT_EQ(expected.size(), 34u);
  EXPECT_EQ(lines(sqlite3_cli(db, "SELECT name, type FROM pragma_table_info('System') ORDER BY cid")),
            (std::vector<std::string>{"Kimlik|INTEGER", "User_Name|VARCHAR(255)", "Passw|VARCHAR(255)",
                                      "Temp_Dizini|VARCHAR(255)", "Author|VARCHAR(5)", "Ziple|VARCHAR(5)",
                                      "CD_Yaz|VARCHAR(5)", "Keep|INTEGER"}));
  EXPECT_EQ(lines(sqlite3_cli(db, "SELECT name, type FROM pragma_table_info('Language_Tbl') ORDER BY cid")),
            (std::vector<std::string>{"Degisken|VARCHAR(150)", "English|VARCHAR(255)", "Language|VARCHAR(255)"}));
  EXPECT_EQ(sqlite3_cli(db, "SELECT tbl_name FROM sqlite_master WHERE type='index' AND name='PrimaryKey'"),
            "Database_List\n");
  EXPECT_EQ(sqlite3_cli(db, "SELECT count(*) FROM Database_List; SELECT count(*) FROM System"), "0\n0\n");
}

TEST_F(ShippedDb, DeliversTheMessageStringsAndCaptionsInEnglish) {
  const std::vector<std::string> keys = {
      "Suc_Conc_Str", "Connect", "Err_Cont_Str", "Err_Conc_Str", "MSSQL_Exit_Str", "MS_Not_Found", "Drive_Str",
      "CD_Error3_Str", "CD_Add_File_Str", "CD_Start_Str", "CD_Skip1_Str", "CD_Skip2_Str", "CD_Error1_Str",
      "CD_Error2_Str", "CD_Write1_Str", "CD_Write2_Str", "Session_Str", "Index_Rebuild_Str", "Index_Rebuild_Bsk_Str",
      "Table_Rebuild_Str", "Table_Rebuild_Bsk_Str", "Backup_Str", "Backup_Str_Bsk", "Restore_Str", "Restore_Str_Bsk",
      "Opera_Error_Str", "Opera_Error_Str_Bsk", "Last_Backup_Time", "Last_Backup_Path", "Directory_Create_Error_Str",
      "Directory_Create_Error_Str_Bsk", "Backup_Comp_Str", "Restore_Bsk_Str", "Backup1_Str", "Check_Bck_Str",
      "Check_Zip_Str", "Write_CD_Str", "Extract_Zip_Str", "Check_Direc_Str", "Restore_Dtb_Str", "Restore_Comp_Str",
      "Backup_To_Str", "Backup_To_Direct_Str"};
  ASSERT_EQ(keys.size(), 43u);
  std::map<std::string, std::string> english;
  for (const std::string& line : lines(sqlite3_cli(db, "SELECT Degisken, English, Language = English FROM Language_Tbl"))) {
    size_t a = line.find('|'), b = line.rfind('|');
    english[line.substr(0, a)] = line.substr(a + 1, b - a - 1);
    EXPECT_EQ(line.substr(b + 1), "1") << line;  // the shown text is the English one
  }
  for (const std::string& key : keys) {
    ASSERT_TRUE(english.count(key)) << key;
    EXPECT_FALSE(english[key].empty()) << key;
    if (key != "Connect") {
      EXPECT_NE(english[key], key) << key << " has no real wording";
    }
  }
  EXPECT_NE(english["Directory_Create_Error_Str"].find("<Directory>"), std::string::npos);
  EXPECT_NE(english["Backup_To_Direct_Str"].find("<Directory>"), std::string::npos);
  EXPECT_NE(english["Backup_To_Str"].find("<Database>"), std::string::npos);
  for (const char* caption : {"ORVAKELL", "Archive files only && Clear Archive Bit", "Memory : ", "RESTORE", "Restore",
                              "CANCEL", "BACKUP1", "Monday", "Sunday", "Your Language", "Connection Setting", "PATH",
                              "Yazdıktan Sonra Diski Çıkart", "REPAIR TABLE", "-"})
    EXPECT_TRUE(english.count(caption)) << caption;
  EXPECT_TRUE(english.count(english["Restore_Str"])) << "the restore window's label is keyed by its text";
}

TEST_F(ShippedDb, MakingItAgainNeverOverwritesAnExistingFile) {
  sqlite3_cli(db, "INSERT INTO Database_List (Veri_Tabani_Adi, Pazar) VALUES ('operator', 'True')");
  make_settings_db(env.home());
  EXPECT_EQ(sqlite3_cli(db, "SELECT Veri_Tabani_Adi || Pazar FROM Database_List"), "operatorTrue\n");
  // A broken script leaves no file at all.
  fs::create_directories(env.work());
  write_file(env.work() / "broken.sql", "CREATE TABLE A (x);\nTHIS IS NOT SQL;\n");
  CommandResult r = run_command(shell_quote(settings_db_maker().string()) + " " +
                                shell_quote((env.work() / "broken.sql").string()) + " " +
                                shell_quote((env.work() / "Velmora.db").string()));
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("syntax error"), std::string::npos) << r.output;
  std::vector<fs::path> left;
  for (const auto& e : fs::directory_iterator(env.work())) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<fs::path>{"broken.sql"}) << "left a database or a temporary file behind";
}

TEST(BuiltDb, TheBuildShipsTheSettingsDatabaseInTheBinFolder) {
  fs::path shipped = bin_dir() / "Velmora.db";
  ASSERT_TRUE(fs::exists(shipped));
  if (!have_program("sqlite3")) GTEST_SKIP() << "sqlite3 command-line tool not installed";
  CommandResult r = run_command("sqlite3 -batch " + shell_quote(shipped.string()) +
                                " \"SELECT count(*) FROM Language_Tbl WHERE Degisken = 'Backup_To_Direct_Str'\"");
  EXPECT_EQ(r.output, "1\n");
}

TEST_F(ShippedDb, ScheduleProgramPrintsTheScheduleAndNeverCreatesTheFile) {
  sqlite3_cli(db, "INSERT INTO Database_List (Veri_Tabani_Adi, P_Tesi, P_Tesi_T, Pts_Zip, Cuma, Cuma_T, Cm_CD) "
                  "VALUES ('sales', 'True', 0.4375, 'True', 'False', 0.5, 'True')");
  sqlite3_cli(db, "INSERT INTO System (Temp_Dizini) VALUES ('/srv/orvakell/')");
  const std::string program = shell_quote((bin_dir() / "orvakell-schedule").string());
  CommandResult r = run_command("ORVAKELL_HOME=" + shell_quote(env.home().string()) + " " + program);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Working folder: /srv/orvakell/"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("sales\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Monday     10:30  zip\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("Friday"), std::string::npos) << r.output;  // switched off
  EXPECT_NE(r.output.find("Due now ("), std::string::npos) << r.output;

  fs::path empty = env.work() / "install";
  fs::create_directories(empty);
  r = run_command("ORVAKELL_HOME=" + shell_quote(empty.string()) + " " + program);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("unable to open database file"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(empty / "Velmora.db"));
}

}  // namespace
}  // namespace orv::test
