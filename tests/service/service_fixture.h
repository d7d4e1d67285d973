// Shared by the service tests: a private installation (the shipped settings database, the local
// server engine registered in server.ini), databases on the server, schedule rows written
// through a settings store of the test's own (as another process would), and the run log read
// back as fields.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dal/connection.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "server/statement.h"
#include "settings/connection/server_connection.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"
#include "test_env.h"

namespace orv::service::testing {

namespace fs = std::filesystem;

inline dal::DateTime at(int y, int mo, int d, int h, int mi, int s = 0) {
  return dal::encode_date_time(dal::DateTimeParts{y, mo, d, h, mi, s, 0});
}

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env.home());
    fs::copy_file(orv::test::bin_dir() / "Velmora.db", env.home() / "Velmora.db");
    dal::register_sqlite_driver();
    server::register_server_driver();
    server::register_local_server(2, server::default_engine_folder());
    folder = (env.work() / "backups").string() + "/";
    store.Open(env.home());
    dal::Table& s = store.ADOTableSystem;
    s.edit();
    s.field("Temp_Dizini").set_string(folder);
    s.field("Ziple").set_string("False");
    s.field("CD_Yaz").set_string("False");
    s.post();
  }

  // A database on the server with one table, and its row in Database_List.
  void make_database(const std::string& name, int rows = 3) {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute("CREATE DATABASE " + server::quote_identifier(name));
    c.execute(server::use_statement(name));
    c.execute("CREATE TABLE t (a INTEGER, b TEXT)");
    for (int i = 0; i < rows; ++i) c.execute("INSERT INTO t VALUES (" + std::to_string(i) + ", 'row')");
    c.close();
    add_row(name);
  }
  void add_row(const std::string& name) {
    dal::Table& t = store.ADOTableDatabase;
    t.append();
    t.field("Veri_Tabani_Adi").set_string(name);
    t.post();
  }
  void schedule(const std::string& name, int day_index, int hour, int minute, bool zip = false) {
    dal::Table& t = store.ADOTableDatabase;
    ASSERT_TRUE(t.locate("Veri_Tabani_Adi", name));
    const settings::DayColumns& d = settings::day_columns(day_index);
    t.edit();
    t.field(d.time).set_date_time(dal::encode_time(hour, minute));
    t.field(d.flag).set_string("True");
    t.field(d.zip).set_string(settings::yes_no(zip));
    t.field(d.disc).set_string("False");
    t.post();
  }

  fs::path log_file() const { return env.config() / "orvakell" / "backup-runs.log"; }
  // The run log, one vector of fields per line.
  std::vector<std::vector<std::string>> log_fields() const {
    std::vector<std::vector<std::string>> out;
    if (!fs::exists(log_file())) return out;
    const std::string all = orv::test::read_file(log_file());
    std::vector<std::string> fields(1);
    for (char c : all) {
      if (c == '\n') {
        out.push_back(fields);
        fields.assign(1, "");
      } else if (c == '\t') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    return out;
  }
  // Lines of how/database/outcome.
  int count(const std::string& how, const std::string& database, const std::string& outcome) const {
    int n = 0;
    for (const auto& f : log_fields())
      n += f.size() > 4 && f[1] == how && f[2] == database && f[4] == outcome;
    return n;
  }

  orv::test::TestEnv env;
  settings::SettingsStore store;
  std::string folder;
};

}  // namespace orv::service::testing
