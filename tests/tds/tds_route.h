// The server route through FreeTDS for the suites of the tool: with ORV_TEST_SERVER_ROUTE=tds a
// fixture starts a TDS listener on the engine folder the Local registration would use,
// registers the ODBC back end with the real FreeTDS driver (private odbcinst.ini) pointing at
// it, and connects with a SQL login instead of integrated security (which FreeTDS can only do
// with Kerberos).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "server/engine.h"
#include "server/server_config.h"
#include "server/statement.h"
#include "server/tds/tds_listener.h"
#include "test_env.h"

namespace orv::test {

inline bool tds_route_wanted() {
  const char* r = std::getenv("ORV_TEST_SERVER_ROUTE");
  return r && std::string(r) == "tds";
}

class TdsRoute {
 public:
  static constexpr const char* kUser = "orv_route";
  static constexpr const char* kPassword = "R0ute;p}w";

  explicit TdsRoute(bool modern = false) {
    // One place per build for the whole process: unixODBC keeps what it read of odbcinst.ini,
    // so the file must outlive each test's private folder.
    std::filesystem::path odbc = bin_dir().parent_path() / "tests" / "tds-odbc";
    std::filesystem::create_directories(odbc);
    write_file(odbc / "odbcinst.ini", "[FreeTDS]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so\n");
    write_file(odbc / "freetds.conf", "[global]\n");
    setenv("ODBCSYSINI", odbc.c_str(), 1);
    setenv("FREETDSCONF", (odbc / "freetds.conf").c_str(), 1);
    server::EngineOptions o;
    o.root = server::default_engine_folder();
    o.modern = modern;
    engine_ = server::Engine::open(o);
    server::LoginRequest admin;
    admin.integrated = true;
    auto c = engine_->connect(admin);
    c->execute("CREATE LOGIN " + server::quote_identifier(kUser) + " WITH PASSWORD=" + server::quote_literal(kPassword),
               {});
    listener_ = std::make_unique<server::tds::Listener>(engine_, server::tds::ListenerOptions{});
    listener_->start();
    server::register_odbc_server(2, {{"Driver", "FreeTDS"},
                                     {"Server", "127.0.0.1"},
                                     {"Port", std::to_string(listener_->port())},
                                     {"TDS_Version", "7.4"}});
  }
  ~TdsRoute() { listener_.reset(); }

 private:
  std::shared_ptr<server::Engine> engine_;
  std::unique_ptr<server::tds::Listener> listener_;
};

}  // namespace orv::test
