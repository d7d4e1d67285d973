// The settings database: the connection and datasets the main window keeps on Velmora.db, and
// the rules that go with its tables (Database_List, System, Language_Tbl).
//
// SettingsStore owns `ADOConnection1` and the four datasets on it. Open() connects and opens
// `ADOTableDatabase` (Database_List through "PrimaryKey") and `ADOTableSystem` (System); the
// new-row rule and the time-change rule are installed on `ADOTableDatabase` at construction, so
// every appended row and every time edit follows them, whoever makes it (a grid, the list
// refresh, a test). `ADOQueryZamanlama` (schedule) and `ADOQueryLanguage` (translations) are left
// to their users, which close and reopen them per statement.
//
// The file is never created here: it ships with the tool (made by the build from
// data/Velmora.sql). A missing, locked or damaged file makes Open() throw ProviderError with
// SQLite's text.
//
// Yes/no values are the texts "True"/"False"; is_true() is the one test the tool's own code
// applies ("True" exactly, anything else is no).
//
// Ownership: the main window owns one SettingsStore for the life of the process.
// Threading: the user-interface thread only.
// Errors: ProviderError (provider text) and DataSetError (dal/dataset.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "dal/connection.h"
#include "dal/dataset.h"

namespace orv::settings {

// "True" exactly (letter case included) is yes; anything else, empty included, is no.
bool is_true(std::string_view value);
inline const char* yes_no(bool value) { return value ? "True" : "False"; }

// <folder>/Velmora.db, and the connection string that opens it.
std::filesystem::path settings_database_path(const std::filesystem::path& folder);
std::string settings_connection_string(const std::filesystem::path& folder);

// Columns newer than the first shipped Velmora.db. Open() adds each one missing (ALTER TABLE ...
// ADD COLUMN: every existing row and value stays; the new column reads as its default) before it
// opens the tables, so a database of an earlier release keeps its schedule. data/Velmora.sql has
// them from the start.
struct SchemaColumn {
  const char* table;
  const char* column;
  const char* type;
};
inline constexpr SchemaColumn kAddedColumns[] = {
    {"System", "Keep", "INTEGER DEFAULT 1"},  // backup generations kept per database
    // Test restores: when ("Always" after every backup, "Weekly", anything else never), the
    // last outcome as the grid shows it, and its time.
    {"Database_List", "Test_Restore", "VARCHAR(10) DEFAULT 'Never'"},
    {"Database_List", "Verified", "VARCHAR(255)"},
    {"Database_List", "Verified_Tarih", "DATETIME"},
};
inline constexpr const char* kTestRestoreAlways = "Always";
inline constexpr const char* kTestRestoreWeekly = "Weekly";
inline constexpr const char* kTestRestoreNever = "Never";
// The most generations System.Keep asks for (a larger value counts as this).
inline constexpr int kMaxKeep = 99;
// The upgrade step of Open(); throws the provider's error.
void UpgradeSchema(dal::Connection& connection);

class SettingsStore {
 public:
  SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Connects to <folder>/Velmora.db with the time-outs of ADOConnection1 (set at construction:
  // command 3000000 s, connection 30000 s), then opens ADOTableDatabase and
  // ADOTableSystem. The caller asks ADOTableDatabase.record_count() afterwards (zero = first
  // start). Throws with the provider's text; on failure nothing stays open.
  void Open(const std::filesystem::path& installation_folder);

  // If ADOTableSystem has a pending change (edit, or the row its first edit created), post it.
  void PostPendingSystemEdit();

  // The row of Database_List whose Veri_Tabani_Adi equals `database_name` exactly gets
  // Son_Yedek_Tarih = `finished` and Son_Yedek_Dosya_Adi = `file_name`, and is posted. Returns
  // false, changing nothing, when there is no such row. When the write is refused (the row was
  // deleted by another program, the file name is too long) the change is cancelled, the table
  // is back in Browse state and the provider's error is thrown.
  bool RecordLastBackup(std::string_view database_name, std::string_view file_name, dal::DateTime finished);

  // The new-row rule (new-record event of ADOTableDatabase): the seven day times, Monday to
  // Sunday, set to 00:00 of day 0, then the seven day flags, same order, set to "False". Disc
  // and zip flags stay empty.
  void ADOTableDatabaseNewRecord(dal::DataSet& dataset);
  // The time-change rule (change event of each day time): the day's flag becomes "True" unless
  // it already is.
  void DayTimeChange(dal::Field& time_field);

  dal::DataConnection ADOConnection1;
  dal::Table ADOTableDatabase;
  dal::Table ADOTableSystem;
  dal::Query ADOQueryZamanlama;
  dal::Query ADOQueryLanguage;
};

}  // namespace orv::settings
