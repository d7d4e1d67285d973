// The server configuration file: which database server is registered on this machine, how the
// tool reaches it and its login mode — what the SQL Server registry keys hold on Windows.
//
//   $XDG_CONFIG_HOME/orvakell/server.ini
//   [MSSQLServer]
//   LoginMode=2            1 = Windows (Unix account) authentication only, 2 = mixed
//   Backend=Local          Local (the embedded engine) or ODBC
//   DataFolder=...         Local: the engine's folder (default $XDG_DATA_HOME/orvakell/server)
//   Compatibility=2000     Local: 2012 makes the engine behave like SQL Server 2012+ (no sp_dboption)
//   [ODBC]
//   Driver=FreeTDS         ODBC: the driver name of odbcinst.ini, then any further keywords
//   Server=127.0.0.1       (Server, Port, TDS_Version, Database, ...) passed on to the driver
//
// No file, or no [MSSQLServer] section, means no server is registered.
// Functions read the file afresh on each call; safe from any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::server {

struct ServerConfig {
  enum class Backend { Local, Odbc };
  Backend backend = Backend::Local;
  std::string login_mode;  // the LoginMode text as written
  std::filesystem::path data_folder;
  bool modern = false;
  std::vector<std::pair<std::string, std::string>> odbc;  // [ODBC] keys in file order
};

std::filesystem::path server_config_file();
std::filesystem::path default_engine_folder();

// The registered server, or nullopt when nothing is registered. Relative DataFolder values
// are taken from the configuration folder.
std::optional<ServerConfig> load_server_config();

// The server check: the LoginMode as decimal text, or "100" when no server is registered or
// the file cannot be read. Throws std::runtime_error when a server is registered but its
// LoginMode is missing or not an integer.
std::string read_login_mode();

// Registers the embedded engine (keeps an existing [ODBC] section). Throws std::runtime_error
// when the file cannot be written.
void register_local_server(int login_mode, const std::filesystem::path& data_folder, bool modern = false);

// Registers an ODBC server with its driver keywords (Driver first).
void register_odbc_server(int login_mode, const std::vector<std::pair<std::string, std::string>>& keywords);

}  // namespace orv::server
