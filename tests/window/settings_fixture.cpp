#include "settings_fixture.h"

#include <sqlite3.h>

#include <stdexcept>

#include "test_env.h"

namespace orv::test {

namespace {

struct Db {
  sqlite3* db = nullptr;
  explicit Db(const std::filesystem::path& file) {
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  ~Db() { sqlite3_close(db); }
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

void sql_exec(const std::filesystem::path& file, const std::string& sql) {
  Db d(file);
  char* error = nullptr;
  if (sqlite3_exec(d.db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "sqlite3_exec failed";
    sqlite3_free(error);
    throw std::runtime_error(text);
  }
}

std::vector<std::string> sql_column(const std::filesystem::path& file, const std::string& sql) {
  Db d(file);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(d.db));
  std::vector<std::string> out;
  while (sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
  }
  sqlite3_finalize(st);
  return out;
}

void create_language_db(const std::filesystem::path& file, const std::vector<LanguageRow>& rows) {
  std::filesystem::remove(file);
  std::string sql = "CREATE TABLE Language_Tbl (Degisken VARCHAR(150), English VARCHAR(255), Language VARCHAR(255));";
  for (const LanguageRow& r : rows) {
    sql += "INSERT INTO Language_Tbl VALUES (" + quoted(r.key) + "," + quoted(r.english) + "," +
           (r.null_language ? std::string("NULL") : quoted(r.language)) + ");";
  }
  sql_exec(file, sql);
}

std::filesystem::path install_shipped_settings(const std::filesystem::path& folder) {
  const auto shipped = bin_dir() / "Velmora.db";
  if (!std::filesystem::exists(shipped)) throw std::runtime_error("the shipped settings database is missing: " + shipped.string());
  std::filesystem::create_directories(folder);
  const auto copy = folder / "Velmora.db";
  std::filesystem::copy_file(shipped, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

std::string sqlite_connection_string(const std::filesystem::path& file) {
  return "Provider=SQLite;Data Source=" + file.string();
}

}  // namespace orv::test
