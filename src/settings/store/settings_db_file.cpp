#include "settings/store/settings_db_file.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/file_write.h"

namespace orv::settings {

namespace fs = std::filesystem;

SettingsDbResult make_settings_db(const fs::path& script, const fs::path& target) {
  using Outcome = SettingsDbResult::Outcome;
  std::error_code ec;
  if (fs::exists(target, ec)) return {Outcome::AlreadyThere, {}};

  std::ifstream in(script, std::ios::binary);
  if (!in) return {Outcome::Failed, "cannot read " + script.string() + ": " + std::strerror(errno)};
  std::stringstream text;
  text << in.rdbuf();

  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const fs::path temp = target.string() + ".new-" + std::to_string(::getpid());
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
    return {Outcome::Failed, script.string() + ": " + message};
  }
  // link() fails when the target appeared meanwhile: the existing file wins.
  if (platform::io::link(temp.c_str(), target.c_str()) != 0 && errno != EEXIST) {
    const int e = errno;
    fs::remove(temp, ec);
    return {Outcome::Failed, "cannot create " + target.string() + ": " + std::strerror(e)};
  }
  fs::remove(temp, ec);
  return {Outcome::Made, {}};
}

}  // namespace orv::settings
