// orvakell-server: serves the local server engine to SQL Server clients (FreeTDS's tsql, isql,
// the ODBC driver) over TDS 7.4.
//
//   orvakell-server [--listen ADDRESS:PORT] [--data FOLDER] [--login-mode 1|2] [--compat 2000|2012]
//
// Defaults come from the server configuration file (server.ini: DataFolder, LoginMode,
// Compatibility) and 127.0.0.1:1433. Port 0 picks a free port. Once listening it prints
// "listening on ADDRESS:PORT" on standard output; it runs until SIGINT or SIGTERM. Log lines
// (refused logins, malformed requests) go to standard error. Exit status 2 on a usage error,
// 1 when the engine or the socket cannot be opened.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "server/engine.h"
#include "server/server_config.h"
#include "server/tds/tds_listener.h"

namespace {

int usage(const std::string& message) {
  std::cerr << "orvakell-server: " << message << "\n"
            << "usage: orvakell-server [--listen ADDRESS:PORT] [--data FOLDER] [--login-mode 1|2] "
               "[--compat 2000|2012]\n";
  return 2;
}

bool to_int(const std::string& text, int& out) {
  try {
    std::size_t used = 0;
    out = std::stoi(text, &used);
    return used == text.size();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  orv::server::EngineOptions engine;
  orv::server::tds::ListenerOptions listen;
  listen.port = 1433;
  try {
    if (auto config = orv::server::load_server_config()) {
      if (!config->data_folder.empty()) engine.root = config->data_folder;
      int mode = 2;
      if (to_int(config->login_mode, mode)) engine.login_mode = mode;
      engine.modern = config->modern;
    }
  } catch (const std::exception& err) {
    std::cerr << "orvakell-server: " << err.what() << "\n";
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (arg == "--listen") {
      std::string v = value();
      auto colon = v.rfind(':');
      if (colon == std::string::npos || !to_int(v.substr(colon + 1), listen.port) || listen.port < 0 ||
          listen.port > 65535)
        return usage("--listen wants ADDRESS:PORT");
      listen.address = v.substr(0, colon);
      if (listen.address.size() > 2 && listen.address.front() == '[' && listen.address.back() == ']')
        listen.address = listen.address.substr(1, listen.address.size() - 2);
    } else if (arg == "--data") {
      engine.root = value();
      if (engine.root.empty()) return usage("--data wants a folder");
    } else if (arg == "--login-mode") {
      if (!to_int(value(), engine.login_mode) || (engine.login_mode != 1 && engine.login_mode != 2))
        return usage("--login-mode wants 1 or 2");
    } else if (arg == "--compat") {
      std::string v = value();
      if (v != "2000" && v != "2012") return usage("--compat wants 2000 or 2012");
      engine.modern = v == "2012";
    } else {
      return usage("unknown argument " + arg);
    }
  }
  if (engine.root.empty()) engine.root = orv::server::default_engine_folder();

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // every thread started below inherits the mask
  try {
    auto e = orv::server::Engine::open(engine);
    orv::server::tds::Listener listener(e, listen);
    listener.start();
    std::cout << "listening on " << listen.address << ":" << listener.port() << std::endl;
    int got = 0;
    sigwait(&signals, &got);
    listener.stop();
  } catch (const std::exception& err) {
    std::cerr << "orvakell-server: " << err.what() << "\n";
    return 1;
  }
  return 0;
}
