// The "SQLOLEDB.1" provider: connects the tool's server connection strings to the registered
// database server (server_config.h) — the embedded engine (engine.h) or ODBC (odbc_backend.h).
//
//   orv::server::register_server_driver();             // once, at start-up
//   auto c = orv::dal::open_connection(orv::dal::ConnectionString(
//       "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=(local)"), {});
//   c->execute("sp_Databases", {});
//
// Data Source must name this machine ("(local)", ".", "localhost", 127.0.0.1 or the host
// name); the configuration file is read at every connect. Errors: dal::ProviderError with the
// server's or driver's text; with no server registered, the text SQL Server's provider gives
// for an unreachable server. Thread-safe.
#pragma once

namespace orv::server {

// Registers the provider under "SQLOLEDB.1" (and "SQLOLEDB"). Idempotent.
void register_server_driver();

}  // namespace orv::server
