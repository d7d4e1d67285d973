#include "server/server_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "server/engine.h"
#include "server/odbc_backend.h"
#include "server/server_config.h"

namespace orv::server {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

const char* const kNoServer = "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.";

bool names_this_machine(const std::string& source) {
  std::string s = lower(source);
  if (s == "(local)" || s == "." || s == "localhost" || s == "127.0.0.1" || s == "(local)\\mssqlserver") return true;
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 && s == lower(host);
}

class ServerDriver : public dal::Driver {
 public:
  std::unique_ptr<dal::Connection> connect(const dal::ConnectionString& cs, const dal::ConnectOptions& options) override {
    auto config = load_server_config();
    if (!config || !names_this_machine(cs.get("Data Source"))) throw dal::ProviderError(kNoServer, 17);
    if (config->backend == ServerConfig::Backend::Odbc) {
      auto c = odbc_connect(odbc_connection_string(cs, config->odbc), options, odbc_database_after_login(cs, config->odbc));
      return c;
    }
    EngineOptions eo;
    eo.root = config->data_folder;
    eo.login_mode = config->login_mode == "1" ? 1 : 2;
    eo.modern = config->modern;
    auto engine = Engine::open(eo);
    LoginRequest login;
    std::string integrated = lower(cs.get("Integrated Security"));
    login.integrated = integrated == "sspi" || integrated == "true" || integrated == "yes";
    login.user = cs.get("User ID");
    login.password = cs.get("Password");
    login.database = cs.has("Initial Catalog") ? cs.get("Initial Catalog") : cs.get("Database");
    auto c = engine->connect(login);
    c->set_command_timeout(options.command_timeout);
    return c;
  }
};

}  // namespace

void register_server_driver() {
  auto driver = std::make_shared<ServerDriver>();
  dal::register_driver("SQLOLEDB.1", driver);
  dal::register_driver("SQLOLEDB", driver);
}

}  // namespace orv::server
