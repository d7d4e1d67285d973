// A TDS 7.4 listener in front of the local server engine (engine.h): SQL Server clients (the
// FreeTDS ODBC driver, tsql, isql) log in with the engine's SQL logins and run statements on
// engine sessions.
//
//   auto engine = orv::server::Engine::open({.root = folder});
//   orv::server::tds::Listener listener(engine, {});   // 127.0.0.1, a free port
//   listener.start();                                  // accepts on a thread of its own
//   ... listener.port() ...
//
// Protocol: PRELOGIN (encryption is never offered; a client that requires it is refused with
// a message), LOGIN7 (SQL logins; the engine's LoginMode rules, 18456/18452), SQL batches
// (statements split at ";"), the RPCs sp_executesql, sp_prepare, sp_execute, sp_prepexec,
// sp_unprepare, and ATTENTION. Results go as COLMETADATA/ROW/DONE with row counts, the
// engine's errors and informational messages as ERROR/INFO tokens with their numbers.
// String literals without N are read as a cp1252 server reads them.
//
// Bounds: packet size, request size and open connections (ListenerOptions). A malformed
// request closes its own connection with a log line; other connections go on.
// Threading: one thread accepts; each connection has a thread (and one more while a request
// runs, so that an ATTENTION can stop it). stop() (or the destructor) closes everything.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "server/engine.h"

namespace orv::server::tds {

struct ListenerOptions {
  std::string address = "127.0.0.1";  // loopback unless the configuration names another address
  int port = 0;                       // 0 = a free port (see port())
  std::size_t max_connections = 64;
  std::size_t max_packet_size = 32767;
  std::size_t max_request_bytes = 16u << 20;
  int login_seconds = 60;  // time a client has to complete its login
  std::function<void(const std::string&)> log;  // default: standard error
};

class Listener {
 public:
  // Binds and listens; throws std::system_error (with the address) when that fails.
  Listener(std::shared_ptr<Engine> engine, ListenerOptions options);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int port() const;
  void start();
  void stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace orv::server::tds
