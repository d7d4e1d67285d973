#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/paths.h"
#include "server/statement.h"
#include "server_test_util.h"

namespace orv::server {
namespace {

using namespace orv::server::testing;

void make_sample(dal::Connection& c, const std::string& db, int rows) {
  run(c, "CREATE DATABASE " + quote_identifier(db));
  run(c, use_statement(db));
  run(c, "CREATE TABLE [Order Lines]([Id] INTEGER PRIMARY KEY, [Item's name] TEXT, Qty INTEGER, Price REAL)");
  run(c, "CREATE INDEX [ix Item] ON [Order Lines]([Item's name])");
  run(c, "CREATE VIEW Expensive AS SELECT * FROM [Order Lines] WHERE Price > 10");
  for (int i = 0; i < rows; ++i)
    run(c, "INSERT INTO [Order Lines]([Item's name], Qty, Price) VALUES(" + quote_literal("it'em " + std::to_string(i)) +
               ", " + std::to_string(i % 7) + ", " + std::to_string(i * 1.5) + ")");
  run(c, "USE master");
}

std::string hash_of(Engine& e, const std::string& db) {
  auto c = integrated(e, db);
  return content_hash(*c);
}

class EngineTest : public ::testing::Test {
 protected:
  orv::test::TestEnv env;
  std::shared_ptr<Engine> engine = open_engine(env);
  std::string file(const std::string& name) { return (env.work() / name).string(); }
};

TEST_F(EngineTest, BackupThenRestoreGivesBackEveryRowForAwkwardNames) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  for (std::string db : {"Sales", "with space", "O'Neil", "br[ack]ets"}) {
    SCOPED_TRACE(db);
    make_sample(*c, db, 50);
    std::string before = hash_of(*engine, db);
    std::string bak = file(db + ".Dat");
    run(*c, backup_statement(db, bak));
    {
      auto d = integrated(*engine, db);
      run(*d, "DELETE FROM [Order Lines] WHERE Id % 2 = 0");
      run(*d, "DROP VIEW Expensive");
    }
    ASSERT_NE(hash_of(*engine, db), before);
    auto header = run(*c, restore_headeronly_statement(bak));
    ASSERT_EQ(header.rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(header.rows[0][column_index(header, "DatabaseName")]), db);
    auto files = run(*c, restore_filelistonly_statement(bak));
    ASSERT_EQ(files.rows.size(), 2u);
    std::string physical = std::get<std::string>(files.rows[0][column_index(files, "PhysicalName")]);
    EXPECT_EQ(std::get<std::string>(files.rows[0][column_index(files, "Type")]), "D");
    EXPECT_EQ(std::get<std::string>(files.rows[1][column_index(files, "Type")]), "L");
    EXPECT_TRUE(std::filesystem::exists(physical));
    run(*c, restore_statement(db, bak));
    EXPECT_EQ(hash_of(*engine, db), before);
  }
  // The databases are listed by sp_Databases with their exact names.
  auto list = run(*c, "sp_Databases");
  ASSERT_EQ(list.columns.size(), 3u);
  EXPECT_EQ(list.columns[0].name, "DATABASE_NAME");
  EXPECT_EQ(list.columns[1].name, "DATABASE_SIZE");
  EXPECT_EQ(list.columns[2].name, "REMARKS");
  std::vector<std::string> names;
  for (const auto& r : list.rows) names.push_back(std::get<std::string>(r[0]));
    // Ordered by name without regard to letter case, as the server's collation does.
  EXPECT_EQ(names, (std::vector<std::string>{"br[ack]ets", "O'Neil", "Sales", "with space"}));
}

TEST_F(EngineTest, TwoBackupSetsInOneFileAndRestoreTakesTheFirst) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Stock", 10);
  std::string first = hash_of(*engine, "Stock");
  std::string bak = file("Stock.Dat");
  run(*c, backup_statement("Stock", bak));
  {
    auto d = integrated(*engine, "Stock");
    run(*d, "INSERT INTO [Order Lines]([Item's name]) VALUES('later')");
  }
  std::string second = hash_of(*engine, "Stock");
  run(*c, backup_statement("Stock", bak));
  auto header = run(*c, restore_headeronly_statement(bak));
  ASSERT_EQ(header.rows.size(), 2u);
  int pos = column_index(header, "Position");
  EXPECT_EQ(std::get<std::int64_t>(header.rows[0][pos]), 1);
  EXPECT_EQ(std::get<std::int64_t>(header.rows[1][pos]), 2);
  int start = column_index(header, "BackupStartDate");
  EXPECT_LE(std::get<dal::DateTime>(header.rows[0][start]).days, std::get<dal::DateTime>(header.rows[1][start]).days);
  EXPECT_GT(std::get<dal::DateTime>(header.rows[0][start]).days, 40000);  // a date of this century

  run(*c, restore_statement("Stock", bak));
  EXPECT_EQ(hash_of(*engine, "Stock"), first);
  run(*c, "Restore database Stock From Disk=" + quote_literal(bak) + " WITH FILE = 2");
  EXPECT_EQ(hash_of(*engine, "Stock"), second);
  // WITH INIT starts the file again with one set.
  run(*c, "Backup database Stock to Disk=" + quote_literal(bak) + " WITH INIT");
  EXPECT_EQ(run(*c, restore_headeronly_statement(bak)).rows.size(), 1u);
}

TEST_F(EngineTest, RestoreRefusedWhileAnotherConnectionUsesTheDatabase) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Busy", 5);
  std::string bak = file("Busy.Dat");
  run(*c, backup_statement("Busy", bak));
  {
    auto other = integrated(*engine, "Busy");
    EXPECT_SERVER_ERROR(run(*c, restore_statement("Busy", bak)),
                        "Exclusive access could not be obtained because the database is in use.");
  }
  // The session's own current database is refused as SQL Server does.
  run(*c, "USE Busy");
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Busy", bak)), "because it is in use by this session");
  run(*c, "USE master");
  run(*c, restore_statement("Busy", bak));
}

TEST_F(EngineTest, RestoreRefusedWhileAnotherProcessUsesTheDatabase) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Shared", 5);
  std::string bak = file("Shared.Dat");
  run(*c, backup_statement("Shared", bak));
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char b = 0;
    std::shared_ptr<Engine> e;
    std::unique_ptr<dal::Connection> s;
    try {
      e = open_engine(env);
      s = integrated(*e, "Shared");
      b = 1;
    } catch (...) {
    }
    (void)!write(ready[1], &b, 1);
    (void)!read(done[0], &b, 1);
    _exit(0);
  }
  char b = 0;
  ASSERT_EQ(read(ready[0], &b, 1), 1);
  ASSERT_EQ(b, 1) << "the child could not open the database";
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Shared", bak)), "Exclusive access could not be obtained");
  EXPECT_SERVER_ERROR(run(*c, single_user_statement("Shared", true)), "a lock could not be placed on database 'Shared'");
  (void)!write(done[1], &b, 1);
  int status = 0;
  waitpid(child, &status, 0);
  run(*c, restore_statement("Shared", bak));
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST_F(EngineTest, DamagedOrForeignBackupIsRefusedAndTheDatabaseUntouched) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Ledger", 200);
  std::string bak = file("Ledger.Dat");
  run(*c, backup_statement("Ledger", bak));
  {
    auto d = integrated(*engine, "Ledger");
    run(*d, "DELETE FROM [Order Lines] WHERE Id < 10");
  }
  std::string current = hash_of(*engine, "Ledger");
  std::string bytes = orv::test::read_file(bak);

  // One flipped byte in the database image: the checksum catches it.
  std::string damaged = bytes;
  damaged[damaged.size() / 2] ^= 0x40;
  orv::test::write_file(bak, damaged);
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Ledger", bak)), "RESTORE detected an error");
  EXPECT_EQ(hash_of(*engine, "Ledger"), current);
  EXPECT_SERVER_ERROR(run(*c, "RESTORE VERIFYONLY FROM DISK=" + quote_literal(bak)), "Damage to the backup set");

  // A cut-off file, a damaged header and a file that is no backup at all.
  orv::test::write_file(bak, bytes.substr(0, bytes.size() - 10));
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Ledger", bak)), "is incorrectly formed");
  damaged = bytes;
  damaged[20] ^= 1;
  orv::test::write_file(bak, damaged);
  EXPECT_SERVER_ERROR(run(*c, restore_headeronly_statement(bak)), "is incorrectly formed");
  orv::test::write_file(bak, "PK\x03\x04 this is a zip, not a backup");
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Ledger", bak)), "is incorrectly formed");
  // Appending a set to a foreign file is refused and leaves the file alone.
  EXPECT_SERVER_ERROR(run(*c, backup_statement("Ledger", bak)), "is incorrectly formed");
  EXPECT_EQ(orv::test::read_file(bak), "PK\x03\x04 this is a zip, not a backup");
  EXPECT_EQ(hash_of(*engine, "Ledger"), current);
  // No temporary file is left beside the database.
  for (const auto& entry : std::filesystem::directory_iterator(env.data() / "orvakell" / "server" / "data"))
    EXPECT_EQ(entry.path().string().find(".restoring"), std::string::npos) << entry.path();
  EXPECT_SERVER_ERROR(run(*c, restore_headeronly_statement(file("missing.Dat"))), "Cannot open backup device");
}

TEST_F(EngineTest, SingleUserRefusedWhileAnotherConnectionIsOpenAndRepairNeedsIt) {
  auto c = integrated(*engine);
  make_sample(*c, "Shop", 20);
  auto other = integrated(*engine, "Shop");
  EXPECT_SERVER_ERROR(run(*c, single_user_statement("Shop", true)),
                      "ALTER DATABASE failed because a lock could not be placed on database 'Shop'. Try again later.");
  run(*c, "USE Shop");
  EXPECT_SERVER_ERROR(run(*c, checktable_repair_statement("Order Lines")),
                      "Repair statement not processed. Database needs to be in single user mode.");
  run(*c, "USE master");
  other.reset();

  // The sequence the maintenance sends.
  run(*c, "USE Master");
  run(*c, single_user_statement("Shop", true));
  run(*c, use_statement("Shop"));
  run(*c, "checkpoint");
  auto tables = run(*c, "sp_tables");
  EXPECT_SERVER_ERROR(integrated(*engine, "Shop"), "Cannot open database 'Shop' requested by the login");
  int type = column_index(tables, "TABLE_TYPE");
  int name = column_index(tables, "TABLE_NAME");
  int user_tables = 0;
  for (const auto& row : tables.rows) {
    if (std::get<std::string>(row[type]) != "TABLE") continue;
    ++user_tables;
    run(*c, checktable_repair_statement(std::get<std::string>(row[name])));
    run(*c, dbreindex_statement(std::get<std::string>(row[name])));
  }
  EXPECT_EQ(user_tables, 1);
  run(*c, "USE Master");
  run(*c, single_user_statement("Shop", false));
  run(*c, use_statement("Shop"));
  auto again = integrated(*engine, "Shop");  // multi-user again
  EXPECT_SERVER_ERROR(run(*c, dbreindex_statement("NoSuchTable")), "Could not find a table or object named 'NoSuchTable'");
}

TEST_F(EngineTest, CatalogueAndProbeResultColumns) {
  // Databases and password hashes are the owner's alone.
  auto perms = std::filesystem::status(env.data() / "orvakell" / "server").permissions();
  EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
  auto c = integrated(*engine);
  auto probe = run(*c, "Select * From Sysfiles");
  ASSERT_TRUE(probe.has_rows);
  EXPECT_EQ(probe.rows.size(), 1u);
  make_sample(*c, "Cat", 3);
  run(*c, "USE Cat");
  auto files = run(*c, "Select * From Sysfiles");
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(std::get<std::string>(files.rows[0][column_index(files, "name")]), "Cat");
  EXPECT_EQ(std::get<std::string>(files.rows[1][column_index(files, "name")]), "Cat_log");
  auto t = run(*c, "sp_tables");
  std::vector<std::string> cols;
  for (const auto& col : t.columns) cols.push_back(col.name);
  EXPECT_EQ(cols, (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}));
  std::vector<std::string> kinds;
  for (const auto& row : t.rows) kinds.push_back(std::get<std::string>(row[3]) + ":" + std::get<std::string>(row[2]));
  EXPECT_EQ(kinds, (std::vector<std::string>{"SYSTEM TABLE:sqlite_master", "TABLE:Order Lines", "VIEW:Expensive"}));
  EXPECT_SERVER_ERROR(run(*c, "USE Nowhere"), "Could not locate entry in sysdatabases for database 'Nowhere'");
  EXPECT_SERVER_ERROR(run(*c, "SELECT * FROM missing_table"), "Invalid object name 'missing_table'.");
  EXPECT_SERVER_ERROR(run(*c, backup_statement("Nowhere", "/tmp/x.Dat")), "BACKUP DATABASE is terminating abnormally");
  EXPECT_SERVER_ERROR(run(*c, backup_statement("Cat", (env.work() / "no" / "dir" / "x.Dat").string())),
                      "Cannot open backup device");
}

TEST_F(EngineTest, LoginsAndLoginModes) {
  auto c = integrated(*engine);
  run(*c, "CREATE LOGIN [o'brien] WITH PASSWORD = 'pa;ss''word'");
  LoginRequest sql;
  sql.user = "o'brien";
  sql.password = "pa;ss'word";
  EXPECT_NO_THROW(engine->connect(sql));
  sql.password = "wrong";
  EXPECT_SERVER_ERROR(engine->connect(sql), "Login failed for user 'o'brien'.");
  sql.user = "";
  EXPECT_SERVER_ERROR(engine->connect(sql), "Login failed for user ''.");
  auto windows_only = open_engine(env, false, 1);
  sql.user = "o'brien";
  sql.password = "pa;ss'word";
  EXPECT_SERVER_ERROR(windows_only->connect(sql), "Not associated with a trusted SQL Server connection.");
  EXPECT_SERVER_ERROR(run(*c, "CREATE LOGIN [o'brien] WITH PASSWORD = 'x'"), "already exists");
  // Integrated security stands for the Unix account; without its login it fails too.
  run(*c, "DROP LOGIN " + quote_identifier(platform::current_user_name()));
  EXPECT_SERVER_ERROR(integrated(*engine), "Login failed for user '" + platform::current_user_name() + "'.");
}

TEST_F(EngineTest, ModernServerHasNoDboptionButAlterDatabase) {
  auto modern = open_engine(env, true);
  auto c = integrated(*modern);
  make_sample(*c, "New", 2);
  EXPECT_SERVER_ERROR(run(*c, single_user_statement("New", true)), "Could not find stored procedure 'sp_dboption'.");
  run(*c, "ALTER DATABASE [New] SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
  run(*c, "USE [New]");
  run(*c, checktable_repair_statement("Order Lines"));
  run(*c, "USE master");
  run(*c, "ALTER DATABASE [New] SET MULTI_USER");
}

// A backup taken while another connection holds an open write transaction is the committed
// state, and the writer finishes afterwards.
TEST_F(EngineTest, BackupIsAConsistentImageWhileOthersWrite) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Live", 30);
  std::string committed = hash_of(*engine, "Live");
  auto writer = integrated(*engine, "Live");
  run(*writer, "BEGIN");
  run(*writer, "INSERT INTO [Order Lines]([Item's name]) VALUES('uncommitted')");
  std::string bak = file("Live.Dat");
  run(*c, backup_statement("Live", bak));
  run(*writer, "COMMIT");
  writer.reset();
  EXPECT_NE(hash_of(*engine, "Live"), committed);
  run(*c, restore_statement("Live", bak));
  EXPECT_EQ(hash_of(*engine, "Live"), committed);
}

// cancel() from another thread ends a backup in progress with SQL Server's 3204 and leaves the
// previous backup file as it was; the connection then runs the next statement normally. The
// canceller repeats until the statement returns, so it cannot miss the start.
TEST_F(EngineTest, CancelFromAnotherThreadAbortsABackupAndKeepsThePreviousFile) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  run(*c, "CREATE DATABASE Big");
  run(*c, "USE Big");
  run(*c, "CREATE TABLE blobs (n INTEGER, b BLOB)");
  run(*c, "WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < 64) "
          "INSERT INTO blobs SELECT x, randomblob(1048576) FROM k");
  run(*c, "USE master");
  const std::string bak = file("Big.Dat");
  orv::test::write_file(bak, "previous backup");

  std::atomic<bool> done{false};
  std::thread canceller([&] {
    while (!done) {
      EXPECT_TRUE(c->cancel());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int number = 0;
  std::string text;
  try {
    run(*c, backup_statement("Big", bak) + " WITH INIT");
  } catch (const dal::ProviderError& e) {
    number = e.native_code();
    text = e.what();
  }
  done = true;
  canceller.join();
  EXPECT_EQ(number, 3204) << text;
  EXPECT_NE(text.find("The backup or restore was aborted."), std::string::npos) << text;
  EXPECT_EQ(orv::test::read_file(bak), "previous backup");
  for (const auto& entry : std::filesystem::directory_iterator(env.work()))
    EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos) << entry.path();

  // The next statement is not cancelled by the earlier request.
  run(*c, backup_statement("Big", bak) + " WITH INIT");
  EXPECT_NE(orv::test::read_file(bak), "previous backup");
}

TEST_F(EngineTest, RestoreUnderRecordedPathsIntoAFreshServer) {
  std::filesystem::create_directories(env.work());
  auto c = integrated(*engine);
  make_sample(*c, "Moved", 12);
  std::string before = hash_of(*engine, "Moved");
  std::string bak = file("Moved.Dat");
  run(*c, backup_statement("Moved", bak));
  auto files = run(*c, restore_filelistonly_statement(bak));
  std::string physical = std::get<std::string>(files.rows[0][column_index(files, "PhysicalName")]);
  run(*c, "DROP DATABASE Moved");
  EXPECT_FALSE(std::filesystem::exists(physical));
  run(*c, restore_statement("Moved", bak));
  EXPECT_TRUE(std::filesystem::exists(physical));
  EXPECT_EQ(hash_of(*engine, "Moved"), before);
  // Another name over the same files is refused.
  EXPECT_SERVER_ERROR(run(*c, restore_statement("Other", bak)), "It is being used by database 'Moved'");
  // A restore never writes over a file that belongs to no database unless told to.
  run(*c, "DROP DATABASE Moved");
  orv::test::write_file(physical, "precious");
  EXPECT_SERVER_ERROR(run(*c, "Restore database Moved From Disk=" + quote_literal(bak)), "WITH REPLACE");
  EXPECT_EQ(orv::test::read_file(physical), "precious");
}

}  // namespace
}  // namespace orv::server
