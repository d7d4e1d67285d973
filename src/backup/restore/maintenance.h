// Index and table maintenance of one database: the work behind the grid menu's "REPAIR INDEX"
// and "REPAIR TABLE".
//
// Both take the table list from the server's sp_tables on ADOQueryDetay and send one DBCC
// statement per row whose TABLE_TYPE is exactly "TABLE" on ADOQueryIndex (DBREINDEX, or
// CHECKTABLE with REPAIR_REBUILD); other rows count for the progress bar only. "REPAIR TABLE"
// runs between SingleUserOn and SingleUserOff. Every statement is built by server/statement.h.
//
// Single-user switch: sp_dboption first; a server that does not know it (SQL Server 2012 and
// later, error 2812) gets ALTER DATABASE ... SET SINGLE_USER / MULTI_USER instead.
//
// A failing table: its error is kept, the progress window closed and the main window repainted;
// "REPAIR TABLE" switches single-user off (and on again when tables remain). The operation goes
// on with the next table and the end message names every failed table with the server's text
// (error icon). Errors of the preparatory statements are rethrown unchanged
// (dal::ProviderError) after the final step; "REPAIR TABLE" always runs SingleUserOff at the end.
//
// Ownership: borrows everything in MaintenanceContext for the call. Threading: user-interface
// thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/dialogs.h"
#include "backup/restore/operation_view.h"
#include "i18n/messages.h"
#include "dal/dataset.h"

namespace orv::backup {

struct MaintenanceContext {
  ui::Dialogs& dialogs;
  OperationView& view;
  dal::Query& ADOQueryDetay;  // statements before the list, then the list itself
  dal::Query& ADOQueryIndex;  // one DBCC statement at a time
  // The database of the grid's current row (Veri_Tabani_Adi), read afresh by each routine.
  std::function<std::string()> database_name;
  const i18n::MessageStrings& strings;
};

// One table whose statement failed, with the server's text.
struct FailedTable {
  std::string table;
  std::string error;
};

struct MaintenanceResult {
  bool asked_yes = false;
  int rows = 0;        // rows of the table list
  int statements = 0;  // DBCC statements sent
  std::vector<FailedTable> failed;
};

// handled × 100 ÷ total rounded to the nearest integer, a tie to the even neighbour.
int ProgressPosition(int handled, int total);

// USE db; then the list (sp_tables) open on ADOQueryDetay.
void OpenTableList(MaintenanceContext& context);
// USE master; single-user on (sp_dboption, or ALTER DATABASE); USE db; checkpoint; list open.
void SingleUserOn(MaintenanceContext& context);
// The same with single-user off.
void SingleUserOff(MaintenanceContext& context);

// "REPAIR INDEX": REPAIRINDEX1Click.
MaintenanceResult RepairIndex(MaintenanceContext& context);
// "REPAIR TABLE": REPAIRTABLE1Click.
MaintenanceResult RepairTable(MaintenanceContext& context);

}  // namespace orv::backup
