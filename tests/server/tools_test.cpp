// orvakell-setup and orvakell-sql as an operator runs them, checked with sqlite3 where the
// result is a database file.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "server/server_config.h"
#include "test_env.h"

namespace {

using orv::test::run_command;
using orv::test::shell_quote;

std::string tool(const std::string& name) { return shell_quote((orv::test::bin_dir() / name).string()); }

orv::test::CommandResult sql(const std::string& args) { return run_command(tool("orvakell-sql") + " " + args); }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(Tools, SetupIsIdempotentAndTheSamplesAreListed) {
  orv::test::TestEnv env;
  auto first = run_command(tool("orvakell-setup"));
  ASSERT_EQ(first.exit_code, 0) << first.output;
  EXPECT_EQ(orv::server::read_login_mode(), "2");
  auto second = run_command(tool("orvakell-setup"));
  ASSERT_EQ(second.exit_code, 0) << second.output;
  EXPECT_NE(second.output.find("is there already"), std::string::npos);

  auto list = sql("-E -Q sp_Databases");
  ASSERT_EQ(list.exit_code, 0) << list.output;
  auto l = lines(list.output);
  ASSERT_EQ(l.size(), 4u) << list.output;
  EXPECT_EQ(l[0], "DATABASE_NAME\tDATABASE_SIZE\tREMARKS");
  EXPECT_EQ(l[1].substr(0, l[1].find('\t')), "Accounting");
  EXPECT_EQ(l[2].substr(0, l[2].find('\t')), "Customer Orders");
  EXPECT_EQ(l[3].substr(0, l[3].find('\t')), "Inventory");

  // Each sample is a real SQLite file with tables, an index and a view.
  if (orv::test::have_program("sqlite3")) {
    auto file = env.data() / "orvakell" / "server" / "data" / "Customer Orders.sqlite";
    auto check = run_command("sqlite3 " + shell_quote(file.string()) +
                             " \"select type, count(*) from sqlite_master group by type order by type;"
                             " select count(*) from [Order Lines]; pragma integrity_check;\"");
    ASSERT_EQ(check.exit_code, 0) << check.output;
    EXPECT_EQ(check.output, "index|2\ntable|2\nview|1\n5\nok\n");
  }
  auto tables = sql("-E -d " + shell_quote("Customer Orders") + " -Q sp_tables");
  EXPECT_NE(tables.output.find("Customer Orders\tdbo\tOrder Lines\tTABLE\tNULL"), std::string::npos) << tables.output;
  EXPECT_NE(tables.output.find("Customer Orders\tdbo\tOrders per Customer\tVIEW\tNULL"), std::string::npos);
}

TEST(Tools, BackupHeaderAndRestoreRoundTripThroughTheClient) {
  orv::test::TestEnv env;
  ASSERT_EQ(run_command(tool("orvakell-setup")).exit_code, 0);
  std::filesystem::create_directories(env.work());
  std::string bak = (env.work() / "Customer Orders.Dat").string();
  std::string quoted_bak = "'" + bak + "'";
  auto b = sql("-E -Q " + shell_quote("Backup database [Customer Orders] to Disk=" + quoted_bak));
  ASSERT_EQ(b.exit_code, 0) << b.output;
  auto before = sql("-E -d " + shell_quote("Customer Orders") + " -Q " + shell_quote("select * from [Order Lines]"));
  ASSERT_EQ(sql("-E -d " + shell_quote("Customer Orders") + " -Q " + shell_quote("delete from [Order Lines]")).exit_code, 0);
  auto header = sql("-E -Q " + shell_quote("RESTORE HEADERONLY\nFROM DISK=" + quoted_bak));
  ASSERT_EQ(header.exit_code, 0) << header.output;
  auto h = lines(header.output);
  ASSERT_EQ(h.size(), 2u);
  EXPECT_NE(h[0].find("DatabaseName"), std::string::npos);
  EXPECT_NE(h[1].find("\tCustomer Orders\t"), std::string::npos);
  auto r = sql("-E -Q " + shell_quote("Restore database [Customer Orders] From Disk=" + quoted_bak));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  auto after = sql("-E -d " + shell_quote("Customer Orders") + " -Q " + shell_quote("select * from [Order Lines]"));
  EXPECT_EQ(after.output, before.output);
  EXPECT_EQ(lines(after.output).size(), 6u);
}

TEST(Tools, ClientReportsTheServerTextAndFails) {
  orv::test::TestEnv env;
  auto none = sql("-E -Q sp_Databases");
  EXPECT_NE(none.exit_code, 0);
  EXPECT_NE(none.output.find("SQL Server does not exist or access denied."), std::string::npos) << none.output;
  ASSERT_EQ(run_command(tool("orvakell-setup")).exit_code, 0);
  auto bad_login = sql("-U sa -P wrong -Q sp_Databases");
  EXPECT_EQ(bad_login.exit_code, 1);
  EXPECT_EQ(bad_login.output, "Login failed for user 'sa'.\n");
  auto bad_sql = sql("-E -Q " + shell_quote("Backup database Customer Orders to Disk='/tmp/x.Dat'"));
  EXPECT_EQ(bad_sql.exit_code, 1);
  EXPECT_EQ(bad_sql.output, "Incorrect syntax near 'Orders'.\n");
  EXPECT_EQ(sql("-Q").exit_code, 2);
  EXPECT_EQ(sql("-E -U sa -Q x").exit_code, 2);
}

TEST(Tools, CheckdbThroughTheClientFailsOnADamagedTableOnly) {
  orv::test::TestEnv env;
  ASSERT_EQ(run_command(tool("orvakell-setup")).exit_code, 0);
  auto clean = sql("-E -Q " + shell_quote("DBCC CHECKDB([Customer Orders])"));
  EXPECT_EQ(clean.exit_code, 0) << clean.output;
  // The index's definition changed under its entries (sqlite3 on the engine's file): every row
  // is missing from it.
  const auto file = orv::server::default_engine_folder() / "data" / "Customer Orders.sqlite";
  ASSERT_TRUE(std::filesystem::exists(file));
  auto damage = run_command(
      "sqlite3 " + shell_quote(file.string()) + " " +
      shell_quote("PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql='CREATE INDEX [IX Order Lines Customer] ON "
                  "[Order Lines](Quantity)' WHERE name='IX Order Lines Customer'; PRAGMA writable_schema=OFF;"));
  ASSERT_EQ(damage.exit_code, 0) << damage.output;
  auto damaged = sql("-E -Q " + shell_quote("DBCC CHECKDB([Customer Orders])"));
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.output.find("CHECKDB found 0 allocation errors and 4 consistency errors in table 'Order Lines'."),
            std::string::npos)
      << damaged.output;
  EXPECT_NE(damaged.output.find("consistency errors in database 'Customer Orders'."), std::string::npos)
      << damaged.output;
  EXPECT_EQ(sql("-E -Q " + shell_quote("DBCC CHECKDB([Inventory])")).exit_code, 0);
}

}  // namespace
