// The SQLite provider: opening (never creating) the file, its errors, the clock functions the
// scheduler's query relies on, column widths and date-time storage.
#include "dal/sqlite_driver.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "dal/datetime.h"
#include "settings_db.h"
#include "test_env.h"

namespace orv::dal {
namespace {

namespace fs = std::filesystem;

std::string conn_string(const fs::path& file) { return "Provider=SQLite;Data Source=" + file.string(); }

std::unique_ptr<Connection> connect(const fs::path& file, int connection_timeout_s = 5) {
  register_sqlite_driver();
  ConnectOptions options;
  options.connection_timeout = std::chrono::seconds(connection_timeout_s);
  options.command_timeout = std::chrono::seconds(30);
  return open_connection(ConnectionString(conn_string(file)), options);
}

// Runs SQL on the file through SQLite itself, not through the provider under test.
void raw_exec(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::string provider_error_text(const std::function<void()>& action) {
  try {
    action();
  } catch (const ProviderError& e) {
    return e.what();
  }
  return "(no error)";
}

class SqliteDriverTest : public ::testing::Test {
 protected:
  test::TestEnv env;
  fs::path db = test::make_settings_db(env.home());
};

TEST_F(SqliteDriverTest, MissingFileFailsWithSqliteTextAndIsNotCreated) {
  fs::path missing = env.work() / "nowhere" / "Velmora.db";
  fs::create_directories(env.work());
  fs::path missing_here = env.work() / "Velmora.db";
  EXPECT_EQ(provider_error_text([&] { connect(missing); }),
            std::string(sqlite3_errstr(SQLITE_CANTOPEN)) + ": " + missing.string());
  EXPECT_NE(provider_error_text([&] { connect(missing_here); }).find(sqlite3_errstr(SQLITE_CANTOPEN)), std::string::npos);
  EXPECT_FALSE(fs::exists(missing_here));
  EXPECT_FALSE(fs::exists(missing.parent_path()));
  EXPECT_NE(provider_error_text([] {
              register_sqlite_driver();
              open_connection(ConnectionString("Provider=SQLite"), ConnectOptions{});
            }).find(sqlite3_errstr(SQLITE_CANTOPEN)),
            std::string::npos);
}

TEST_F(SqliteDriverTest, FileThatIsNotADatabaseFailsAndIsLeftAlone) {
  fs::path junk = env.work() / "Velmora.db";
  fs::create_directories(env.work());
  const std::string bytes(4096, 'x');
  test::write_file(junk, bytes);
  EXPECT_EQ(provider_error_text([&] { connect(junk); }), std::string(sqlite3_errstr(SQLITE_NOTADB)) + ": " + junk.string());
  EXPECT_EQ(test::read_file(junk), bytes);
}

TEST_F(SqliteDriverTest, FileLockedByAnotherProgramFailsAfterTheConnectionTimeout) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(provider_error_text([&] { connect(db, 1); }), std::string(sqlite3_errstr(SQLITE_BUSY)) + ": " + db.string());
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_NO_THROW(connect(db, 1));
}

TEST_F(SqliteDriverTest, ClockFunctionsReadStoredTimesWithOrWithoutADate) {
  auto c = connect(db);
  c->execute("CREATE TABLE T (k INTEGER, t DATETIME)", {});
  // Every minute of the day, as a bare time and with a date part, as the provider stores them.
  c->execute("BEGIN", {});
  for (int m = 0; m < 24 * 60; ++m) {
    c->execute("INSERT INTO T VALUES (:k, :t)", {{"k", std::int64_t{m}}, {"t", encode_time(m / 60, m % 60)}});
    c->execute("INSERT INTO T VALUES (:k, :t)",
               {{"k", std::int64_t{m}}, {"t", encode_date_time({2031, 7, 15, m / 60, m % 60, 30, 0})}});
  }
  c->execute("COMMIT", {});
  ResultSet wrong = c->execute("SELECT k, t FROM T WHERE Hour(t) * 60 + Minute(t) <> k", {});
  EXPECT_TRUE(wrong.rows.empty()) << wrong.rows.size() << " rows read at another minute";
  // Times written by hand as text are read too; NULL and junk give NULL.
  ResultSet r = c->execute(
      "SELECT Hour('02:30'), Minute('2020-01-02 07:45:10'), Hour(NULL), Hour('noon'), Second(0.5 + 7.0/86400), Hour(-1.25)", {});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0], Value(std::int64_t{2}));
  EXPECT_EQ(r.rows[0][1], Value(std::int64_t{45}));
  EXPECT_EQ(r.rows[0][2], Value());
  EXPECT_EQ(r.rows[0][3], Value());
  EXPECT_EQ(r.rows[0][4], Value(std::int64_t{7}));
  EXPECT_EQ(r.rows[0][5], Value(std::int64_t{6}));
}

TEST_F(SqliteDriverTest, TimeIsTheClocksTimeOfDayWithoutDate) {
  set_sqlite_clock([] { return encode_date_time({2026, 12, 6, 2, 30, 41, 0}); });
  auto c = connect(db);
  ResultSet r = c->execute("SELECT Time(), Hour(Time()), Minute(Time()), Now()", {});
  set_sqlite_clock(nullptr);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(std::get<double>(r.rows[0][0]), encode_time(2, 30, 41).days);
  EXPECT_EQ(r.rows[0][1], Value(std::int64_t{2}));
  EXPECT_EQ(r.rows[0][2], Value(std::int64_t{30}));
  EXPECT_EQ(std::get<double>(r.rows[0][3]), encode_date_time({2026, 12, 6, 2, 30, 41, 0}).days);
  // Back on the machine's clock.
  ResultSet now = c->execute("SELECT Hour(Time())", {});
  EXPECT_EQ(std::get<std::int64_t>(now.rows[0][0]), hour_of(from_local(std::chrono::system_clock::now())) % 24);
}

TEST_F(SqliteDriverTest, MidnightOfDayZeroRoundTripsAsAValueNotNull) {
  auto c = connect(db);
  RowKey key = c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string("master")}, {"Pazar_T", DateTime{0}}});
  TableRows row = c->read_row("Database_List", key);
  ASSERT_EQ(row.rows.size(), 1u);
  size_t col = 0;
  while (row.columns[col].name != "Pazar_T") ++col;
  EXPECT_EQ(row.columns[col].kind, ValueKind::DateTime);
  EXPECT_EQ(row.rows[0][col], Value(DateTime{0}));
  // Stored as the number 0 (a whole number keeps SQLite's integer form), not as null.
  ResultSet stored = c->execute("SELECT Pazar_T = 0, typeof(Sali_T) FROM Database_List", {});
  EXPECT_EQ(stored.rows[0][0], Value(std::int64_t{1}));
  EXPECT_EQ(stored.rows[0][1], Value(std::string("null")));
}

TEST_F(SqliteDriverTest, TextLongerThanItsColumnIsRefusedAndNothingIsWritten) {
  auto c = connect(db);
  RowKey key = c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string("sales")}});
  // Five characters fit a text 5 column even when they take ten bytes.
  EXPECT_NO_THROW(c->update_row("Database_List", key, {{"Pazar", std::string("ğğğğğ")}}));
  std::string text = provider_error_text([&] {
    c->update_row("Database_List", key, {{"Son_Yedek_Dosya_Adi", std::string("ok.Dat")}, {"Pazar", std::string("ğğğğğğ")}});
  });
  EXPECT_NE(text.find("Database_List.Pazar"), std::string::npos) << text;
  EXPECT_NE(text.find("too small"), std::string::npos) << text;
  EXPECT_NE(provider_error_text([&] {
              c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string(256, 'n')}});
            }).find("too small"),
            std::string::npos);
  EXPECT_NO_THROW(c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string(255, 'n')}}));
  ResultSet r = c->execute("SELECT Veri_Tabani_Adi, Son_Yedek_Dosya_Adi, Pazar FROM Database_List ORDER BY 1", {});
  ASSERT_EQ(r.rows.size(), 2u);  // the 256-character name was not added
  EXPECT_EQ(r.rows[1][0], Value(std::string("sales")));
  EXPECT_EQ(r.rows[1][1], Value());  // the other column of the refused update was not written either
  EXPECT_EQ(r.rows[1][2], Value(std::string("ğğğğğ")));
  EXPECT_NE(provider_error_text([&] { c->insert_row("Database_List", {{"Nope", std::string("x")}}); }).find("Nope"),
            std::string::npos);
}

TEST_F(SqliteDriverTest, ColumnNamesMatchWithoutRegardToCaseAndParametersBindByName) {
  auto c = connect(db);
  c->insert_row("database_list", {{"veri_tabani_adi", std::string("hr")}, {"p_tesi", std::string("True")}});
  ResultSet r = c->execute("Select VERI_TABANI_ADI From Database_List Where P_tesi=:Gun and PERSEMBE IS NULL",
                           {{"gun", std::string("True")}});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0], Value(std::string("hr")));
  EXPECT_EQ(r.base_table, "Database_List");
  EXPECT_EQ(r.columns[0].width, 255);
  EXPECT_EQ(provider_error_text([&] { c->execute("Select * From Database_List Where Pazar=:Gun", {}); }),
            "No value given for one or more required parameters.");
  EXPECT_NE(provider_error_text([&] { c->execute("Select * From Missing_Table", {}); }).find("no such table: Missing_Table"),
            std::string::npos);
}

TEST_F(SqliteDriverTest, TablesReadInTheOrderOfTheNamedIndex) {
  auto c = connect(db);
  for (const char* name : {"msdb", "Accounts", "master", "zeta", "Budget"})
    c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string(name)}});
  TableRows t = c->read_table("Database_List", "PrimaryKey");
  std::vector<std::string> order;
  for (const auto& row : t.rows) order.push_back(std::get<std::string>(row[0]));
  EXPECT_EQ(order, (std::vector<std::string>{"Accounts", "Budget", "master", "msdb", "zeta"}));
  EXPECT_EQ(t.columns.size(), 34u);
  EXPECT_EQ(t.keys.size(), 5u);
  EXPECT_NE(provider_error_text([&] { c->read_table("Database_List", "ByDate"); }).find("no such index: ByDate"),
            std::string::npos);
  // System's primary key is its autonumber, read-only; its index is the primary key.
  TableRows s = c->read_table("System", "PrimaryKey");
  EXPECT_EQ(s.columns.size(), 8u);
  EXPECT_EQ(s.columns[0].name, "Kimlik");
  EXPECT_TRUE(s.columns[0].read_only);
  EXPECT_FALSE(s.columns[1].read_only);
}

TEST_F(SqliteDriverTest, AStatementRunningPastTheCommandTimeoutIsInterrupted) {
  auto c = connect(db);
  c->set_command_timeout(std::chrono::seconds(1));
  // Counts far beyond what runs in a second.
  EXPECT_EQ(provider_error_text([&] {
              c->execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000000000) "
                         "SELECT count(*) FROM n",
                         {});
            }),
            sqlite3_errstr(SQLITE_INTERRUPT));
  // The connection stays usable.
  EXPECT_EQ(c->execute("SELECT 1 + 1", {}).rows[0][0], Value(std::int64_t{2}));
}

TEST_F(SqliteDriverTest, UpdatingARowThatIsGoneIsAnError) {
  auto c = connect(db);
  RowKey key = c->insert_row("Database_List", {{"Veri_Tabani_Adi", std::string("tmp")}});
  raw_exec(db, "DELETE FROM Database_List");
  EXPECT_NE(provider_error_text([&] { c->update_row("Database_List", key, {{"Pazar", std::string("True")}}); })
                .find("Row cannot be located"),
            std::string::npos);
  EXPECT_NE(provider_error_text([&] {
              c->update_row_matching("Database_List", {{"Veri_Tabani_Adi", std::string("tmp")}},
                                     {{"Pazar", std::string("True")}});
            }).find("Row cannot be located"),
            std::string::npos);
}

}  // namespace
}  // namespace orv::dal
