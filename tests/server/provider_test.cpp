// The local engine through the data-access layer as the backup, restore and maintenance code
// use it: a DataConnection opened with the tool's connection string, Query and StoredProc.
#include <gtest/gtest.h>

#include "server/server_config.h"
#include "server/server_driver.h"
#include "server/statement.h"
#include "dal/connection.h"
#include "dal/dataset.h"
#include "test_env.h"
#include "tds_route.h"

namespace orv::server {
namespace {

const char* const kWindows =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)";

TEST(LocalProvider, RestoreQueriesReadThroughDatasets) {
  orv::test::TestEnv env;
  std::filesystem::create_directories(env.work());
  register_local_server(2, default_engine_folder());
  std::string login = kWindows;
  std::unique_ptr<orv::test::TdsRoute> route;
  if (orv::test::tds_route_wanted()) {  // through FreeTDS and the TDS listener, with a SQL login
    route = std::make_unique<orv::test::TdsRoute>();
    login = "Provider=SQLOLEDB.1;Password=\"" + std::string(orv::test::TdsRoute::kPassword) +
            "\";Persist Security Info=False;User ID=" + orv::test::TdsRoute::kUser + ";Data Source=(local)";
  }
  register_server_driver();
  dal::DataConnection sqlc;
  sqlc.set_command_timeout(std::chrono::seconds(2100000000));
  sqlc.open(login);
  sqlc.execute("CREATE DATABASE [Q'1 ]]x]");
  sqlc.execute(use_statement("Q'1 ]x"));
  sqlc.execute("CREATE TABLE a(x); CREATE TABLE b(y); CREATE VIEW v AS SELECT * FROM a;");
  sqlc.execute("USE master");
  std::string bak = (env.work() / "Q'1 ]x.Dat").string();
  sqlc.execute(backup_statement("Q'1 ]x", bak));

  dal::Query q(sqlc);
  q.add_sql("RESTORE HEADERONLY");
  q.add_sql("FROM DISK=" + quote_literal(bak));
  q.open();
  EXPECT_EQ(q.field("Databasename").as_string(), "Q'1 ]x");
  EXPECT_GT(q.field("BackupStartDate").as_date_time().days, 40000);
  q.close();
  q.set_sql({restore_filelistonly_statement(bak)});
  q.open();
  EXPECT_EQ(q.record_count(), 2);
  EXPECT_NE(q.field("PhysicalName").as_string().find("/data/Q'1 ]x.sqlite"), std::string::npos);
  q.close();
  q.set_sql({restore_statement("Q'1 ]x", bak)});
  q.exec_sql();

  // The maintenance's table list: 4 rows, 2 of type "TABLE".
  q.set_sql({use_statement("Q'1 ]x")});
  q.exec_sql();
  q.set_sql({"sp_tables"});
  q.open();
  EXPECT_EQ(q.record_count(), 4);
  int tables = 0;
  for (q.first(); !q.eof(); q.next()) tables += q.field("TABLE_TYPE").as_string() == "TABLE";
  EXPECT_EQ(tables, 2);

  dal::StoredProc p(sqlc);
  p.set_procedure_name("sp_Databases");
  p.open();
  EXPECT_EQ(p.record_count(), 1);
  EXPECT_EQ(p.field("DATABASE_NAME").as_string(), "Q'1 ]x");
}

}  // namespace
}  // namespace orv::server
