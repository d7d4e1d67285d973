#include "backup/restore/test_restore.h"

#include <algorithm>
#include <utility>

#include "server/statement.h"

namespace orv::backup {

namespace {

void Exec(dal::Query& q, const std::string& sql) {
  q.close();
  q.set_sql({sql});
  (void)q.exec_sql();
}

bool SameText(std::string a, std::string b) {
  auto low = [](std::string& s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  };
  low(a);
  low(b);
  return a == b;
}

bool ServerHas(dal::Query& q, const std::string& database) {
  q.close();
  q.set_sql({"sp_databases"});
  q.open();
  bool found = false;
  for (q.first(); !q.eof(); q.next()) found = found || SameText(q.field("DATABASE_NAME").as_string(), database);
  q.close();
  return found;
}

// The folder part of a path ("" when none) and the bare name.
std::pair<std::string, std::string> Split(const std::string& path) {
  const auto cut = path.find_last_of("/\\");
  if (cut == std::string::npos) return {"", path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

}  // namespace

std::string ScratchDatabaseName(dal::Query& query, const std::string& database) {
  for (int n = 1;; ++n) {
    std::string name = database + "_verify_" + std::to_string(n);
    if (!ServerHas(query, name)) return name;
  }
}

std::vector<std::string> UserTables(dal::Query& q, const std::string& database) {
  Exec(q, server::use_statement(database));
  q.close();
  q.set_sql({"sp_tables"});
  q.open();
  std::vector<std::string> tables;
  for (q.first(); !q.eof(); q.next())
    if (q.field("TABLE_TYPE").as_string() == "TABLE") tables.push_back(q.field("TABLE_NAME").as_string());
  q.close();
  Exec(q, server::use_statement("master"));
  std::sort(tables.begin(), tables.end());
  return tables;
}

TestRestoreOutcome TestRestore(dal::Query& q, const std::string& database, const std::string& backup_file) {
  TestRestoreOutcome out;
  bool restore_sent = false;
  try {
    Exec(q, server::use_statement("master"));
    out.scratch = ScratchDatabaseName(q, database);
    // Each recorded file goes beside itself as "<scratch>_<its name>".
    q.close();
    q.set_sql({server::restore_filelistonly_statement(backup_file)});
    q.open();
    std::vector<std::pair<std::string, std::string>> moves;
    for (q.first(); !q.eof(); q.next()) {
      const auto [folder, bare] = Split(q.field("PhysicalName").as_string());
      moves.emplace_back(q.field("LogicalName").as_string(), folder + out.scratch + "_" + bare);
    }
    q.close();
    restore_sent = true;
    Exec(q, server::restore_move_statement(out.scratch, backup_file, moves));
    Exec(q, server::checkdb_statement(out.scratch));
    const std::vector<std::string> live = UserTables(q, database);
    const std::vector<std::string> restored = UserTables(q, out.scratch);
    if (live != restored) {
      std::string missing, extra;
      for (const auto& t : live)
        if (!std::binary_search(restored.begin(), restored.end(), t)) missing += (missing.empty() ? "" : ", ") + t;
      for (const auto& t : restored)
        if (!std::binary_search(live.begin(), live.end(), t)) extra += (extra.empty() ? "" : ", ") + t;
      out.error = "The restored tables differ from the live database's:";
      if (!missing.empty()) out.error += " missing " + missing + ";";
      if (!extra.empty()) out.error += " not in the live database " + extra + ";";
      out.error.pop_back();
    } else {
      out.passed = true;
    }
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  // The scratch database goes whatever happened.
  if (restore_sent) {
    try {
      Exec(q, server::use_statement("master"));
      if (ServerHas(q, out.scratch)) Exec(q, server::drop_database_statement(out.scratch));
    } catch (const std::exception& e) {
      if (out.passed) throw;
      out.error += " (and the scratch database " + out.scratch + " could not be dropped: " + e.what() + ")";
    }
  }
  return out;
}

}  // namespace orv::backup
