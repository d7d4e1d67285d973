// A private installation for window tests: the shipped settings database in ORVAKELL_HOME and,
// on request, a registered database server (the local engine with some databases, or an ODBC
// server that cannot be reached).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server/engine.h"
#include "server/server_config.h"
#include "settings_fixture.h"
#include "test_env.h"

namespace orv::test {

struct Installation {
  TestEnv env;
  std::filesystem::path settings;  // ORVAKELL_HOME/Velmora.db ("" when not installed)

  // The disc layer is the virtual recorder with no drive configured: it is found in the current
  // folder first, so the window's disc panel starts as on a machine with the tool installed.
  explicit Installation(bool with_settings = true) : old_cwd_(std::filesystem::current_path()) {
    if (with_settings) settings = install_shipped_settings(env.home());
    write_file(env.work() / "recorders.conf", "");
    ::setenv("ORVAKELL_VRECORDER", (env.work() / "recorders.conf").c_str(), 1);
    std::filesystem::current_path(bin_dir());
  }
  ~Installation() {
    std::filesystem::current_path(old_cwd_);
    ::unsetenv("ORVAKELL_VRECORDER");
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;
  // Registers the local engine and makes the named databases on it.
  void local_server(const std::vector<std::string>& databases, int login_mode = 2) {
    const auto root = env.data() / "server";
    server::register_local_server(login_mode, root);
    server::EngineOptions options;
    options.root = root;
    options.login_mode = login_mode;
    auto engine = server::Engine::open(options);
    server::LoginRequest login;
    login.integrated = true;
    auto session = engine->connect(login);
    for (const auto& name : databases) session->execute("CREATE DATABASE " + name, {});
  }
  // Registers a server whose connections always fail.
  void unreachable_server() { server::register_odbc_server(2, {{"Driver", "OrvakellNoSuchDriver"}}); }

  std::filesystem::path desktop_link() const { return env.root() / "desktop" / "orvakell.desktop"; }
  std::filesystem::path autostart_link() const { return env.config() / "autostart" / "orvakell.desktop"; }
  std::vector<std::string> database_names() const {
    return sql_column(settings, "SELECT Veri_Tabani_Adi FROM Database_List ORDER BY Veri_Tabani_Adi");
  }
  std::string system_value(const std::string& column) const {
    auto v = sql_column(settings, "SELECT " + column + " FROM System");
    return v.empty() ? std::string("<no row>") : v.front();
  }

 private:
  std::filesystem::path old_cwd_;
};

}  // namespace orv::test
