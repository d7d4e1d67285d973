// Start-up of the window on a server with 1000 databases: the time from the window's
// construction to a grid holding every database, for the first start (every database is new to
// the settings database) and a later one (nothing new). Prints both and their ratio; the aim is
// a first start under one second. Runs on Qt's offscreen platform in a private installation.
//
//   bench_window_startup [DATABASES]
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/window/dataset_model.h"
#include "app/window/form_main.h"
#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "server/engine.h"
#include "server/server_config.h"

namespace fs = std::filesystem;

namespace {

double StartSeconds(int expected) {
  orv::ui::ScriptedDialogs dialogs;
  orv::ui::SystemClock clock;
  const auto start = std::chrono::steady_clock::now();
  orv::app::TFormMain w({&dialogs, &clock});
  w.show();
  while (w.DSDAtabase->rowCount() < expected) {
    QCoreApplication::processEvents();
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) {
      std::fprintf(stderr, "the grid holds %d of %d databases after 120 s\n", w.DSDAtabase->rowCount(), expected);
      std::exit(1);
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/orvakell-startup-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  for (const char* v : {"ORVAKELL_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR"}) {
    fs::create_directories(root / v);
    ::setenv(v, (root / v).c_str(), 1);
  }
  const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
  fs::copy_file(bin / "Velmora.db", root / "ORVAKELL_HOME" / "Velmora.db");

  // The server: the local engine with `count` databases.
  const fs::path data = root / "server";
  orv::server::register_local_server(2, data);
  {
    orv::server::EngineOptions options;
    options.root = data;
    auto engine = orv::server::Engine::open(options);
    orv::server::LoginRequest login;
    login.integrated = true;
    auto session = engine->connect(login);
    for (int i = 0; i < count; ++i) session->execute("CREATE DATABASE [Company " + std::to_string(i) + "]", {});
  }

  QApplication app(argc, argv);
  const double first = StartSeconds(count);
  const double later = StartSeconds(count);
  std::printf("window start with %d databases: first %.3f s, later %.3f s, first/later %.2fx (aim: first < 1 s)\n",
              count, first, later, first / later);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
