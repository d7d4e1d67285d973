// Benchmark: a full backup of a large database by the local engine against `cp` of the same
// database file, side by side, warm cache, best of several alternating runs. Prints both
// times and their ratio (aim: backup <= 1.25 x cp). The backup syncs its file to disk before it
// reports success, so `cp` followed by `sync` of the copy is printed as a second peer.
// The run's check of each new backup file (RESTORE VERIFYONLY ... WITH CHECKSUM on the file just
// written) is timed against the backup WITH CHECKSUM that wrote it (aim: verify <= 0.5 x backup).
//
//   bench_server_backup [size-MiB=1024] [work-folder=$TMPDIR]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>

#include "server/engine.h"
#include "server/statement.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_of(const std::function<void()>& work) {
  auto t0 = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void shell(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("failed: " + cmd);
}

}  // namespace

int main(int argc, char** argv) {
  long mib = argc > 1 ? std::atol(argv[1]) : 1024;
  fs::path base = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  fs::path work = base / ("orvakell-bench-server-" + std::to_string(::getpid()));
  try {
    fs::create_directories(work);
    orv::server::EngineOptions o;
    o.root = work / "server";
    auto engine = orv::server::Engine::open(o);
    orv::server::LoginRequest login;
    login.integrated = true;
    auto c = engine->connect(login);
    c->execute("CREATE DATABASE Big", {});
    c->execute("USE Big", {});
    c->execute("CREATE TABLE t(id INTEGER PRIMARY KEY, payload BLOB)", {});
    long rows = mib * 1024 / 4;  // 4 KiB rows
    std::cout << "making a " << mib << " MiB database..." << std::flush;
    c->execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
                   ") INSERT INTO t(payload) SELECT randomblob(4000) FROM n",
               {});
    c->execute("USE master", {});
    fs::path data = work / "server" / "data" / "Big.sqlite";
    std::cout << " " << fs::file_size(data) / (1024 * 1024) << " MiB\n";

    fs::path copy = work / "copy.sqlite";
    fs::path bak = work / "Big.Dat";
    double best_cp = 1e9, best_cp_sync = 1e9, best_backup = 1e9, best_checked = 1e9, best_verify = 1e9;
    // Each measurement starts with no dirty pages left by the one before (untimed sync).
    for (int run = 0; run < 3; ++run) {
      fs::remove(copy);
      shell("sync");
      best_cp = std::min(best_cp, seconds_of([&] { shell("cp " + q(data) + " " + q(copy)); }));
      fs::remove(copy);
      shell("sync");
      best_cp_sync = std::min(best_cp_sync, seconds_of([&] { shell("cp " + q(data) + " " + q(copy) + " && sync " + q(copy)); }));
      fs::remove(copy);
      fs::remove(bak);
      shell("sync");
      best_backup = std::min(best_backup, seconds_of([&] { c->execute(orv::server::backup_statement("Big", bak.string()), {}); }));
      fs::remove(bak);
      shell("sync");
      best_checked = std::min(best_checked, seconds_of([&] {
                                c->execute(orv::server::backup_statement("Big", bak.string(), true), {});
                              }));
      // As in a run: the file the backup has just written, still in the page cache.
      best_verify = std::min(best_verify, seconds_of([&] {
                               c->execute(orv::server::restore_verifyonly_statement(bak.string(), true), {});
                             }));
    }
    std::printf("cp               %8.3f s\n", best_cp);
    std::printf("cp + sync        %8.3f s\n", best_cp_sync);
    std::printf("Backup database  %8.3f s\n", best_backup);
    std::printf("ratio backup / cp        %.2fx (aim <= 1.25x)\n", best_backup / best_cp);
    std::printf("ratio backup / cp + sync %.2fx\n", best_backup / best_cp_sync);
    std::printf("Backup WITH CHECKSUM     %8.3f s\n", best_checked);
    std::printf("RESTORE VERIFYONLY       %8.3f s\n", best_verify);
    std::printf("ratio verify / backup    %.2fx (aim <= 0.5x)\n", best_verify / best_checked);
    c.reset();
    fs::remove_all(work);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "bench_server_backup: " << e.what() << "\n";
    fs::remove_all(work);
    return 1;
  }
}
