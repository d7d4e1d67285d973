// Test restore: proves a backup file restores and checks clean, without touching the live
// database. The backup is restored under a scratch name that does not exist on the server, its
// files moved beside the recorded ones under scratch names (RESTORE ... WITH MOVE); the whole
// scratch database is checked (DBCC CHECKDB); its list of tables is compared with the live
// database's; and the scratch database is dropped whatever happened (when the server has it).
// Every statement is built by server/statement.h.
//
// Threading: the caller's thread, on the caller's query (left in master). Errors: the outcome
// carries the server's text of the step that failed; nothing is thrown but what the final drop
// throws when the checks had passed.
#pragma once

#include <string>
#include <vector>

#include "dal/dataset.h"

namespace orv::backup {

struct TestRestoreOutcome {
  bool passed = false;
  std::string scratch;  // the scratch database's name
  std::string error;    // why it did not pass (the server's text, or the tables that differ)
};

// A name "<database>_verify_<n>" that no database on the server has (sp_databases).
std::string ScratchDatabaseName(dal::Query& query, const std::string& database);
// The user tables of `database` (sp_tables, TABLE_TYPE "TABLE"), sorted.
std::vector<std::string> UserTables(dal::Query& query, const std::string& database);

TestRestoreOutcome TestRestore(dal::Query& query, const std::string& database, const std::string& backup_file);

}  // namespace orv::backup
