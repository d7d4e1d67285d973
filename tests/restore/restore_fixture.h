// Shared by the restore and maintenance tests: the local server engine in the test's private
// folders, reached through "SQLOLEDB.1" as the tool reaches it, with every statement the tool
// sends recorded (and selected ones made to fail); a recording OperationView; message strings
// that read as their own keys; an archiver wired to the build's zip engine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/scripted_dialogs.h"
#include "backup/restore/operation_view.h"
#include "i18n/messages.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "server/statement.h"
#include "dal/connection.h"
#include "dal/dataset.h"
#include "dal/datetime.h"
#include "test_env.h"
#include "tds_route.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::backup::testing {

// Statements as the server received them, in order, while `recording` is set.
struct StatementLog {
  bool recording = false;
  std::vector<std::string> statements;
  std::string fail_containing;  // a statement holding this text fails (empty: none)
  int failures = 0;
  // When set, the TABLE_TYPE "TABLE" of every row a statement returns reads as this text (a
  // server that spells the type otherwise).
  std::string table_type_as;
};

inline StatementLog*& active_log() {
  static StatementLog* log = nullptr;
  return log;
}

class RecordingConnection final : public dal::Connection {
 public:
  explicit RecordingConnection(std::unique_ptr<dal::Connection> inner) : inner_(std::move(inner)) {}
  dal::ResultSet execute(std::string_view sql, const std::vector<dal::Param>& params) override {
    note(sql);
    return respelled(inner_->execute(sql, params));
  }
  dal::ResultSet call_procedure(std::string_view name) override {
    note(name);
    return respelled(inner_->call_procedure(name));
  }
  void set_command_timeout(std::chrono::seconds timeout) override { inner_->set_command_timeout(timeout); }
  bool cancel() override { return inner_->cancel(); }

 private:
  static dal::ResultSet respelled(dal::ResultSet r) {
    StatementLog* log = active_log();
    if (!log || log->table_type_as.empty()) return r;
    for (std::size_t c = 0; c < r.columns.size(); ++c) {
      if (r.columns[c].name != "TABLE_TYPE") continue;
      for (auto& row : r.rows)
        if (row[c] == dal::Value(std::string("TABLE"))) row[c] = log->table_type_as;
    }
    return r;
  }
  void note(std::string_view sql) {
    StatementLog* log = active_log();
    if (!log || !log->recording) return;
    log->statements.emplace_back(sql);
    if (!log->fail_containing.empty() && sql.find(log->fail_containing) != std::string_view::npos) {
      ++log->failures;
      throw dal::ProviderError("Injected failure of: " + std::string(sql), 50000);
    }
  }
  std::unique_ptr<dal::Connection> inner_;
};

class RecordingDriver final : public dal::Driver {
 public:
  explicit RecordingDriver(std::shared_ptr<dal::Driver> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<dal::Connection> connect(const dal::ConnectionString& cs, const dal::ConnectOptions& o) override {
    return std::make_unique<RecordingConnection>(inner_->connect(cs, o));
  }

 private:
  std::shared_ptr<dal::Driver> inner_;
};

inline const char* const kWindowsLogin =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)";

// What the window would have shown, in order.
class RecordingView final : public OperationView {
 public:
  void SetLabel10(const std::string& text) override {
    label10 = text;
    events.push_back("Label10=" + text);
  }
  void SetLabel11(const std::string& text) override {
    label11 = text;
    events.push_back("Label11=" + text);
  }
  void SetTimer2(bool enabled) override {
    timer2 = enabled;
    events.push_back(enabled ? "Timer2 on" : "Timer2 off");
  }
  void RepaintMain() override { ++main_repaints; }
  void OpenProgress() override {
    EXPECT_FALSE(progress_open) << "a second progress window";
    progress_open = true;
    ++progress_opened;
    events.push_back("progress open");
  }
  void CloseProgress() override {
    if (progress_open) events.push_back("progress close");
    progress_open = false;
  }
  void SetProgressPosition(int position) override {
    EXPECT_TRUE(progress_open) << "bar moved without a progress window";
    positions.push_back(position);
  }
  bool ConfirmRestore(const std::string& database, const std::string& backup_time) override {
    confirmed_database = database;
    confirmed_time = backup_time;
    ++confirmations;
    events.push_back("confirm " + database);
    return confirm_answer;
  }
  std::string DateTimeText(dal::DateTime value, bool with_time) override {
    std::string text = dal::format_date_time(value);
    return with_time ? text : text.substr(0, 10);
  }

  std::vector<std::string> events;
  std::string label10 = "not cleared", label11 = "not cleared";
  bool timer2 = true;
  int main_repaints = 0;
  bool progress_open = false;
  int progress_opened = 0;
  std::vector<int> positions;
  bool confirm_answer = true;
  int confirmations = 0;
  std::string confirmed_database, confirmed_time;
};

// Every message string reads as its key, so a box shows which string it used.
inline i18n::MessageStrings key_strings() {
  i18n::MessageStrings s;
  for (const auto& k : i18n::kMessageKeys) s.*k.field = std::string(k.key);
  return s;
}

// The local engine registered as the machine's server, and the tool's server connection.
struct ServerFixture {
  explicit ServerFixture(bool modern = false) {
    std::filesystem::create_directories(env.work());
    server::register_local_server(2, server::default_engine_folder(), modern);
    if (orv::test::tds_route_wanted()) {
      // The same suite through FreeTDS and the TDS listener, with a SQL login.
      route = std::make_unique<orv::test::TdsRoute>(modern);
      login = "Provider=SQLOLEDB.1;Password=\"" + std::string(orv::test::TdsRoute::kPassword) +
              "\";Persist Security Info=False;User ID=" + orv::test::TdsRoute::kUser + ";Data Source=(local)";
    }
    server::register_server_driver();
    auto real = dal::find_driver("SQLOLEDB.1");
    if (!std::dynamic_pointer_cast<RecordingDriver>(real)) {
      auto wrapped = std::make_shared<RecordingDriver>(real);
      dal::register_driver("SQLOLEDB.1", wrapped);
      dal::register_driver("SQLOLEDB", wrapped);
    }
    active_log() = &log;
    sqlc.set_command_timeout(std::chrono::seconds(2100000000));
    sqlc.open(login);
  }
  ~ServerFixture() { active_log() = nullptr; }

  void exec(const std::string& sql) { sqlc.execute(sql); }

  // One column of a table, read on a connection of its own that is closed again.
  std::vector<std::string> column(const std::string& database, const std::string& table, const std::string& col) {
    const bool was = log.recording;
    log.recording = false;
    dal::DataConnection c;
    c.open(login);
    c.execute(server::use_statement(database));
    dal::Query q(c);
    q.set_sql({"SELECT " + col + " FROM " + server::quote_identifier(table) + " ORDER BY 1"});
    q.open();
    std::vector<std::string> values;
    for (q.first(); !q.eof(); q.next()) values.push_back(q.field(col).as_string());
    q.close();
    c.close();
    log.recording = was;
    return values;
  }

  bool sent(const std::string& part) const {
    for (const auto& s : log.statements)
      if (s.find(part) != std::string::npos) return true;
    return false;
  }

  orv::test::TestEnv env;
  std::string login = kWindowsLogin;
  std::unique_ptr<orv::test::TdsRoute> route;
  StatementLog log;
  dal::DataConnection sqlc;
};

// An archiver as the window sets it up, using the zip engine of this build.
inline void wire_archiver(zip::TZipArchiver& zip) {
  zip.DLLDirectory = orv::test::bin_dir().string();
  zip.Unattended = true;
}

}  // namespace orv::backup::testing
