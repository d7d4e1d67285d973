// Datasets over the SQLite provider: states, navigation, locate, bookmarks, posting and its
// refusal, events and what bound views are told, in order.
#include "dal/dataset.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "dal/datetime.h"
#include "settings_db.h"
#include "test_env.h"

namespace orv::dal {
namespace {

namespace fs = std::filesystem;

// Reads one value through SQLite itself, to see what the file holds.
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

struct Recorder : DataSetObserver {
  std::vector<std::string> log;
  void dataset_changed(DataSet&) override { log.push_back("dataset_changed"); }
  void row_changed(DataSet&, int row) override { log.push_back("row_changed " + std::to_string(row)); }
  void row_inserted(DataSet&, int row) override { log.push_back("row_inserted " + std::to_string(row)); }
  void row_removed(DataSet&, int row) override { log.push_back("row_removed " + std::to_string(row)); }
  void current_changed(DataSet& d) override { log.push_back("current " + std::to_string(d.current_index())); }
  void state_changed(DataSet& d) override { log.push_back("state " + std::to_string(static_cast<int>(d.state()))); }
};

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn.open("Provider=SQLite;Data Source=" + db.string());
    for (const char* name : {"sales", "Sales", "hr", "master"})
      conn.execute("INSERT INTO Database_List (Veri_Tabani_Adi, Pazar) VALUES (:n, 'False')", {{"n", std::string(name)}});
    table.set_table_name("Database_List");
    table.set_index_name("PrimaryKey");
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (table.first(); !table.eof(); table.next()) out.push_back(table.field("Veri_Tabani_Adi").as_string());
    return out;
  }

  test::TestEnv env;
  fs::path db = test::make_settings_db(env.home());
  DataConnection conn;
  Table table{conn};
};

TEST_F(DataSetTest, BrowsesAllRowsInIndexOrderWithCountAndEof) {
  table.open();
  EXPECT_EQ(table.state(), DataSetState::Browse);
  EXPECT_EQ(table.record_count(), 4);
  EXPECT_FALSE(table.eof());
  EXPECT_EQ(names(), (std::vector<std::string>{"Sales", "hr", "master", "sales"}));
  EXPECT_TRUE(table.eof());
  table.next();  // past the end stays at the last row
  EXPECT_EQ(table.field("veri_tabani_adi").as_string(), "sales");
  EXPECT_EQ(table.field("Son_Yedek_Tarih").as_string(), "");  // null reads as empty text
  EXPECT_EQ(table.field("Son_Yedek_Tarih").as_date_time(), DateTime{0});
  EXPECT_THROW(table.field("Nope"), DataSetError);

  Table empty(conn);
  empty.set_table_name("System");
  empty.open();
  EXPECT_TRUE(empty.eof());
  EXPECT_EQ(empty.record_count(), 0);
  EXPECT_EQ(empty.field("Temp_Dizini").as_string(), "");
}

TEST_F(DataSetTest, LocateMatchesTheWholeTextExactly) {
  table.open();
  EXPECT_TRUE(table.locate("Veri_Tabani_Adi", "sales"));
  EXPECT_EQ(table.field("Veri_Tabani_Adi").as_string(), "sales");
  EXPECT_TRUE(table.locate("Veri_Tabani_Adi", "Sales"));
  EXPECT_EQ(table.field("Veri_Tabani_Adi").as_string(), "Sales");
  table.move_to(2);
  EXPECT_FALSE(table.locate("Veri_Tabani_Adi", "SALES"));
  EXPECT_FALSE(table.locate("Veri_Tabani_Adi", "sale"));
  EXPECT_FALSE(table.locate("Veri_Tabani_Adi", "sales "));
  EXPECT_EQ(table.current_index(), 2);  // not found: stays
  EXPECT_TRUE(table.locate("Son_Yedek_Tarih", ""));  // null reads as empty text
}

TEST_F(DataSetTest, BookmarksSurviveMovingAndAppending) {
  table.open();
  table.locate("Veri_Tabani_Adi", "hr");
  Bookmark hr = table.bookmark();
  table.last();
  table.append();
  table.field("Veri_Tabani_Adi").set_string("zz");
  Bookmark added = table.bookmark();
  table.post();
  table.go_to_bookmark(hr);
  EXPECT_EQ(table.field("Veri_Tabani_Adi").as_string(), "hr");
  table.go_to_bookmark(added);
  EXPECT_EQ(table.field("Veri_Tabani_Adi").as_string(), "zz");
  // A cancelled new row leaves no valid bookmark behind.
  table.append();
  Bookmark dropped = table.bookmark();
  table.cancel();
  EXPECT_FALSE(table.bookmark_valid(dropped));
  EXPECT_THROW(table.go_to_bookmark(dropped), DataSetError);
  table.free_bookmark(hr);
  EXPECT_TRUE(hr.empty());
  EXPECT_FALSE(table.bookmark_valid(hr));
  // Closing and opening again gives new rows: old bookmarks point nowhere.
  table.close();
  table.open();
  EXPECT_FALSE(table.bookmark_valid(added));
}

TEST_F(DataSetTest, EditPostWritesOnlyThroughPostAndCancelRestores) {
  table.open();
  table.locate("Veri_Tabani_Adi", "hr");
  EXPECT_THROW(table.field("Pazar").set_string("True"), DataSetError);  // not in edit mode
  table.edit();
  EXPECT_EQ(table.state(), DataSetState::Edit);
  table.field("Pazar").set_string("True");
  EXPECT_EQ(stored(db, "SELECT Pazar FROM Database_List WHERE Veri_Tabani_Adi='hr'"), "False");
  table.cancel();
  EXPECT_EQ(table.state(), DataSetState::Browse);
  EXPECT_EQ(table.field("Pazar").as_string(), "False");
  table.edit();
  table.field("Pazar").set_string("True");
  table.field("Pazar_T").set_date_time(encode_time(2, 30));
  table.post();
  EXPECT_EQ(table.state(), DataSetState::Browse);
  EXPECT_EQ(stored(db, "SELECT Pazar FROM Database_List WHERE Veri_Tabani_Adi='hr'"), "True");
  EXPECT_EQ(stored(db, "SELECT round(Pazar_T * 1440) FROM Database_List WHERE Veri_Tabani_Adi='hr'"), "150.0");
  EXPECT_EQ(table.field("Pazar_T").as_string(), "02:30:00");
}

TEST_F(DataSetTest, MovingToAnotherRowPostsThePendingEdit) {
  table.open();
  table.locate("Veri_Tabani_Adi", "hr");
  table.edit();
  table.field("Cuma").set_string("True");
  table.next();
  EXPECT_EQ(table.state(), DataSetState::Browse);
  EXPECT_EQ(stored(db, "SELECT Cuma FROM Database_List WHERE Veri_Tabani_Adi='hr'"), "True");
}

TEST_F(DataSetTest, RefusedPostKeepsTheEditAndWritesNothing) {
  table.open();
  table.locate("Veri_Tabani_Adi", "master");
  table.edit();
  table.field("Son_Yedek_Dosya_Adi").set_string("master.Dat");
  table.field("Cuma").set_string("Maybe!");  // 6 characters in a text 5 column
  EXPECT_THROW(table.post(), ProviderError);
  EXPECT_EQ(table.state(), DataSetState::Edit);
  EXPECT_EQ(table.field("Cuma").as_string(), "Maybe!");
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi FROM Database_List WHERE Veri_Tabani_Adi='master'"), "(null)");
  // Leaving the row tries to post again and fails the same way, staying put.
  EXPECT_THROW(table.first(), ProviderError);
  EXPECT_EQ(table.field("Veri_Tabani_Adi").as_string(), "master");
  table.field("Cuma").set_string("True");
  table.post();
  EXPECT_EQ(stored(db, "SELECT Son_Yedek_Dosya_Adi || Cuma FROM Database_List WHERE Veri_Tabani_Adi='master'"),
            "master.DatTrue");
  // An over-long new row is refused as well and not added.
  table.append();
  table.field("Veri_Tabani_Adi").set_string(std::string(300, 'd'));
  EXPECT_THROW(table.post(), ProviderError);
  EXPECT_EQ(table.state(), DataSetState::Insert);
  table.cancel();
  EXPECT_EQ(stored(db, "SELECT count(*) FROM Database_List"), "4");
  EXPECT_EQ(table.record_count(), 4);
}

TEST_F(DataSetTest, PostWhileAnotherProgramHoldsTheFileFailsWithTheProviderTextAndKeepsTheEdit) {
  conn.set_command_timeout(std::chrono::seconds(1));
  table.open();
  table.locate("Veri_Tabani_Adi", "hr");
  table.edit();
  table.field("Sali").set_string("True");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  try {
    table.post();
    ADD_FAILURE() << "posted into a locked file";
  } catch (const ProviderError& e) {
    EXPECT_EQ(std::string(e.what()), sqlite3_errstr(SQLITE_BUSY));
  }
  EXPECT_EQ(table.state(), DataSetState::Edit);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  table.post();
  EXPECT_EQ(stored(db, "SELECT Sali FROM Database_List WHERE Veri_Tabani_Adi='hr'"), "True");
}

TEST_F(DataSetTest, AppendFiresNewRecordThenFieldChangesThenTellsViews) {
  std::vector<std::string> events;
  Recorder view;
  table.on_new_record = [&](DataSet& d) {
    events.push_back("new_record state " + std::to_string(static_cast<int>(d.state())));
    d.field("Sali_T").set_date_time(DateTime{0});
    d.field("Sali").set_string("False");
  };
  table.set_on_field_change("SALI_T", [&](Field& f) {
    events.push_back("change " + f.name());
    f.dataset().field("Sali").set_string("True");
  });
  table.set_on_field_change("Sali", [&](Field& f) { events.push_back("change Sali=" + f.as_string()); });
  table.open();
  table.add_observer(&view);
  table.move_to(1);
  view.log.clear();
  table.append();
  EXPECT_EQ(events, (std::vector<std::string>{"new_record state 3", "change Sali_T", "change Sali=True", "change Sali=False"}));
  EXPECT_EQ(view.log, (std::vector<std::string>{"row_inserted 4", "current 4", "state 3"}));
  EXPECT_EQ(table.record_count(), 5);
  view.log.clear();
  table.field("Veri_Tabani_Adi").set_string("new");
  table.post();
  EXPECT_EQ(view.log, (std::vector<std::string>{"row_changed 4", "row_changed 4", "state 1"}));
  EXPECT_EQ(stored(db, "SELECT Sali || '/' || (Sali_T = 0) FROM Database_List WHERE Veri_Tabani_Adi='new'"), "False/1");
  view.log.clear();
  table.append();
  table.cancel();
  EXPECT_EQ(view.log, (std::vector<std::string>{"row_inserted 5", "current 5", "state 3", "row_removed 5", "current 4", "state 1"}));
  table.remove_observer(&view);
}

TEST_F(DataSetTest, NewRecordFailureLeavesNoRow) {
  table.on_new_record = [](DataSet&) { throw std::runtime_error("refused"); };
  table.open();
  EXPECT_THROW(table.append(), std::runtime_error);
  EXPECT_EQ(table.state(), DataSetState::Browse);
  EXPECT_EQ(table.record_count(), 4);
}

TEST_F(DataSetTest, DisabledControlsHearNothingUntilTheLastEnable) {
  Recorder view;
  table.add_observer(&view);
  table.open();
  view.log.clear();
  table.disable_controls();
  table.disable_controls();
  for (table.first(); !table.eof(); table.next()) {
    table.edit();
    table.field("Pzr_Zip").set_string("True");
    table.post();
  }
  table.enable_controls();
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(table.controls_disabled());
  table.enable_controls();
  EXPECT_EQ(view.log, (std::vector<std::string>{"dataset_changed", "current 3"}));
  EXPECT_FALSE(table.controls_disabled());
  EXPECT_EQ(stored(db, "SELECT count(*) FROM Database_List WHERE Pzr_Zip='True'"), "4");
}

TEST_F(DataSetTest, EditOfAnEmptyTableCreatesTheRowWithItsAutonumber) {
  Table system(conn);
  system.set_table_name("System");
  system.open();
  system.edit();
  EXPECT_EQ(system.state(), DataSetState::Insert);
  EXPECT_THROW(system.field("Kimlik").set_string("7"), DataSetError);  // autonumber is read-only
  system.field("Temp_Dizini").set_string("/srv/backup/");
  system.post();
  EXPECT_EQ(system.record_count(), 1);
  EXPECT_EQ(system.field("Kimlik").as_string(), stored(db, "SELECT Kimlik FROM System"));
  EXPECT_FALSE(system.field("Kimlik").is_null());
  EXPECT_EQ(stored(db, "SELECT Temp_Dizini FROM System"), "/srv/backup/");
}

TEST_F(DataSetTest, QueryWithParameterOpensAndEditsItsOneTable) {
  Query q(conn);
  q.clear_sql();
  q.add_sql("Select * From Language_Tbl");
  q.add_sql("Where Degisken=:Degisken");
  EXPECT_EQ(q.sql_text(), "Select * From Language_Tbl\nWhere Degisken=:Degisken");
  ASSERT_EQ(q.params().size(), 1u);
  EXPECT_THROW(q.param("Gun"), DataSetError);
  q.param("Degisken").set_string("RESTORE");
  q.open();
  ASSERT_EQ(q.record_count(), 1);
  EXPECT_TRUE(q.can_modify());
  q.edit();
  q.field("Language").set_string("GERI YUKLE");
  q.post();
  EXPECT_EQ(stored(db, "SELECT Language FROM Language_Tbl WHERE Degisken='RESTORE'"), "GERI YUKLE");
  EXPECT_EQ(stored(db, "SELECT Language FROM Language_Tbl WHERE Degisken='Restore'"), "Restore");
  // Changing the text closes the query and drops the old parameters.
  q.set_sql({"Select count(*) AS n From Language_Tbl Where English = :e"});
  EXPECT_FALSE(q.active());
  q.param("e").set_string("Restore");
  q.open();
  EXPECT_EQ(q.field("n").as_string(), "3");
  EXPECT_FALSE(q.can_modify());
  EXPECT_THROW(q.edit(), DataSetError);
  // A statement without rows runs through exec_sql and says how many rows it changed.
  q.set_sql({"Update Language_Tbl Set Language = English Where Degisken In ('RESTORE', 'Restore')"});
  EXPECT_THROW(q.open(), DataSetError);
  EXPECT_EQ(q.exec_sql(), 2);
  EXPECT_EQ(stored(db, "SELECT Language FROM Language_Tbl WHERE Degisken='RESTORE'"), "RESTORE");
}

TEST_F(DataSetTest, ClosingTheConnectionClosesItsDatasetsAndReopeningUsesTheNewString) {
  table.open();
  ASSERT_EQ(table.record_count(), 4);
  fs::path other = test::make_settings_db(env.work() / "other");
  conn.open("Provider=SQLite;Data Source=" + other.string());  // closes, then opens the other file
  EXPECT_FALSE(table.active());
  EXPECT_THROW(table.first(), DataSetError);
  table.open();
  EXPECT_EQ(table.record_count(), 0);
  conn.close();
  EXPECT_FALSE(conn.connected());
  EXPECT_THROW(table.open(), DataSetError);
  EXPECT_THROW(conn.open("Provider=Nothing.1"), ProviderError);
}

TEST_F(DataSetTest, FieldsStayTheSameObjectsAcrossCloseAndOpen) {
  table.open();
  Field* name = &table.field("Veri_Tabani_Adi");
  table.close();
  EXPECT_EQ(name->as_string(), "");
  table.open();
  EXPECT_EQ(&table.field("Veri_Tabani_Adi"), name);
  EXPECT_EQ(name->as_string(), "Sales");
}

}  // namespace
}  // namespace orv::dal
