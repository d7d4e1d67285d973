#include <gtest/gtest.h>

#include "server/parser.h"
#include "server/statement.h"

namespace orv::server {
namespace {

const char* const kNames[] = {"plain", "with space", "O'Neil", "a]b", "[x]", "semi;colon", "quote\"d",
                              "Tab\tName", "mixed ]]'' [[", "Ünïcødé"};

TEST(StatementBuilder, QuotesIdentifiersAndLiterals) {
  EXPECT_EQ(quote_identifier("a]b"), "[a]]b]");
  EXPECT_EQ(quote_identifier("[x]"), "[[x]]]");
  EXPECT_EQ(quote_literal("O'Neil"), "N'O''Neil'");
  EXPECT_EQ(quote_literal(""), "N''");
  EXPECT_EQ(backup_statement("my db", "/w/my db.Dat"), "Backup database [my db] to Disk=N'/w/my db.Dat'");
  EXPECT_EQ(restore_headeronly_statement("/w/a'b.Dat"), "RESTORE HEADERONLY\nFROM DISK=N'/w/a''b.Dat'");
  EXPECT_EQ(checktable_repair_statement("t]1"), "DBCC CHECKTABLE([t]]1],REPAIR_REBUILD)");
}

// Every builder output parses back to exactly the names it was built from, whatever they hold.
TEST(StatementBuilder, EveryStatementParsesBackToItsNames) {
  for (const char* name : kNames) {
    std::string file = std::string("/tmp/") + name + ".Dat";
    SCOPED_TRACE(name);
    auto b = std::get<stmt::Backup>(parse_statement(backup_statement(name, file)));
    EXPECT_EQ(b.database, name);
    EXPECT_EQ(b.disk, file);
    EXPECT_FALSE(b.init);
    EXPECT_EQ(std::get<stmt::RestoreHeaderOnly>(parse_statement(restore_headeronly_statement(file))).disk, file);
    EXPECT_EQ(std::get<stmt::RestoreFileListOnly>(parse_statement(restore_filelistonly_statement(file))).disk, file);
    auto r = std::get<stmt::Restore>(parse_statement(restore_statement(name, file)));
    EXPECT_EQ(r.database, name);
    EXPECT_EQ(r.disk, file);
    EXPECT_EQ(std::get<stmt::Use>(parse_statement(use_statement(name))).database, name);
    auto o = std::get<stmt::DbOption>(parse_statement(single_user_statement(name, true)));
    EXPECT_EQ(o.database, name);
    EXPECT_EQ(o.option, "single");
    EXPECT_EQ(o.value, "true");
    EXPECT_EQ(std::get<stmt::DbccDbreindex>(parse_statement(dbreindex_statement(name))).table, name);
    auto c = std::get<stmt::DbccChecktable>(parse_statement(checktable_repair_statement(name)));
    EXPECT_EQ(c.table, name);
    EXPECT_EQ(c.repair, "REPAIR_REBUILD");
  }
}

// The tool's own bare forms are read as SQL Server reads them.
TEST(StatementParser, ReadsTheBareFormsOfTheTool) {
  EXPECT_TRUE(std::holds_alternative<stmt::SelectSysfiles>(parse_statement("Select * From Sysfiles")));
  EXPECT_TRUE(std::holds_alternative<stmt::SpDatabases>(parse_statement("sp_Databases")));
  EXPECT_TRUE(std::holds_alternative<stmt::SpDatabases>(parse_statement("EXEC master.dbo.sp_databases;")));
  EXPECT_TRUE(std::holds_alternative<stmt::SpTables>(parse_statement("sp_tables")));
  EXPECT_TRUE(std::holds_alternative<stmt::Checkpoint>(parse_statement("checkpoint")));
  auto o = std::get<stmt::DbOption>(parse_statement("sp_dboption Sales, single, false"));
  EXPECT_EQ(o.database, "Sales");
  EXPECT_EQ(o.value, "false");
  EXPECT_EQ(std::get<stmt::DbccDbreindex>(parse_statement("DBCC DBREINDEX(Orders)")).table, "Orders");
  EXPECT_EQ(std::get<stmt::DbccDbreindex>(parse_statement("DBCC DBREINDEX('dbo.[Order Lines]')")).table,
            "Order Lines");
  auto b = std::get<stmt::Backup>(parse_statement("backup DATABASE x TO disk = N'f' WITH INIT, STATS = 10"));
  EXPECT_TRUE(b.init);
  auto r = std::get<stmt::Restore>(parse_statement("restore database x from disk='f' with file = 2, replace"));
  EXPECT_EQ(r.file, 2);
  EXPECT_TRUE(r.replace);
  EXPECT_TRUE(std::holds_alternative<stmt::SetUserMode>(
      parse_statement("ALTER DATABASE [a b] SET SINGLE_USER WITH ROLLBACK IMMEDIATE")));
  EXPECT_TRUE(std::holds_alternative<stmt::Passthrough>(parse_statement("SELECT * FROM Sysfiles2")));
  EXPECT_TRUE(std::holds_alternative<stmt::Passthrough>(parse_statement("create table t(a int)")));
  // Comments and line breaks between the parts.
  EXPECT_TRUE(std::holds_alternative<stmt::RestoreHeaderOnly>(
      parse_statement("RESTORE /* c */ HEADERONLY -- x\r\nFROM DISK='a'")));
}

// A bare name with a space leaves the rest of the statement unparsable; a quote runs past the
// end. Both are refused with SQL Server's texts, not run as something else.
TEST(StatementParser, RefusesMalformedStatementsWithServerTexts) {
  auto expect = [](const std::string& sql, const std::string& part, int number) {
    try {
      parse_statement(sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const ParseError& e) {
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
      EXPECT_EQ(e.number(), number) << sql;
    }
  };
  expect("Backup database my db to Disk='/w/my db.Dat'", "Incorrect syntax near 'db'", 102);
  expect("Backup database x to Disk='/w/O'Neil.Dat'", "Unclosed quotation mark", 105);
  expect("Backup database [x to Disk='f'", "Unclosed quotation mark", 105);
  expect("Backup database x to Disk='f' WITH BOGUS", "'BOGUS' is not a recognized BACKUP option.", 155);
  expect("sp_nothing", "Could not find stored procedure 'SP_NOTHING'.", 2812);
  expect("DBCC SHRINKDATABASE(x)", "'SHRINKDATABASE' is not a recognized DBCC statement.", 2526);
  expect("Restore database x From", "Incorrect syntax near the end of the statement.", 102);
  expect("USE []", "An object or column name is missing or empty.", 1038);
  expect("", "Command text was not set", 0);
}

}  // namespace
}  // namespace orv::server
