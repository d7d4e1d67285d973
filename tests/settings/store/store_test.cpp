// The settings store's operations and rules on a freshly made settings database.
#include "settings/store/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/schedule.h"
#include "settings_db.h"
#include "test_env.h"

namespace orv::settings {
namespace {

namespace fs = std::filesystem;
using dal::DataSetState;
using dal::DateTime;

std::string stored(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::string out = "(no row)";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    out = sqlite3_column_type(st, 0) == SQLITE_NULL ? "(null)" : reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store.Open(env.home()); }

  // A row added as the list refresh adds one.
  void add_database(const std::string& name) {
    store.ADOTableDatabase.append();
    store.ADOTableDatabase.field("Veri_Tabani_Adi").set_string(name);
    store.ADOTableDatabase.post();
  }

  test::TestEnv env;
  fs::path db = test::make_settings_db(env.home());
  SettingsStore store;
};

TEST(StoreOpen, MissingLockedOrDamagedFileThrowsTheProviderTextAndLeavesNothingOpen) {
  test::TestEnv env;
  SettingsStore store;
  try {
    store.Open(env.home());
    FAIL() << "opened a file that does not exist";
  } catch (const dal::ProviderError& e) {
    EXPECT_EQ(std::string(e.what()), std::string(sqlite3_errstr(SQLITE_CANTOPEN)) + ": " + (env.home() / "Velmora.db").string());
  }
  EXPECT_FALSE(fs::exists(env.home() / "Velmora.db"));
  EXPECT_FALSE(store.ADOConnection1.connected());

  fs::create_directories(env.home());
  test::write_file(env.home() / "Velmora.db", "Standard Jet DB, but not really");
  EXPECT_THROW(store.Open(env.home()), dal::ProviderError);
  EXPECT_FALSE(store.ADOTableDatabase.active());

  fs::remove(env.home() / "Velmora.db");
  test::make_settings_db(env.home());
  sqlite3* other = nullptr;
  sqlite3_open((env.home() / "Velmora.db").c_str(), &other);
  sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  store.ADOConnection1.set_connection_timeout(std::chrono::seconds(1));
  try {
    store.Open(env.home());
    FAIL() << "opened a locked file";
  } catch (const dal::ProviderError& e) {
    EXPECT_NE(std::string(e.what()).find(sqlite3_errstr(SQLITE_BUSY)), std::string::npos) << e.what();
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  store.Open(env.home());
  EXPECT_EQ(store.ADOTableDatabase.record_count(), 0);  // first start
  EXPECT_EQ(store.ADOConnection1.command_timeout(), std::chrono::seconds(3000000));
}

TEST(StoreOpen, FolderNamesWithSeparatorsOrQuotesOpenTheRightFile) {
  test::TestEnv env;
  for (const char* name : {"plain", "semi;colon", "quote\"d", "{braced}", " spaced "}) {
    SCOPED_TRACE(name);
    fs::path folder = env.work() / name;
    test::make_settings_db(folder);
    dal::ConnectionString cs(settings_connection_string(folder));
    EXPECT_EQ(cs.get("Provider"), "SQLite");
    EXPECT_EQ(cs.get("Data Source"), (folder / "Velmora.db").string());
    SettingsStore store;
    EXPECT_NO_THROW(store.Open(folder));
  }
}

TEST_F(StoreTest, NewRowHasEveryTimeAtMidnightEveryDayOffAndEmptyDiscAndZipFlags) {
  add_database("sales");
  EXPECT_EQ(store.ADOTableDatabase.record_count(), 1);
  for (const DayColumns& d : kDays) {
    SCOPED_TRACE(d.band_caption);
    EXPECT_EQ(store.ADOTableDatabase.field(d.flag).as_string(), "False");
    EXPECT_FALSE(store.ADOTableDatabase.field(d.time).is_null());
    EXPECT_EQ(store.ADOTableDatabase.field(d.time).as_date_time(), DateTime{0});
    EXPECT_TRUE(store.ADOTableDatabase.field(d.disc).is_null());
    EXPECT_TRUE(store.ADOTableDatabase.field(d.zip).is_null());
    // And so the file holds them.
    EXPECT_EQ(stored(db, std::string("SELECT ") + d.flag + " || '|' || (" + d.time + " = 0) || '|' || typeof(" + d.disc +
                             ") FROM Database_List"),
              "False|1|null");
  }
  // Never due, whatever the day and time.
  dal::set_sqlite_clock([] { return DateTime{0}; });
  for (int day = 1; day <= 7; ++day) {
    open_schedule_query(store.ADOQueryZamanlama, day);
    EXPECT_EQ(store.ADOQueryZamanlama.record_count(), 0) << day;
  }
  dal::set_sqlite_clock(nullptr);
}

TEST_F(StoreTest, ChangingADayTimeSwitchesThatDayOnAndClearingTheDayKeepsTheTime) {
  add_database("sales");
  dal::Table& t = store.ADOTableDatabase;
  int flag_sets = 0;
  t.edit();
  t.field("Sali_T").set_date_time(dal::encode_time(21, 15));
  EXPECT_EQ(t.field("Sali").as_string(), "True");
  EXPECT_EQ(t.field("Carsamba").as_string(), "False");  // other days untouched
  t.post();
  EXPECT_EQ(stored(db, "SELECT Sali FROM Database_List"), "True");

  // Already on: a second change leaves the flag alone (no set, so no change event).
  t.set_on_field_change("Sali", [&](dal::Field&) { ++flag_sets; });
  t.edit();
  t.field("Sali_T").set_date_time(dal::encode_time(22, 0));
  EXPECT_EQ(flag_sets, 0);
  EXPECT_EQ(t.field("Sali").as_string(), "True");
  // Switching the day off keeps the time for later.
  t.field("Sali").set_string("False");
  t.post();
  EXPECT_EQ(dal::format_hh_mm(t.field("Sali_T").as_date_time()), "22:00");
  EXPECT_EQ(stored(db, "SELECT Sali || ' ' || round(Sali_T * 24) FROM Database_List"), "False 22.0");

  // A flag stored in another letter case counts as off: the rule sets it to "True".
  t.edit();
  t.field("Cuma").set_string("true");
  t.field("Cuma_T").set_date_time(dal::encode_time(1, 0));
  EXPECT_EQ(t.field("Cuma").as_string(), "True");
  t.post();
}

TEST_F(StoreTest, LastBackupIsRecordedOnlyOnTheRowWithExactlyThatName) {
  add_database("Sales");
  add_database("sales2");
  const DateTime finished = dal::encode_date_time({2026, 12, 9, 2, 31, 7, 0});
  EXPECT_FALSE(store.RecordLastBackup("sales", "sales.Dat", finished));
  EXPECT_FALSE(store.RecordLastBackup("Sale", "Sale.Dat", finished));
  EXPECT_EQ(stored(db, "SELECT count(*) FROM Database_List WHERE Son_Yedek_Dosya_Adi IS NOT NULL"), "0");
  EXPECT_TRUE(store.RecordLastBackup("Sales", "Sales.zip", finished));
  EXPECT_EQ(store.ADOTableDatabase.state(), DataSetState::Browse);
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi FROM Database_List WHERE Veri_Tabani_Adi='Sales'"), "Sales.zip");
  EXPECT_EQ(stored(db, "SELECT typeof(Son_Yedek_Tarih) FROM Database_List WHERE Veri_Tabani_Adi='Sales'"), "real");
  {
    SettingsStore again;
    again.Open(env.home());
    ASSERT_TRUE(again.ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
    EXPECT_EQ(again.ADOTableDatabase.field("Son_Yedek_Tarih").as_date_time(), finished);
    EXPECT_EQ(again.ADOTableDatabase.field("Son_Yedek_Tarih").as_string(), "2026-12-09 02:31:07");
  }
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi FROM Database_List WHERE Veri_Tabani_Adi='sales2'"), "(null)");
  // A file name too long for its column is refused, and the row keeps its earlier record.
  EXPECT_THROW(store.RecordLastBackup("Sales", std::string(260, 'f'), finished), dal::ProviderError);
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi FROM Database_List WHERE Veri_Tabani_Adi='Sales'"), "Sales.zip");
  EXPECT_EQ(store.ADOTableDatabase.state(), DataSetState::Browse);
  EXPECT_EQ(store.ADOTableDatabase.field("Son_Yedek_Dosya_Adi").as_string(), "Sales.zip");
}

TEST_F(StoreTest, ABackupForARowDeletedMeanwhileChangesNoRowAndLeavesTheTableUsable) {
  add_database("gone");
  add_database("kept");
  {
    dal::DataConnection other;
    other.open(settings_connection_string(env.home()));
    other.execute("DELETE FROM Database_List WHERE Veri_Tabani_Adi = 'gone'");
  }
  try {
    store.RecordLastBackup("gone", "gone.Dat", DateTime{1});
    ADD_FAILURE() << "recorded a backup on a row that no longer exists";
  } catch (const dal::ProviderError& e) {
    EXPECT_NE(std::string(e.what()).find("Row cannot be located"), std::string::npos) << e.what();
  }
  EXPECT_EQ(store.ADOTableDatabase.state(), DataSetState::Browse);
  EXPECT_EQ(stored(db, "SELECT count(*) FROM Database_List WHERE Son_Yedek_Dosya_Adi IS NOT NULL"), "0");
  // The next record goes through.
  EXPECT_TRUE(store.RecordLastBackup("kept", "kept.Dat", DateTime{1}));
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi FROM Database_List WHERE Veri_Tabani_Adi='kept'"), "kept.Dat");
}

TEST_F(StoreTest, PendingSystemEditsArePostedAndTheFirstEditOfAnEmptySystemCreatesTheRow) {
  dal::Table& s = store.ADOTableSystem;
  ASSERT_EQ(s.record_count(), 0);
  store.PostPendingSystemEdit();  // nothing pending: nothing happens
  EXPECT_EQ(stored(db, "SELECT count(*) FROM System"), "0");
  s.edit();
  s.field("Temp_Dizini").set_string("/srv/orvakell/");
  EXPECT_EQ(stored(db, "SELECT count(*) FROM System"), "0");
  store.PostPendingSystemEdit();
  EXPECT_EQ(s.state(), DataSetState::Browse);
  EXPECT_EQ(stored(db, "SELECT count(*) || ' ' || Temp_Dizini FROM System"), "1 /srv/orvakell/");
  s.edit();
  s.field("Ziple").set_string("True");
  store.PostPendingSystemEdit();
  EXPECT_EQ(stored(db, "SELECT count(*) || ' ' || Ziple FROM System"), "1 True");
}

TEST_F(StoreTest, AWeekGridEditStillPendingIsNotSeenByTheScheduler) {
  add_database("sales");
  dal::Table& t = store.ADOTableDatabase;
  dal::set_sqlite_clock([] { return dal::encode_date_time({2026, 12, 6, 2, 30, 0, 0}); });  // Sunday
  t.edit();
  t.field("Pazar_T").set_date_time(dal::encode_time(2, 30));  // switches Sunday on, not posted
  store.PostPendingSystemEdit();
  open_schedule_query(store.ADOQueryZamanlama, 1);
  EXPECT_EQ(store.ADOQueryZamanlama.record_count(), 0);
  t.post();
  open_schedule_query(store.ADOQueryZamanlama, 1);
  EXPECT_EQ(store.ADOQueryZamanlama.record_count(), 1);
  dal::set_sqlite_clock(nullptr);
}

}  // namespace
}  // namespace orv::settings
