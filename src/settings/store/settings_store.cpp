#include "settings/store/settings_store.h"

#include "settings/store/schedule.h"

#include <cctype>
#include <variant>

namespace orv::settings {

bool is_true(std::string_view value) { return value == "True"; }

std::filesystem::path settings_database_path(const std::filesystem::path& folder) { return folder / "Velmora.db"; }

std::string settings_connection_string(const std::filesystem::path& folder) {
  std::string path = settings_database_path(folder).string();
  // A path holding ";" or starting with a quote is written quoted, its quotes doubled.
  if (path.find_first_of(";\"{") != std::string::npos || path.front() == ' ' || path.back() == ' ') {
    std::string quoted = "\"";
    for (char c : path) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    path = quoted + "\"";
  }
  return "Provider=SQLite;Data Source=" + path;
}

SettingsStore::SettingsStore()
    : ADOTableDatabase(ADOConnection1),
      ADOTableSystem(ADOConnection1),
      ADOQueryZamanlama(ADOConnection1),
      ADOQueryLanguage(ADOConnection1) {
  ADOConnection1.set_command_timeout(std::chrono::seconds(3000000));
  ADOConnection1.set_connection_timeout(std::chrono::seconds(30000));
  ADOConnection1.set_login_prompt(false);
  ADOTableDatabase.set_table_name("Database_List");
  ADOTableDatabase.set_index_name("PrimaryKey");
  ADOTableSystem.set_table_name("System");
  ADOTableDatabase.on_new_record = [this](dal::DataSet& d) { ADOTableDatabaseNewRecord(d); };
  for (const DayColumns& day : kDays)
    ADOTableDatabase.set_on_field_change(day.time, [this](dal::Field& f) { DayTimeChange(f); });
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

void UpgradeSchema(dal::Connection& connection) {
  for (const SchemaColumn& c : kAddedColumns) {
    const dal::ResultSet info = connection.execute("PRAGMA table_info(" + std::string(c.table) + ")", {});
    bool present = false;
    for (const auto& row : info.rows)
      if (row.size() > 1 && std::holds_alternative<std::string>(row[1]))
        present = present || SameName(std::get<std::string>(row[1]), c.column);
    if (!present)
      connection.execute("ALTER TABLE " + std::string(c.table) + " ADD COLUMN " + c.column + " " + c.type, {});
  }
}

void SettingsStore::Open(const std::filesystem::path& installation_folder) {
  ADOConnection1.set_connection_string(settings_connection_string(installation_folder));
  try {
    ADOConnection1.open();
    UpgradeSchema(ADOConnection1.provider());
    ADOTableDatabase.open();
    ADOTableSystem.open();
  } catch (...) {
    ADOConnection1.close();
    throw;
  }
}

void SettingsStore::PostPendingSystemEdit() {
  // A row created by the first edit of an empty System table is pending too (Insert state).
  if (ADOTableSystem.state() == dal::DataSetState::Edit || ADOTableSystem.state() == dal::DataSetState::Insert)
    ADOTableSystem.post();
}

bool SettingsStore::RecordLastBackup(std::string_view database_name, std::string_view file_name,
                                     dal::DateTime finished) {
  if (!ADOTableDatabase.locate("Veri_Tabani_Adi", database_name)) return false;
  ADOTableDatabase.edit();
  try {
    ADOTableDatabase.field("Son_Yedek_Tarih").set_date_time(finished);
    ADOTableDatabase.field("Son_Yedek_Dosya_Adi").set_string(std::string(file_name));
    ADOTableDatabase.post();
  } catch (...) {
    // A refused record must not leave the grid's table stuck in an edit that can never post
    // (the row deleted meanwhile, a name too long): drop it and report.
    ADOTableDatabase.cancel();
    throw;
  }
  return true;
}

void SettingsStore::ADOTableDatabaseNewRecord(dal::DataSet& dataset) {
  // Times first: each fires the time-change rule, which ticks its day; the flags are then
  // cleared, so a new row is scheduled for no day.
  for (int day : kGridDayOrder) dataset.field(day_columns(day).time).set_date_time(dal::DateTime{0});
  for (int day : kGridDayOrder) dataset.field(day_columns(day).flag).set_string("False");
}

void SettingsStore::DayTimeChange(dal::Field& time_field) {
  for (const DayColumns& day : kDays) {
    if (dal::Field* f = time_field.dataset().find_field(day.time); f != &time_field) continue;
    dal::Field& flag = time_field.dataset().field(day.flag);
    if (!is_true(flag.as_string())) flag.set_string("True");
    return;
  }
}

}  // namespace orv::settings
