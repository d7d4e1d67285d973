// The statements of backup verification and test restores: their SQL Server texts, and the
// local engine's answers (RESTORE VERIFYONLY, RESTORE ... WITH MOVE, DBCC CHECKDB,
// SERVERPROPERTY).
#include <gtest/gtest.h>

#include <filesystem>

#include "server/parser.h"
#include "server/statement.h"
#include "server_test_util.h"

namespace orv::server {
namespace {

using namespace orv::server::testing;
namespace fs = std::filesystem;

TEST(VerifyStatements, TextsAsSqlServerReadsThem) {
  EXPECT_EQ(quote_literal("O'Neil"), "N'O''Neil'");
  EXPECT_EQ(backup_statement("a]b", "/w/O'N.Dat", true), "Backup database [a]]b] to Disk=N'/w/O''N.Dat' WITH CHECKSUM");
  EXPECT_EQ(backup_statement("x", "/w/x.Dat", false), "Backup database [x] to Disk=N'/w/x.Dat'");
  EXPECT_EQ(restore_verifyonly_statement("/w/O'N.Dat", true), "RESTORE VERIFYONLY FROM DISK = N'/w/O''N.Dat' WITH CHECKSUM");
  EXPECT_EQ(restore_verifyonly_statement("/w/x.Dat", false), "RESTORE VERIFYONLY FROM DISK = N'/w/x.Dat'");
  EXPECT_EQ(restore_move_statement("scr]atch", "/w/a'b.Dat", {{"Sales", "/d/s'1.mdf"}, {"Sales_log", "/d/s_log.ldf"}}),
            "RESTORE DATABASE [scr]]atch] FROM DISK = N'/w/a''b.Dat' WITH MOVE N'Sales' TO N'/d/s''1.mdf', "
            "MOVE N'Sales_log' TO N'/d/s_log.ldf'");
  EXPECT_EQ(restore_move_statement("x", "f", {}), "RESTORE DATABASE [x] FROM DISK = N'f'");
  EXPECT_EQ(checkdb_statement("a]b"), "DBCC CHECKDB([a]]b]) WITH NO_INFOMSGS");
  EXPECT_EQ(drop_database_statement("a]b"), "DROP DATABASE [a]]b]");
  EXPECT_EQ(product_version_statement(),
            "SELECT CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS ProductVersion");
  EXPECT_EQ(product_major_version("9.00.1399.06"), 9);
  EXPECT_EQ(product_major_version("16.0.1000.6"), 16);
  EXPECT_EQ(product_major_version("8.00.2039"), 8);
  EXPECT_EQ(product_major_version(""), 0);
  EXPECT_EQ(product_major_version("x9"), 0);
}

TEST(VerifyStatements, ParseBackToTheirNames) {
  for (const std::string name : {"plain", "a]b", "O'Neil", "mixed ]]'' [["}) {
    SCOPED_TRACE(name);
    const std::string file = "/tmp/" + name + ".Dat";
    auto v = std::get<stmt::RestoreVerifyOnly>(parse_statement(restore_verifyonly_statement(file, true)));
    EXPECT_EQ(v.disk, file);
    EXPECT_TRUE(v.checksum);
    EXPECT_FALSE(std::get<stmt::RestoreVerifyOnly>(parse_statement(restore_verifyonly_statement(file, false))).checksum);
    EXPECT_EQ(std::get<stmt::Backup>(parse_statement(backup_statement(name, file, true))).database, name);
    auto r = std::get<stmt::Restore>(parse_statement(restore_move_statement(name, file, {{name, file + "1"}, {"l", "p"}})));
    EXPECT_EQ(r.database, name);
    EXPECT_EQ(r.disk, file);
    ASSERT_EQ(r.moves.size(), 2u);
    EXPECT_EQ(r.moves[0], (std::pair<std::string, std::string>{name, file + "1"}));
    EXPECT_EQ(r.moves[1], (std::pair<std::string, std::string>{"l", "p"}));
    EXPECT_EQ(std::get<stmt::DbccCheckdb>(parse_statement(checkdb_statement(name))).database, name);
    EXPECT_EQ(std::get<stmt::DropDatabase>(parse_statement(drop_database_statement(name))).database, name);
  }
  auto p = std::get<stmt::ServerProperty>(parse_statement(product_version_statement()));
  EXPECT_EQ(p.property, "ProductVersion");
  EXPECT_EQ(p.alias, "ProductVersion");
  EXPECT_EQ(std::get<stmt::ServerProperty>(parse_statement("select serverproperty('Edition')")).property, "Edition");
  EXPECT_TRUE(std::get<stmt::DbccCheckdb>(parse_statement("DBCC CHECKDB")).database.empty());
  EXPECT_EQ(std::get<stmt::DbccCheckdb>(parse_statement("dbcc checkdb('x')")).database, "x");
  EXPECT_TRUE(std::holds_alternative<stmt::Passthrough>(parse_statement("SELECT SERVERPROPERTY('a') + 1")));
  EXPECT_TRUE(std::holds_alternative<stmt::Passthrough>(parse_statement("SELECT CAST(x AS int) FROM t")));
  EXPECT_THROW(parse_statement("RESTORE VERIFYONLY FROM DISK='f' WITH BOGUS"), ParseError);
  EXPECT_THROW(parse_statement("RESTORE DATABASE x FROM DISK='f' WITH MOVE 'a' 'b'"), ParseError);
}

void make_sample(dal::Connection& c, const std::string& db, int rows) {
  run(c, "CREATE DATABASE " + quote_identifier(db));
  run(c, use_statement(db));
  run(c, "CREATE TABLE [Order Lines]([Id] INTEGER PRIMARY KEY, Item TEXT, Qty INTEGER)");
  run(c, "CREATE INDEX ix ON [Order Lines](Item)");
  run(c, "CREATE TABLE Customers(Name TEXT, City TEXT)");
  for (int i = 0; i < rows; ++i)
    run(c, "INSERT INTO [Order Lines](Item, Qty) VALUES('item " + std::to_string(i) + "', " + std::to_string(i % 7) + ")");
  run(c, "USE master");
}

class VerifyEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(env.work()); }
  std::string file(const std::string& name) { return (env.work() / name).string(); }
  std::string hash_of(const std::string& db) {
    auto c = integrated(*engine, db);
    return content_hash(*c);
  }
  orv::test::TestEnv env;
  std::shared_ptr<Engine> engine = open_engine(env);
};

TEST_F(VerifyEngineTest, ProductVersionFollowsTheCompatibilityLevel) {
  auto c = integrated(*engine);
  auto r = run(*c, product_version_statement());
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.columns[0].name, "ProductVersion");
  EXPECT_EQ(product_major_version(std::get<std::string>(r.rows[0][0])), 8);
  orv::test::TestEnv other;
  auto modern = open_engine(other, true);
  auto m = integrated(*modern);
  EXPECT_GE(product_major_version(std::get<std::string>(run(*m, product_version_statement()).rows[0][0])),
            kChecksumMajorVersion);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(run(*c, "SELECT SERVERPROPERTY('NoSuchThing')").rows[0][0]));
}

TEST_F(VerifyEngineTest, VerifyOnlyChecksEveryByteOfEverySet) {
  auto c = integrated(*engine);
  make_sample(*c, "Ledger", 300);
  const std::string bak = file("Ledger.Dat");
  run(*c, backup_statement("Ledger", bak, true));
  run(*c, backup_statement("Ledger", bak, true));  // a second set
  run(*c, restore_verifyonly_statement(bak, true));
  run(*c, "RESTORE VERIFYONLY FROM DISK = N'" + bak + "' WITH FILE = 2, CHECKSUM");
  EXPECT_SERVER_ERROR(run(*c, "RESTORE VERIFYONLY FROM DISK = N'" + bak + "' WITH FILE = 3"), "position 3");
  const std::string bytes = orv::test::read_file(bak);
  // One byte of the second set's database image: the whole-file verify and FILE = 2 find it,
  // FILE = 1 does not look there.
  std::string damaged = bytes;
  damaged[bytes.size() * 3 / 4] ^= 0x01;
  orv::test::write_file(bak, damaged);
  EXPECT_SERVER_ERROR(run(*c, restore_verifyonly_statement(bak, true)), "Damage to the backup set was detected");
  EXPECT_SERVER_ERROR(run(*c, "RESTORE VERIFYONLY FROM DISK = N'" + bak + "' WITH FILE = 2"), "Damage to the backup set");
  run(*c, "RESTORE VERIFYONLY FROM DISK = N'" + bak + "' WITH FILE = 1");
  // A cut-off file.
  orv::test::write_file(bak, bytes.substr(0, bytes.size() - 1));
  EXPECT_SERVER_ERROR(run(*c, restore_verifyonly_statement(bak, false)), "is incorrectly formed");
}

TEST_F(VerifyEngineTest, RestoreWithMoveMakesAScratchCopyBesideTheLiveDatabase) {
  auto c = integrated(*engine);
  make_sample(*c, "Ledger", 120);
  const std::string bak = file("Ledger.Dat");
  run(*c, backup_statement("Ledger", bak));
  const std::string live = hash_of("Ledger");
  auto files = run(*c, restore_filelistonly_statement(bak));
  ASSERT_EQ(files.rows.size(), 2u);
  const std::string data_logical = std::get<std::string>(files.rows[0][0]);
  const std::string log_logical = std::get<std::string>(files.rows[1][0]);
  const std::string data_live = std::get<std::string>(files.rows[0][1]);
  const fs::path scratch = fs::path(data_live).parent_path() / "scratch' 1.sqlite";

  EXPECT_SERVER_ERROR(run(*c, restore_move_statement("Scratch", bak, {{"nope", scratch.string()}})),
                      "Logical file 'nope' is not part of database");
  run(*c, restore_move_statement("Scratch", bak, {{data_logical, scratch.string()}, {log_logical, scratch.string() + "-journal"}}));
  EXPECT_TRUE(fs::is_regular_file(scratch));
  EXPECT_EQ(hash_of("Scratch"), live);
  EXPECT_EQ(hash_of("Ledger"), live);
  run(*c, checkdb_statement("Scratch"));
  auto sysfiles = run(*integrated(*engine, "Scratch"), "Select * From Sysfiles");
  EXPECT_EQ(std::get<std::string>(sysfiles.rows[0][8]), scratch.string());
  // Moving onto the live database's file is refused.
  EXPECT_SERVER_ERROR(run(*c, restore_move_statement("Other", bak, {{data_logical, data_live}, {log_logical, data_live + "-journal"}})),
                      "cannot be overwritten");
  run(*c, drop_database_statement("Scratch"));
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(hash_of("Ledger"), live);
}

TEST_F(VerifyEngineTest, CheckdbNamesTheDamagedTable) {
  auto c = integrated(*engine);
  make_sample(*c, "Ledger", 50);
  run(*c, checkdb_statement("Ledger"));
  run(*c, "DBCC CHECKDB");  // master
  {
    // The index's definition changed under its entries: every row is missing from it.
    auto d = integrated(*engine, "Ledger");
    run(*d, "PRAGMA writable_schema = ON");
    run(*d, "UPDATE sqlite_master SET sql = 'CREATE INDEX ix ON [Order Lines](Qty)' WHERE name = 'ix'");
    run(*d, "PRAGMA writable_schema = OFF");
  }
  auto fresh = open_engine(env);
  auto e = integrated(*fresh);
  try {
    run(*e, checkdb_statement("Ledger"));
    ADD_FAILURE() << "no error";
  } catch (const dal::ProviderError& err) {
    const std::string text = err.what();
    EXPECT_NE(text.find("consistency errors in table 'Order Lines'"), std::string::npos) << text;
    EXPECT_NE(text.find("consistency errors in database 'Ledger'"), std::string::npos) << text;
    EXPECT_EQ(text.find("table 'Customers'"), std::string::npos) << text;
    EXPECT_EQ(err.native_code(), 8928);
  }
  EXPECT_SERVER_ERROR(run(*e, checkdb_statement("Nowhere")), "Could not locate entry in sysdatabases");
}

}  // namespace
}  // namespace orv::server
