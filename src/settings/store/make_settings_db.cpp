// Build tool: makes the shipped settings database from its SQL script.
//
//   orv_make_settings_db <script.sql> <Velmora.db>
//
// An existing database file is never touched (it holds the operator's schedule). The new file
// is written beside the target under a temporary name and linked into place only when the
// whole script ran, so a failed script leaves no half-made database.
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: orv_make_settings_db <script.sql> <database>\n";
    return 2;
  }
  const fs::path script = argv[1];
  const fs::path target = argv[2];
  std::error_code ec;
  if (fs::exists(target, ec)) return 0;

  std::ifstream in(script, std::ios::binary);
  if (!in) {
    std::cerr << "orv_make_settings_db: cannot read " << script << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();

  fs::create_directories(target.parent_path(), ec);
  const fs::path temp = target.string() + ".new-" + std::to_string(getpid());
  fs::remove(temp, ec);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  char* error = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, text.str().c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : (rc == SQLITE_OK ? "" : sqlite3_errmsg(db));
  sqlite3_free(error);
  if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK) {
    rc = SQLITE_ERROR;
    message = "cannot close the new database";
  }
  if (rc != SQLITE_OK) {
    fs::remove(temp, ec);
    std::cerr << "orv_make_settings_db: " << script << ": " << message << "\n";
    return 1;
  }
  // link() fails when the target appeared meanwhile: the existing file wins.
  if (link(temp.c_str(), target.c_str()) != 0 && errno != EEXIST) {
    std::cerr << "orv_make_settings_db: cannot create " << target << ": " << std::strerror(errno) << "\n";
    fs::remove(temp, ec);
    return 1;
  }
  fs::remove(temp, ec);
  std::cout << "Made " << target.string() << " from " << script.string() << "\n";
  return 0;
}
