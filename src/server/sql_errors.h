// The engine's SQL dialect at its edge with SQLite: N'...' literals read as plain ones, and
// SQLite's errors reported with SQL Server's message numbers and texts where one exists
// (208 invalid object, 207 invalid column, 102 syntax, 2627 duplicate key, 515 NULL into a
// NOT NULL column). Pure functions; safe from any thread.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace orv::server {

// The statement with the N of every N'...' literal removed (quoted identifiers, comments and
// literals themselves left alone).
std::string strip_national_prefix(std::string_view sql);

// Throws dal::ProviderError for the last error of `db`: SQL Server's number and text when the
// error has one, SQLite's text and extended code otherwise. `database` names the current
// database in the 515 text.
[[noreturn]] void raise_sqlite_error(sqlite3* db, const std::string& database);

// The same mapping for a message and SQLite extended code.
void map_sqlite_error(const std::string& message, int code, const std::string& database, int& number,
                      std::string& text);

}  // namespace orv::server
