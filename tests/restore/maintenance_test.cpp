// "REPAIR INDEX" and "REPAIR TABLE" against the local server engine: the statements in order,
// the rows worked on, the bar, the end messages, failing tables and the single-user switch.
#include "backup/restore/maintenance.h"

#include <gtest/gtest.h>

#include "restore_fixture.h"

namespace orv::backup {
namespace {

using testing::RecordingView;
using testing::ServerFixture;

struct MaintenanceFixture : ServerFixture {
  explicit MaintenanceFixture(bool modern = false) : ServerFixture(modern) {
    // 3 user tables and 4 views; sp_tables adds the engine's own table: 8 rows.
    exec("CREATE DATABASE [Shop 1]");
    exec("USE [Shop 1]");
    exec("CREATE TABLE a(x INTEGER PRIMARY KEY, y TEXT); CREATE INDEX ay ON a(y)");
    exec("CREATE TABLE [b c](x)");
    exec("CREATE TABLE d(x)");
    for (int i = 0; i < 20; ++i) exec("INSERT INTO a(y) VALUES('r" + std::to_string(i) + "')");
    for (const char* v : {"v1", "v2", "v3", "v4"}) exec(std::string("CREATE VIEW ") + v + " AS SELECT * FROM a");
    exec("USE master");
  }

  MaintenanceContext context() {
    return MaintenanceContext{dialogs, view, detay, index, [this] { return database; }, strings};
  }
  MaintenanceResult repair_index() {
    auto c = context();
    log.recording = true;
    auto r = RepairIndex(c);
    log.recording = false;
    return r;
  }
  MaintenanceResult repair_table() {
    auto c = context();
    log.recording = true;
    auto r = RepairTable(c);
    log.recording = false;
    return r;
  }
  std::vector<std::string> dbcc() const {
    std::vector<std::string> out;
    for (const auto& s : log.statements)
      if (s.rfind("DBCC", 0) == 0) out.push_back(s);
    return out;
  }
  // Whether a second session may enter the database (not while it is single-user).
  bool multi_user() {
    const bool was = log.recording;
    log.recording = false;
    dal::DataConnection other;
    other.open(login);
    bool ok = true;
    try {
      other.execute(server::use_statement(database));
    } catch (const dal::ProviderError&) {
      ok = false;
    }
    other.close();
    log.recording = was;
    return ok;
  }

  std::string database = "Shop 1";
  ui::ScriptedDialogs dialogs;
  RecordingView view;
  i18n::MessageStrings strings = testing::key_strings();
  dal::Query detay{sqlc};
  dal::Query index{sqlc};
};

const std::vector<int> kEightRows = {12, 25, 38, 50, 62, 75, 88, 100};

std::vector<std::string> switch_statements(const std::string& db, bool on) {
  return {"USE [master]", server::single_user_statement(db, on), server::use_statement(db), "checkpoint",
          "sp_tables"};
}

TEST(Progress, HalvesGoToTheEvenNeighbour) {
  std::vector<int> eight;
  for (int i = 1; i <= 8; ++i) eight.push_back(ProgressPosition(i, 8));
  EXPECT_EQ(eight, kEightRows);
  EXPECT_EQ(ProgressPosition(1, 3), 33);
  EXPECT_EQ(ProgressPosition(2, 3), 67);
  EXPECT_EQ(ProgressPosition(1, 40), 2);   // 2.5
  EXPECT_EQ(ProgressPosition(3, 40), 8);   // 7.5
  EXPECT_EQ(ProgressPosition(1, 200), 0);  // 0.5
  EXPECT_EQ(ProgressPosition(3, 200), 2);  // 1.5
  EXPECT_EQ(ProgressPosition(1, 1), 100);
  EXPECT_EQ(ProgressPosition(0, 0), 0);
}

TEST(RepairIndex, ThreeUserTablesAmongEightRows) {
  MaintenanceFixture f;
  MaintenanceResult r = f.repair_index();
  EXPECT_EQ(r.rows, 8);
  EXPECT_EQ(f.dbcc(), (std::vector<std::string>{"DBCC DBREINDEX([a])", "DBCC DBREINDEX([b c])", "DBCC DBREINDEX([d])"}));
  EXPECT_EQ(f.view.positions, kEightRows);
  // Question, then the end message.
  ASSERT_EQ(f.dialogs.boxes().size(), 2u);
  EXPECT_EQ(f.dialogs.boxes()[0], (ui::Box{ui::BoxKind::Warning, "Index_Rebuild_Bsk_Str", "MSSQL_Exit_Str",
                                           ui::Buttons::YesNo}));
  EXPECT_EQ(f.dialogs.boxes()[1], (ui::Box{ui::BoxKind::Information, "Index_Rebuild_Bsk_Str", "Index_Rebuild_Str"}));
  // The list is opened in the database; the connection stays there.
  std::vector<std::string> head(f.log.statements.begin(), f.log.statements.begin() + 2);
  EXPECT_EQ(head, (std::vector<std::string>{"USE [Shop 1]", "sp_tables"}));
  EXPECT_FALSE(f.view.progress_open);
  EXPECT_EQ(f.view.progress_opened, 1);
}

TEST(RepairIndex, AnsweringNoSendsNothing) {
  MaintenanceFixture f;
  f.dialogs.answer_box(ui::Answer::No);
  MaintenanceResult r = f.repair_index();
  EXPECT_FALSE(r.asked_yes);
  EXPECT_TRUE(f.log.statements.empty());
  EXPECT_EQ(f.dialogs.boxes().size(), 1u);
  EXPECT_EQ(f.view.progress_opened, 0);
}

TEST(RepairIndex, FailingTableIsNamedAndTheNextTablesStillRun) {
  MaintenanceFixture f;
  f.log.fail_containing = "DBCC DBREINDEX([b c])";
  MaintenanceResult r = f.repair_index();
  EXPECT_EQ(f.log.failures, 1);  // sent once, not again and again
  EXPECT_EQ(f.dbcc(), (std::vector<std::string>{"DBCC DBREINDEX([a])", "DBCC DBREINDEX([b c])", "DBCC DBREINDEX([d])"}));
  ASSERT_EQ(r.failed.size(), 1u);
  EXPECT_EQ(r.failed[0].table, "b c");
  EXPECT_EQ(f.view.positions, kEightRows);
  const ui::Box end = f.dialogs.boxes().back();
  EXPECT_EQ(end.kind, ui::BoxKind::Error);
  EXPECT_NE(end.text.find("Index_Rebuild_Str"), std::string::npos);
  EXPECT_NE(end.text.find("b c: Injected failure of: DBCC DBREINDEX([b c])"), std::string::npos);
  EXPECT_EQ(f.view.progress_opened, 2);  // closed at the failure, opened again for the rest
  EXPECT_FALSE(f.view.progress_open);
}

TEST(RepairIndex, UnknownDatabaseReachesTheCallerWithoutAProgressWindow) {
  MaintenanceFixture f;
  f.database = "No Such";
  auto c = f.context();
  EXPECT_THROW(RepairIndex(c), dal::ProviderError);
  EXPECT_EQ(f.view.progress_opened, 0);
  EXPECT_EQ(f.dialogs.boxes().size(), 1u);
}

TEST(RepairTable, StatementsInTheirOrderAndBackToMultiUser) {
  MaintenanceFixture f;
  MaintenanceResult r = f.repair_table();
  EXPECT_TRUE(r.failed.empty());
  std::vector<std::string> expected = switch_statements("Shop 1", true);
  for (const char* t : {"a", "b c", "d"}) expected.push_back(server::checktable_repair_statement(t));
  for (const auto& s : switch_statements("Shop 1", false)) expected.push_back(s);
  EXPECT_EQ(f.log.statements, expected);
  EXPECT_EQ(f.view.positions, kEightRows);
  EXPECT_EQ(f.dialogs.boxes().back(),
            (ui::Box{ui::BoxKind::Information, "Table_Rebuild_Bsk_Str", "Table_Rebuild_Str"}));
  f.exec("USE master");
  EXPECT_TRUE(f.multi_user());
}

TEST(RepairTable, ServerWithoutSpDboptionSwitchesWithAlterDatabase) {
  MaintenanceFixture f(/*modern=*/true);
  MaintenanceResult r = f.repair_table();
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(f.dbcc().size(), 3u);
  std::vector<std::string> expected = {"USE [master]", server::single_user_statement("Shop 1", true),
                                       "ALTER DATABASE [Shop 1] SET SINGLE_USER", "USE [Shop 1]", "checkpoint",
                                       "sp_tables"};
  std::vector<std::string> head(f.log.statements.begin(), f.log.statements.begin() + 6);
  EXPECT_EQ(head, expected);
  std::vector<std::string> tail(f.log.statements.end() - 6, f.log.statements.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"USE [master]", server::single_user_statement("Shop 1", false),
                                            "ALTER DATABASE [Shop 1] SET MULTI_USER", "USE [Shop 1]", "checkpoint",
                                            "sp_tables"}));
  f.exec("USE master");
  EXPECT_TRUE(f.multi_user());
}

TEST(RepairTable, FailingTableLeavesTheDatabaseMultiUserAndTheRestRepaired) {
  MaintenanceFixture f;
  f.log.fail_containing = "DBCC CHECKTABLE([a]";
  MaintenanceResult r = f.repair_table();
  EXPECT_EQ(f.log.failures, 1);
  ASSERT_EQ(r.failed.size(), 1u);
  EXPECT_EQ(r.failed[0].table, "a");
  // After the failure: off, on again for the remaining tables, which are repaired in
  // single-user mode (the engine refuses the repair otherwise), then off at the end.
  std::vector<std::string> expected = switch_statements("Shop 1", true);
  expected.push_back(server::checktable_repair_statement("a"));
  for (const auto& s : switch_statements("Shop 1", false)) expected.push_back(s);
  for (const auto& s : switch_statements("Shop 1", true)) expected.push_back(s);
  expected.push_back(server::checktable_repair_statement("b c"));
  expected.push_back(server::checktable_repair_statement("d"));
  for (const auto& s : switch_statements("Shop 1", false)) expected.push_back(s);
  EXPECT_EQ(f.log.statements, expected);
  EXPECT_EQ(f.dialogs.boxes().back().kind, ui::BoxKind::Error);
  EXPECT_NE(f.dialogs.boxes().back().text.find("a: Injected failure"), std::string::npos);
  f.exec("USE master");
  EXPECT_TRUE(f.multi_user());
}

TEST(RepairTable, FailedSwitchStillEndsMultiUser) {
  MaintenanceFixture f;
  // Switching on succeeds, then the step after it fails: the final step switches off anyway.
  f.log.fail_containing = "checkpoint";
  auto c = f.context();
  f.log.recording = true;
  EXPECT_THROW(RepairTable(c), dal::ProviderError);
  f.log.recording = false;
  EXPECT_TRUE(f.sent(server::single_user_statement("Shop 1", false)));
  EXPECT_TRUE(f.dbcc().empty());
  EXPECT_FALSE(f.view.progress_open);
  f.exec("USE master");
  EXPECT_TRUE(f.multi_user());
}

TEST(RepairTable, AnsweringNoSendsNothing) {
  MaintenanceFixture f;
  f.dialogs.answer_box(ui::Answer::No);
  MaintenanceResult r = f.repair_table();
  EXPECT_FALSE(r.asked_yes);
  EXPECT_TRUE(f.log.statements.empty());
  EXPECT_TRUE(f.multi_user());
}

// Only rows whose type is exactly "TABLE" are user tables: a server spelling it "table" gets no
// DBCC statement for any row, in either repair, and the repairs still end normally.
TEST(RepairIndex, TypeSpelledOtherwiseIsNotAUserTable) {
  MaintenanceFixture f;
  f.log.table_type_as = "table";
  MaintenanceResult index = f.repair_index();
  EXPECT_EQ(index.rows, 8);
  EXPECT_TRUE(f.dbcc().empty()) << f.dbcc().front();
  f.log.statements.clear();
  MaintenanceResult table = f.repair_table();
  EXPECT_EQ(table.rows, 8);
  EXPECT_TRUE(f.dbcc().empty()) << f.dbcc().front();
  EXPECT_TRUE(f.multi_user());
}

}  // namespace
}  // namespace orv::backup
