#include "backup/restore/maintenance.h"

#include <exception>

#include "server/statement.h"

namespace orv::backup {

int ProgressPosition(int handled, int total) {
  if (total <= 0) return 0;
  const long long scaled = static_cast<long long>(handled) * 100;
  long long q = scaled / total;
  const long long twice_rest = (scaled % total) * 2;
  if (twice_rest > total || (twice_rest == total && q % 2 != 0)) ++q;
  return static_cast<int>(q);
}

namespace {

void Execute(dal::Query& q, const std::string& statement) {
  q.close();
  q.set_sql({statement});
  q.exec_sql();
}

void OpenList(dal::Query& q) {
  q.close();
  q.set_sql({"sp_tables"});
  q.open();
  q.first();
}

bool IsUnknownDbOption(const dal::ProviderError& e) {
  return e.native_code() == 2812 || std::string(e.what()).find("'sp_dboption'") != std::string::npos;
}

void SwitchSingleUser(MaintenanceContext& c, bool on) {
  auto& q = c.ADOQueryDetay;
  Execute(q, server::use_statement("master"));
  const std::string database = c.database_name();
  try {
    Execute(q, server::single_user_statement(database, on));
  } catch (const dal::ProviderError& e) {
    if (!IsUnknownDbOption(e)) throw;
    Execute(q, "ALTER DATABASE " + server::quote_identifier(database) + (on ? " SET SINGLE_USER" : " SET MULTI_USER"));
  }
  Execute(q, server::use_statement(c.database_name()));
  Execute(q, "checkpoint");
  OpenList(q);
}

struct Row {
  std::string name;
  bool user_table;
};

std::vector<Row> ListRows(dal::Query& q) {
  std::vector<Row> rows;
  for (q.first(); !q.eof(); q.next())
    rows.push_back({q.field("TABLE_NAME").as_string(), q.field("TABLE_TYPE").as_string() == "TABLE"});
  q.first();
  return rows;
}

// The loop over the list. `after_failure` restores the operation's state once a table failed
// and more rows follow.
void RunTables(MaintenanceContext& c, MaintenanceResult& r, bool repair_table) {
  const std::vector<Row> rows = ListRows(c.ADOQueryDetay);
  r.rows = static_cast<int>(rows.size());
  int handled = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ++handled;
    c.view.SetProgressPosition(ProgressPosition(handled, r.rows));
    if (!rows[i].user_table) continue;
    const std::string statement = repair_table ? server::checktable_repair_statement(rows[i].name)
                                               : server::dbreindex_statement(rows[i].name);
    try {
      ++r.statements;
      Execute(c.ADOQueryIndex, statement);
    } catch (const dal::ProviderError& e) {
      r.failed.push_back({rows[i].name, e.what()});
      c.view.CloseProgress();
      c.view.RepaintMain();
      if (repair_table) SingleUserOff(c);
      if (i + 1 < rows.size()) {
        if (repair_table) SingleUserOn(c);
        c.view.OpenProgress();
      }
    }
  }
}

void EndMessage(MaintenanceContext& c, const MaintenanceResult& r, const std::string& done,
                const std::string& caption) {
  if (r.failed.empty()) {
    c.dialogs.message(done, caption, ui::BoxKind::Information);
    return;
  }
  std::string text = done + "\n\n" + c.strings.Opera_Error_Str;
  for (const auto& f : r.failed) text += "\n" + f.table + ": " + f.error;
  c.dialogs.message(text, caption, ui::BoxKind::Error);
}

bool Ask(MaintenanceContext& c, const std::string& caption) {
  return c.dialogs.message(c.strings.MSSQL_Exit_Str, caption, ui::BoxKind::Warning, ui::Buttons::YesNo) ==
         ui::Answer::Yes;
}

}  // namespace

void OpenTableList(MaintenanceContext& c) {
  Execute(c.ADOQueryDetay, server::use_statement(c.database_name()));
  OpenList(c.ADOQueryDetay);
}

void SingleUserOn(MaintenanceContext& c) { SwitchSingleUser(c, true); }
void SingleUserOff(MaintenanceContext& c) { SwitchSingleUser(c, false); }

MaintenanceResult RepairIndex(MaintenanceContext& c) {
  MaintenanceResult r;
  if (!Ask(c, c.strings.Index_Rebuild_Bsk_Str)) return r;
  r.asked_yes = true;
  c.view.RepaintMain();
  OpenTableList(c);
  c.view.OpenProgress();
  std::exception_ptr error;
  try {
    RunTables(c, r, false);
    EndMessage(c, r, c.strings.Index_Rebuild_Str, c.strings.Index_Rebuild_Bsk_Str);
  } catch (...) {
    error = std::current_exception();
  }
  c.view.CloseProgress();
  c.view.RepaintMain();
  if (error) std::rethrow_exception(error);
  return r;
}

MaintenanceResult RepairTable(MaintenanceContext& c) {
  MaintenanceResult r;
  if (!Ask(c, c.strings.Table_Rebuild_Bsk_Str)) return r;
  r.asked_yes = true;
  std::exception_ptr error;
  try {
    SingleUserOn(c);
    c.view.RepaintMain();
    c.view.OpenProgress();
    RunTables(c, r, true);
    EndMessage(c, r, c.strings.Table_Rebuild_Str, c.strings.Table_Rebuild_Bsk_Str);
  } catch (...) {
    error = std::current_exception();
  }
  c.view.CloseProgress();
  c.view.RepaintMain();
  // The database goes back to multi-user whatever happened; an error of the operation itself
  // is reported before one of this switch.
  try {
    SingleUserOff(c);
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  if (error) std::rethrow_exception(error);
  return r;
}

}  // namespace orv::backup
