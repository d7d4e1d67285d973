// Small RAII helpers over the sqlite3 C API used by the engine (catalog and databases).
// Errors throw dal::ProviderError with SQLite's own message. Not thread-safe per object.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "dal/driver.h"

namespace orv::server {

class SqliteDb {
 public:
  SqliteDb() = default;
  // Opens a database file with the given SQLITE_OPEN_* flags; throws on failure.
  SqliteDb(const std::string& path, int flags);
  ~SqliteDb();
  SqliteDb(SqliteDb&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  SqliteDb& operator=(SqliteDb&& other) noexcept;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  sqlite3* get() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }
  void close();
  // Runs statements without results; throws with SQLite's message.
  void exec(const std::string& sql);
  [[noreturn]] void fail() const;

 private:
  sqlite3* db_ = nullptr;
};

class SqliteStmt {
 public:
  SqliteStmt(const SqliteDb& db, std::string_view sql);
  ~SqliteStmt();
  SqliteStmt(const SqliteStmt&) = delete;
  SqliteStmt& operator=(const SqliteStmt&) = delete;

  SqliteStmt& bind(int index, const std::string& text);
  SqliteStmt& bind(int index, long long value);
  // true while a row is there; throws on error.
  bool step();
  std::string text(int column) const;
  long long integer(int column) const;
  bool is_null(int column) const;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  const SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace orv::server
