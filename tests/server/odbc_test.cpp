// The ODBC back end against a real driver from Debian: the SQLite ODBC driver, registered in a
// private odbcinst.ini, through the real unixODBC driver manager.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>

#include "server/odbc_backend.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "server_test_util.h"
#include "test_env.h"

namespace orv::server {
namespace {

namespace fs = std::filesystem;

const char* const kDriverLib = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class OdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kDriverLib)) GTEST_SKIP() << "libsqliteodbc is not installed";
    fs::path odbc = env.root() / "odbc";
    fs::create_directories(odbc);
    orv::test::write_file(odbc / "odbcinst.ini",
                          std::string("[SQLite3]\nDescription=SQLite3 ODBC\nDriver=") + kDriverLib + "\n");
    orv::test::write_file(odbc / "odbc.ini", "");
    setenv("ODBCSYSINI", odbc.c_str(), 1);
    setenv("ODBCINI", (odbc / "odbc.ini").c_str(), 1);
    db = (env.root() / "people.db").string();
    other = (env.root() / "other.db").string();
    make(db, "CREATE TABLE people(name TEXT, age INTEGER, height REAL);"
             "INSERT INTO people VALUES('Ayşe', 41, 1.68), ('O''Neil', 35, NULL), (NULL, 7, 1.2);");
    make(other, "CREATE TABLE elsewhere(x);");
    register_odbc_server(2, {{"Driver", "SQLite3"}, {"Database", db}});
    register_server_driver();
  }
  void TearDown() override {
    unsetenv("ODBCSYSINI");
    unsetenv("ODBCINI");
  }
  static void make(const std::string& path, const std::string& sql) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &h), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(h);
  }

  orv::test::TestEnv env;
  std::string db, other;
};

TEST(OdbcString, EveryValueQuotedAsTheDriverReadsItBack) {
  dal::ConnectionString login(
      "Provider=SQLOLEDB.1;Password=\"p;w}d\";Persist Security Info=False;User ID=sa;Data Source=(local)");
  EXPECT_EQ(login.get("Password"), "p;w}d");
  EXPECT_EQ(odbc_connection_string(login, {{"Driver", "FreeTDS"}, {"Server", "127.0.0.1"}}),
            "Driver=FreeTDS;Server=127.0.0.1;ClientCharset=UTF-8;UID=sa;PWD={p;w}d};");
  EXPECT_EQ(odbc_connection_string(login, {{"Driver", "SQLite3"}}), "Driver=SQLite3;UID={sa};PWD={p;w}}d};");
  dal::ConnectionString windows(
      "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)");
  EXPECT_EQ(odbc_connection_string(windows, {{"Driver", "FreeTDS"}}), "Driver=FreeTDS;ClientCharset=UTF-8;Trusted_Connection=Yes;");
  dal::ConnectionString plain("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Data Source=(local)");
  EXPECT_EQ(odbc_connection_string(plain, {}), "UID={};");
  // An Initial Catalog replaces a configured default database.
  dal::ConnectionString catalog("Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=Sales;Data Source=(local)");
  EXPECT_EQ(odbc_connection_string(catalog, {{"Driver", "FreeTDS"}, {"DATABASE", "master"}}),
            "Driver=FreeTDS;ClientCharset=UTF-8;Trusted_Connection=Yes;Database=Sales;");
}

TEST_F(OdbcTest, ConnectExecuteFetchAndErrorsThroughTheProvider) {
  auto c = dal::open_connection(
      dal::ConnectionString("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)"),
      {});
  auto r = c->execute("SELECT name, age, height FROM people ORDER BY age", {});
  ASSERT_TRUE(r.has_rows);
  ASSERT_EQ(r.columns.size(), 3u);
  EXPECT_EQ(r.columns[0].name, "name");
  EXPECT_EQ(r.columns[1].kind, dal::ValueKind::Integer);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(r.rows[0][0]));
  EXPECT_EQ(std::get<std::int64_t>(r.rows[0][1]), 7);
  EXPECT_EQ(std::get<std::string>(r.rows[1][0]), "O'Neil");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(r.rows[1][2]));
  EXPECT_EQ(std::get<std::string>(r.rows[2][0]), "Ayşe");
  EXPECT_DOUBLE_EQ(std::get<double>(r.rows[2][2]), 1.68);

  auto changed = c->execute("UPDATE people SET age = age + 1 WHERE age > 10", {});
  EXPECT_FALSE(changed.has_rows);
  EXPECT_EQ(changed.rows_affected, 2);
  // The driver's own diagnostic text comes back.
  EXPECT_SERVER_ERROR(c->execute("SELECT * FROM nope", {}), "no such table: nope");
}

// A password holding ";", "=" and "}" keeps the string well formed for the driver manager and
// the connection goes to the configured database. (The SQLite driver does not read braces
// itself; the exact braced form is checked by OdbcString above.)
TEST_F(OdbcTest, PasswordWithSemicolonCannotRedirectTheConnection) {
  std::string password = "x;Database=" + other + ";}y";
  std::string quoted = "\"";
  for (char ch : password) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  quoted += "\"";
  auto c = dal::open_connection(
      dal::ConnectionString("Provider=SQLOLEDB.1;Password=" + quoted +
                            ";Persist Security Info=False;User ID=sa;Data Source=(local)"),
      {});
  auto r = c->execute("SELECT count(*) FROM people", {});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(r.rows[0][0]), 3);
}

TEST_F(OdbcTest, UnknownDriverAndUnknownServerAreReported) {
  EXPECT_SERVER_ERROR(
      dal::open_connection(dal::ConnectionString("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=faraway"), {}),
      "SQL Server does not exist or access denied.");
  register_odbc_server(2, {{"Driver", "NoSuchDriver"}});
  EXPECT_SERVER_ERROR(
      dal::open_connection(dal::ConnectionString("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=(local)"), {}),
      "[unixODBC][Driver Manager]");
}

}  // namespace
}  // namespace orv::server
