// Settings databases for the window's tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orv::test {

struct LanguageRow {
  std::string key, english, language;
  bool null_language = false;
};

// Creates (or replaces) a database file holding only Language_Tbl with the given rows.
void create_language_db(const std::filesystem::path& file, const std::vector<LanguageRow>& rows);

// Copies the shipped settings database (build/bin/Velmora.db) to folder/Velmora.db and returns
// the copy's path. Throws when the shipped file is missing.
std::filesystem::path install_shipped_settings(const std::filesystem::path& folder);

// Runs SQL on a database file (throws with SQLite's text on failure).
void sql_exec(const std::filesystem::path& file, const std::string& sql);
// The first column of every row of a query, as text ("" for NULL).
std::vector<std::string> sql_column(const std::filesystem::path& file, const std::string& sql);

// "Provider=SQLite;Data Source=<file>"
std::string sqlite_connection_string(const std::filesystem::path& file);

}  // namespace orv::test
