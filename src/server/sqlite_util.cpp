#include "server/sqlite_util.h"

namespace orv::server {

SqliteDb::SqliteDb(const std::string& path, int flags) {
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw dal::ProviderError(text, rc);
  }
  sqlite3_extended_result_codes(db_, 1);
}

SqliteDb::~SqliteDb() { close(); }

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
  if (this != &other) {
    close();
    db_ = other.db_;
    other.db_ = nullptr;
  }
  return *this;
}

void SqliteDb::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void SqliteDb::exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw dal::ProviderError(text, sqlite3_extended_errcode(db_));
  }
}

void SqliteDb::fail() const { throw dal::ProviderError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_)); }

SqliteStmt::SqliteStmt(const SqliteDb& db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
    db.fail();
}

SqliteStmt::~SqliteStmt() { sqlite3_finalize(stmt_); }

SqliteStmt& SqliteStmt::bind(int index, const std::string& text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    db_.fail();
  return *this;
}

SqliteStmt& SqliteStmt::bind(int index, long long value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) db_.fail();
  return *this;
}

bool SqliteStmt::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.fail();
}

std::string SqliteStmt::text(int column) const {
  const unsigned char* p = sqlite3_column_text(stmt_, column);
  int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

long long SqliteStmt::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

bool SqliteStmt::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

}  // namespace orv::server
